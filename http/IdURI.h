#pragma once

// Addresses: splitting an address text into its fields, rebuilding it, resolving relative paths,
// and merging the next request's address into the client's current address.
//
// These are plain text rules: nothing is percent-encoded or decoded, and the request target is
// exactly what the fields hold. Text is handled as single-byte characters.

#include <cstddef>
#include <string>
#include <string_view>

#include "http/IdHTTPMethod.h"

namespace tarnwick {

// Which optional parts ComposeUri writes.
enum class TIdURIOptionalFields : unsigned {
    None = 0,
    IncludeAuthInfo = 1u << 0,  // "user:password@"
    IncludeBookmark = 1u << 1,  // "#bookmark"
};

constexpr TIdURIOptionalFields operator|(TIdURIOptionalFields a, TIdURIOptionalFields b) noexcept {
    return TIdURIOptionalFields(unsigned(a) | unsigned(b));
}

constexpr bool HasField(TIdURIOptionalFields set, TIdURIOptionalFields field) noexcept {
    return (unsigned(set) & unsigned(field)) != 0;
}

// An address split into ten text fields. All fields are empty after construction without text.
// An address is absolute when it holds "://" with a protocol before it, that is with text before
// it holding no "/", "?" or "#"; any other is relative (no protocol, host or port).
//
// For 'proto://user:pw@host:8080/dir/sub/file.ext?a=1#top':
//   Protocol "proto", UserName "user", Password "pw", Host "host", Port "8080",
//   Path "/dir/sub/", Document "file.ext", Params "?a=1", Bookmark "top".
// Port holds the digits as written; no default is filled in. Params keeps its leading "?" (or
// "=", for an address that has an "=" but no "?"). SourceText is the text last parsed, after
// slash normalisation, or what ComposeUriPlain last composed.
class TIdURI {
public:
    TIdURI() = default;
    // Parses text when it is not empty.
    explicit TIdURI(std::string_view text);

    // Replaces every field from text. Never fails: any text yields some field values.
    void ParseUri(std::string_view text);

    // The address text built from the fields.
    // Throws EIdURIException "Protocol field is empty" when Protocol is empty, then
    // "Host field is empty" when Host is empty.
    std::string ComposeUri(TIdURIOptionalFields options) const;

    // Sets SourceText to the address with credentials and bookmark, and returns it without
    // either. Throws as ComposeUri (SourceText is then unchanged).
    std::string ComposeUriPlain();

    std::string Protocol;
    std::string UserName;
    std::string Password;
    std::string Host;
    std::string Port;
    std::string Path;
    std::string Document;
    std::string Params;
    std::string Bookmark;
    std::string SourceText;
};

// Turns every "\" into "/".
void NormalizeSlashes(std::string& text);

// Resolves path against base with delimiter d. A path that starts with d comes back unchanged;
// otherwise base and path are joined with d, runs of d collapse to one, and each ".." removes
// the segment before it (never above the root). A trailing d is kept only when path is empty or
// ends with d. "." segments are kept as they are.
//   ResolvePath("/dir/sub/", "../") == "/dir/"    ResolvePath("/", "../x/") == "/x/"
std::string ResolvePath(std::string_view base, std::string_view path, char d = '/');

// Right-to-left search ignoring ASCII case. start is a 1-based position, -1 for the end of
// haystack. Returns the 1-based position of the last occurrence of needle that starts at or
// before start, or 0 when there is none (and for an empty needle or haystack).
std::size_t FindLast(std::string_view needle, std::string_view haystack, std::ptrdiff_t start);

// Cuts the text before the first delimiter off source and returns it. With removeToken the
// source loses that text and the delimiter (and becomes empty when there is no delimiter, the
// whole source then being the token). With caseSensitive false the search ignores ASCII case.
std::string CutToken(std::string& source, std::string_view delimiter, bool removeToken = true,
                     bool caseSensitive = true);

// What MergeRequestAddress reads and writes on the request it prepares. The HTTP request
// implements it over its own fields.
class TIdURIRequest {
public:
    virtual ~TIdURIRequest() = default;

    virtual TIdHTTPMethod Method() const = 0;
    virtual std::string Username() const = 0;
    virtual void SetUsername(std::string value) = 0;
    virtual std::string Password() const = 0;
    virtual void SetPassword(std::string value) = 0;
    // The target of the request line.
    virtual void SetTarget(std::string value) = 0;
    // The value of the Host header.
    virtual void SetHost(std::string value) = 0;
};

// Merges requestAddress into current and prepares request for it:
//  - credentials in the address become the request's; current takes the request's credentials;
//  - the path resolves against the current path; document and parameters are replaced; the
//    host is replaced when the address names one; the protocol is the address's, or the current
//    one (a relative address keeps it), or "http" when there is none yet;
//  - the port is the address's when it names one; an address with a host but no port goes to its
//    protocol's default port; an address without a host keeps the current port unless that is
//    0, 80 or 443 (or empty), which is replaced by the protocol's default port;
//  - the target is Path + Document + Params (or "*" for OPTIONS of the document "*"), and the
//    Host value is the host, with ":" + port unless the port is "80".
// Throws EIdUnknownProtocol (empty message) when a default port is needed and the protocol is
// neither "http" nor "https" (ignoring case); current has then already taken the new path,
// document, parameters, host and protocol, and the request's target and Host are not set.
void MergeRequestAddress(TIdURI& current, std::string_view requestAddress, TIdURIRequest& request);

}  // namespace tarnwick
