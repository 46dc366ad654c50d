#include "http/IdHTTPResponse.h"

#include <limits>

#include "core/Exception.h"
#include "core/StrUtils.h"
#include "http/IdCustomHTTP.h"
#include "http/IdHTTPMessages.h"

namespace tarnwick {

std::int32_t TIdHTTPResponse::StatusCodeOf(std::string_view statusLine) {
    const std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return -1;
    std::string rest = Trim(statusLine.substr(space + 1));
    rest.erase(std::min(rest.find(' '), rest.size()));
    return TryStrToInt(rest).value_or(-1);
}

bool TIdHTTPResponse::KeepConnection() {
    const std::string_view version =
        StatusLine.size() > 5 ? std::string_view(StatusLine).substr(5, 3) : std::string_view();
    if (SameText(version, "1.0"))
        statusVersion_ = pv1_0;
    else if (SameText(version, "1.1"))
        statusVersion_ = pv1_1;

    client_.CheckClosed(false, false);
    if (!client_.IsConnected()) return false;
    if (IsChunked(*this) && HeaderLines().FindHeader("Content-Length") >= 0) return false;
    const auto says = [&](std::string_view token) {
        return SameText(Trim(Connection), token) || SameText(Trim(ProxyConnection), token);
    };
    return client_.ProtocolVersion == pv1_1 ? !says("CLOSE") : says("KEEP-ALIVE");
}

TIdBodyFraming BodyFraming(TIdHTTPMethod method, std::int32_t statusCode,
                           const TIdEntityHeaderInfo& fields) {
    // These answers end at their head whatever their fields say; reading on would wait for a
    // body that never comes.
    if (method == hmHead || (statusCode >= 100 && statusCode < 200) || statusCode == 204 ||
        statusCode == 304)
        return bfNone;
    if (IsChunked(fields)) return bfChunked;
    if (fields.ContentLength > 0) return bfLength;
    if (!fields.LengthGiven()) return bfUntilClose;
    return bfNone;
}

std::int64_t RangeBodyLength(const TIdHTTPResponse& response) {
    if (response.StatusCode() != 206) return -1;
    const std::string range = response.HeaderLines().HeaderValue("Content-Range");
    if (range.empty()) return -1;
    const std::int64_t start = response.ContentRangeStart, end = response.ContentRangeEnd,
                       total = response.ContentRangeInstanceLength;
    if (range.find("*/") != std::string::npos || start < 0 || end < start ||
        end == std::numeric_limits<std::int64_t>::max() ||
        (total >= 0 && end >= total))
        throw EIdException(RSHTTPRangeInvalid);
    return end - start + 1;
}

bool IsChunked(const TIdEntityHeaderInfo& fields) {
    return fields.HeaderLines().HeaderValue("Transfer-Encoding").find("chunked") !=
           std::string::npos;
}

std::int64_t ContentLengthOf(const TIdHeaderList& lines) {
    TIdHeaderList values;
    lines.CollectValues("Content-Length", &values);
    std::int64_t length = -1;
    for (const std::string& value : values.Lines()) {
        std::string_view rest = value;
        for (;;) {
            const std::size_t comma = rest.find(',');
            const std::string entry = Trim(rest.substr(0, comma));
            constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
            std::int64_t n = 0;
            bool valid = !entry.empty();
            for (const char c : entry) {
                if (c < '0' || c > '9' || n > (kMax - (c - '0')) / 10) {
                    valid = false;
                    break;
                }
                n = n * 10 + (c - '0');
            }
            if (!valid)
                throw EIdException(
                    Format(RSHTTPContentLengthInvalid, std::string(value.substr(0, 64)).c_str()));
            if (length >= 0 && n != length) throw EIdException(RSHTTPContentLengthsDiffer);
            length = n;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    return length;
}

std::int64_t ParseChunkSize(std::string_view line) {
    const std::string trimmed = TrimLeft(line);
    const std::string_view size =
        std::string_view(trimmed).substr(0, trimmed.find_first_of("; \t"));
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    bool valid = !size.empty();
    for (const char c : size) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (UpCase(c) >= 'A' && UpCase(c) <= 'F')
            digit = UpCase(c) - 'A' + 10;
        else
            digit = -1;
        if (digit < 0 || value > (kMax - digit) / 16) {
            valid = false;
            break;
        }
        value = value * 16 + digit;
    }
    if (!valid)
        throw EIdException(Format(RSHTTPChunkSizeInvalid, std::string(line.substr(0, 64)).c_str()));
    return value;
}

}  // namespace tarnwick
