#include "job/lookup/MediaStreams.h"

#include <charconv>
#include <optional>

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

std::optional<TByteRange> ReadFragmentRange(std::string_view text) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    std::uint64_t first = 0, last = 0;
    const auto [firstEnd, firstError] = std::from_chars(text.data(), text.data() + dash, first);
    const auto [lastEnd, lastError] =
        std::from_chars(text.data() + dash + 1, text.data() + text.size(), last);
    if (firstError != std::errc() || lastError != std::errc() || firstEnd != text.data() + dash ||
        lastEnd != text.data() + text.size() || dash == 0 || dash + 1 == text.size() ||
        last < first || last >= kMaxStreamByteOffset)
        return std::nullopt;
    return TByteRange{first, last - first + 1};
}

namespace {

// The fragments of entry, in order; none at all when one of them is not usable or there are too
// many, since a stream with a fragment left out would be saved with a hole.
std::vector<TStreamFragment> RecordFragments(const TLookupRecord& record, std::string_view entry) {
    std::vector<TStreamFragment> fragments;
    for (std::size_t index = 0; index < record.Count(); ++index) {
        if (!SameText(record.Name(index), entry)) continue;
        const std::string_view value = record.Value(index);
        const std::size_t space = value.find(' ');
        TStreamFragment fragment;
        fragment.address = OneLineText(value.substr(0, space));
        if (space != std::string_view::npos)
            fragment.range = ReadFragmentRange(value.substr(space + 1));
        if (AddressProtocol(fragment.address).empty() ||
            (space != std::string_view::npos && !fragment.range) ||
            fragments.size() == kMaxStreamFragments)
            return {};
        fragments.push_back(std::move(fragment));
    }
    return fragments;
}

TMediaStream RecordStream(const TLookupRecord& record, std::string address, TStreamKind kind,
                          std::string_view protocolEntry, std::string_view codecsEntry,
                          std::string_view fragmentEntry) {
    TMediaStream stream;
    stream.protocol = LowerCase(OneLineText(record.Values(protocolEntry)));
    if (stream.protocol.empty()) stream.protocol = AddressProtocol(address);
    stream.address = std::move(address);
    stream.kind = kind;
    stream.headers = RecordRequestHeaders(record);
    stream.codecs = OneLineText(record.Values(codecsEntry));
    if (stream.protocol == kFragmentsProtocol)
        stream.fragments = RecordFragments(record, fragmentEntry);
    return stream;
}

}  // namespace

std::vector<TMediaStream> MediaStreams(const TLookupRecord& record) {
    std::string address = record.Values(kUrlEntry);
    if (address.empty()) return {};
    std::string audio = record.Values(kAudioUrlEntry);
    std::vector<TMediaStream> streams;
    streams.push_back(RecordStream(record, std::move(address),
                                   audio.empty() ? TStreamKind::Both : TStreamKind::Video,
                                   kProtocolEntry, kCodecsEntry, kFragmentEntry));
    if (!audio.empty())
        streams.push_back(RecordStream(record, std::move(audio), TStreamKind::Audio,
                                       kAudioProtocolEntry, kAudioCodecsEntry,
                                       kAudioFragmentEntry));
    return streams;
}

}  // namespace tarnwick
