#include "job/lookup/PageAddresses.h"

#include <vector>

#include "core/StrUtils.h"
#include "http/IdURI.h"

namespace tarnwick {

namespace {

bool IsSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '-' || c == '.';
}

// The protocol a reference names ("data" for "data:..."); empty for a relative reference.
std::string_view SchemeOf(std::string_view reference) {
    const std::size_t colon = reference.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    const std::string_view scheme = reference.substr(0, colon);
    const char first = scheme.front();
    if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) return {};
    for (const char c : scheme)
        if (!IsSchemeChar(c)) return {};
    return scheme;
}

std::string Encoded(std::string_view address) {
    std::string out;
    out.reserve(address.size());
    for (const char c : address) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '"' || c == '<' || c == '>')
            out += Format("%%%02X", b);
        else
            out += c;
    }
    return out;
}

// A path with its "." and ".." segments worked out; it starts with "/".
std::string WithoutDotSegments(std::string_view path) {
    std::vector<std::string_view> segments;
    bool directory = false;  // the result ends in "/"
    for (std::size_t at = 1; at <= path.size();) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(at, end - at);
        // Only the last segment's counts: an empty one (a trailing "/"), "." or "..".
        directory = segment.empty() || segment == "." || segment == "..";
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (segment != ".") {
            if (end < path.size() || !segment.empty()) segments.push_back(segment);
        }
        at = end + 1;
    }
    std::string out;
    for (const std::string_view segment : segments) out.append("/").append(segment);
    if (out.empty() || directory) out += '/';
    return out;
}

}  // namespace

bool IsWebAddress(std::string_view address) {
    const TIdURI uri(address);
    return (SameText(uri.Protocol, "http") || SameText(uri.Protocol, "https")) &&
           !uri.Host.empty() && address.find("://") == uri.Protocol.size();
}

std::string ResolveAddress(std::string_view base, std::string_view reference) {
    std::string ref;
    for (const char c : reference)
        if (c != '\t' && c != '\n' && c != '\r') ref += c;
    ref = Trim(ref);
    ref = ref.substr(0, ref.find('#'));
    if (!IsWebAddress(base)) return {};

    const std::string_view scheme = SchemeOf(ref);
    if (!scheme.empty()) {
        if (!SameText(scheme, "http") && !SameText(scheme, "https")) return {};
        const std::string absolute = Encoded(ref);
        return IsWebAddress(absolute) ? absolute : std::string();
    }

    const TIdURI uri(base);
    const std::string protocol = LowerCase(uri.Protocol);
    if (ref.starts_with("//")) {
        const std::string absolute = Encoded(protocol + ":" + ref);
        return IsWebAddress(absolute) ? absolute : std::string();
    }
    // Everything after the authority: the path and the query of base.
    std::string_view rest = base.substr(base.find("://") + 3);
    rest = rest.substr(0, rest.find('#'));
    const std::size_t pathStart = rest.find_first_of("/?");
    const std::string_view authority = rest.substr(0, pathStart);
    rest = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    const std::size_t queryStart = rest.find('?');
    std::string basePath(rest.substr(0, queryStart));
    if (basePath.empty()) basePath = "/";

    std::string path;
    std::string query;
    if (ref.empty()) {
        path = basePath;
        if (queryStart != std::string_view::npos) query = rest.substr(queryStart);
    } else if (ref.front() == '?') {
        path = basePath;
        query = ref;
    } else {
        const std::size_t refQuery = ref.find('?');
        const std::string refPath = ref.substr(0, refQuery);
        if (refQuery != std::string::npos) query = ref.substr(refQuery);
        if (refPath.empty())
            path = basePath;
        else if (refPath.front() == '/')
            path = refPath;
        else
            path = basePath.substr(0, basePath.rfind('/') + 1) + refPath;
    }
    return Encoded(protocol + "://" + std::string(authority) + WithoutDotSegments(path) + query);
}

}  // namespace tarnwick
