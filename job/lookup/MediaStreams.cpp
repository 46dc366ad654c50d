#include "job/lookup/MediaStreams.h"

#include "core/StrUtils.h"
#include "job/lookup/LookupTexts.h"
#include "job/lookup/RecordTexts.h"

namespace tarnwick {

std::string AddressProtocol(std::string_view address) {
    const std::size_t end = address.find("://");
    if (end == std::string_view::npos || end == 0) return {};
    const std::string_view scheme = address.substr(0, end);
    for (const char c : scheme) {
        const char low = LowCase(c);
        if (!(low >= 'a' && low <= 'z') && !(c >= '0' && c <= '9') && c != '+' && c != '-' &&
            c != '.')
            return {};
    }
    return LowerCase(scheme);
}

TRequestHeaders RecordRequestHeaders(const TLookupRecord& record) {
    TRequestHeaders headers;
    const std::pair<std::string_view, std::string_view> named[] = {
        {"Referer", kRefererEntry}, {"User-Agent", kUserAgentEntry}, {"Cookie", kCookieEntry}};
    for (const auto& [header, entry] : named) {
        std::string value = OneLineText(record.Values(entry));
        if (!value.empty()) headers.emplace_back(header, std::move(value));
    }
    return headers;
}

std::vector<TMediaStream> MediaStreams(const TLookupRecord& record) {
    std::string address = record.Values("url");
    if (address.empty()) return {};
    TMediaStream stream;
    stream.protocol = AddressProtocol(address);
    stream.address = std::move(address);
    stream.kind = TStreamKind::Both;
    stream.headers = RecordRequestHeaders(record);
    return {std::move(stream)};
}

}  // namespace tarnwick
