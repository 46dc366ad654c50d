#include "http/IdURI.h"

#include <algorithm>

#include "core/StrUtils.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdHTTPMessages.h"

namespace tarnwick {

namespace {

// 1-based position of the first c in s, 0 when none.
std::size_t Pos(char c, std::string_view s) noexcept {
    const auto p = s.find(c);
    return p == std::string_view::npos ? 0 : p + 1;
}

// Splits w (an address without protocol and authority) into path, document and parameters.
// Returns t, the length of the directory part of w.
std::size_t SplitPathDocumentParams(std::string_view w, TIdURI& uri) {
    // Parameters start at the first "?", or at the first "=" when there is no "?".
    std::size_t s = Pos('?', w);
    if (s == 0) s = Pos('=', w);
    const std::size_t t = FindLast("/", w, s > 0 ? std::ptrdiff_t(s) : -1);
    if (s > 0) {
        uri.Document = std::string(w.substr(0, s - 1));
        uri.Params = std::string(w.substr(s - 1));
    } else {
        uri.Document = std::string(w);
    }
    uri.Document.erase(0, t);
    return t;
}

std::string DefaultPort(std::string_view protocol) {
    if (SameText(protocol, "http")) return "80";
    if (SameText(protocol, "https")) return "443";
    throw EIdUnknownProtocol();
}

}  // namespace

TIdURI::TIdURI(std::string_view text) {
    if (!text.empty()) ParseUri(text);
}

void TIdURI::ParseUri(std::string_view text) {
    SourceText = std::string(text);
    NormalizeSlashes(SourceText);
    std::string w = SourceText;
    Protocol.clear();
    UserName.clear();
    Password.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    Document.clear();
    Params.clear();
    Bookmark.clear();

    // A "://" after a "/", "?" or "#" is part of a path or parameters ('/login?next=http://x/'),
    // not the end of a protocol.
    const auto p = w.find("://");
    if (p != std::string::npos && p > 0 && w.find_first_of("/?#") > p) {
        Protocol = w.substr(0, p);
        w.erase(0, p + 3);
        // Without a "/" the whole rest is the authority, so a "?" or "#" straight after the host
        // stays in it.
        std::string authority = CutToken(w, "/");
        std::string credentials;
        if (const auto at = authority.find('@'); at != std::string::npos) {
            credentials = authority.substr(0, at);
            authority.erase(0, at + 1);
        }
        UserName = CutToken(credentials, ":");
        Password = UserName.empty() ? std::string() : credentials;
        Host = CutToken(authority, ":");
        Port = authority;

        const std::size_t t = SplitPathDocumentParams(w, *this);
        // Built in place: g++ 12 at -O3 warns falsely (-Wrestrict) on "/" + substr.
        Path.assign(1, '/');
        Path.append(w, 0, t);
        Bookmark = Document;
        Document = CutToken(Bookmark, "#");
    } else {
        // A relative address: no protocol, no authority, and the document is not split at "#".
        const std::size_t t = SplitPathDocumentParams(w, *this);
        Path = w.substr(0, t);
    }

    if (Bookmark.empty()) {
        Bookmark = Params;
        Params = CutToken(Bookmark, "#");
    }
}

std::string TIdURI::ComposeUri(TIdURIOptionalFields options) const {
    if (Protocol.empty()) throw EIdURIException(RSURIProtocolFieldIsEmpty);
    std::string text = Protocol + "://";
    if (!UserName.empty() && HasField(options, TIdURIOptionalFields::IncludeAuthInfo)) {
        text += UserName;
        if (!Password.empty()) text += ":" + Password;
        text += "@";
    }
    if (Host.empty()) throw EIdURIException(RSURIHostFieldIsEmpty);
    text += Host;
    if (!Port.empty()) text += ":" + Port;
    text += Path + Document + Params;
    if (!Bookmark.empty() && HasField(options, TIdURIOptionalFields::IncludeBookmark))
        text += "#" + Bookmark;
    return text;
}

std::string TIdURI::ComposeUriPlain() {
    SourceText =
        ComposeUri(TIdURIOptionalFields::IncludeAuthInfo | TIdURIOptionalFields::IncludeBookmark);
    return ComposeUri(TIdURIOptionalFields::None);
}

void NormalizeSlashes(std::string& text) { std::replace(text.begin(), text.end(), '\\', '/'); }

std::string ResolvePath(std::string_view base, std::string_view path, char d) {
    if (!path.empty() && path.front() == d) return std::string(path);
    const bool keepTrailing = path.empty() || path.back() == d;
    std::string x(base);
    if (!x.empty() && x.back() != d) x += d;
    x += path;

    std::string r;
    const auto endsWithD = [&] { return !r.empty() && r.back() == d; };
    for (std::size_t i = 0; i < x.size(); ++i) {
        const char c = x[i];
        if (c == d) {
            if (i == 0)
                r.assign(1, d);
            else if (!endsWithD())
                r += d;
        } else if (c == '.' && endsWithD() && i + 1 < x.size() && x[i + 1] == '.') {
            r.pop_back();
            while (!r.empty() && r.back() != d) r.pop_back();
            ++i;
        } else {
            r += c;
        }
    }
    if (r.size() != 1 && endsWithD() && !keepTrailing) r.pop_back();
    return r;
}

std::size_t FindLast(std::string_view needle, std::string_view haystack, std::ptrdiff_t start) {
    const auto n = std::ptrdiff_t(needle.size());
    const auto h = std::ptrdiff_t(haystack.size());
    if (n == 0 || h == 0) return 0;
    if (start == -1) start = h;
    if (start >= h - n + 1) start = h - n + 1;
    for (std::ptrdiff_t p = start; p >= 1; --p)
        if (SameText(needle, haystack.substr(std::size_t(p - 1), std::size_t(n))))
            return std::size_t(p);
    return 0;
}

std::string CutToken(std::string& source, std::string_view delimiter, bool removeToken,
                     bool caseSensitive) {
    const std::size_t p =
        caseSensitive ? source.find(delimiter) : UpperCase(source).find(UpperCase(delimiter));
    std::string token;
    if (p != std::string::npos) {
        token = source.substr(0, p);
        if (removeToken) source.erase(0, p + delimiter.size());
    } else {
        token = source;
        if (removeToken) source.clear();
    }
    return token;
}

void MergeRequestAddress(TIdURI& current, std::string_view requestAddress, TIdURIRequest& request) {
    const TIdURI next(requestAddress);

    if (!next.UserName.empty()) {
        request.SetUsername(next.UserName);
        request.SetPassword(next.Password);
    }
    current.UserName = request.Username();
    current.Password = request.Password();

    current.Path = ResolvePath(current.Path, next.Path, '/');
    current.Document = next.Document;
    current.Params = next.Params;
    if (!next.Host.empty()) current.Host = next.Host;
    // A relative address stays with the protocol it came from: a redirect from an https server
    // to "/next" must not go out as plain http to port 443.
    if (!next.Protocol.empty())
        current.Protocol = next.Protocol;
    else if (current.Protocol.empty())
        current.Protocol = "http";

    if (!next.Port.empty()) {
        current.Port = next.Port;
    } else if (!next.Host.empty()) {
        // A new server without a port is reached on its protocol's port, never on the port
        // of the server before it.
        current.Port = DefaultPort(current.Protocol);
    } else {
        const std::int32_t port = StrToIntDef(current.Port, 0);
        if (port == 0 || port == 80 || port == 443) current.Port = DefaultPort(current.Protocol);
    }

    if (request.Method() == hmOptions && SameText(next.Document, "*"))
        request.SetTarget("*");
    else
        request.SetTarget(current.Path + current.Document + current.Params);

    request.SetHost(current.Port == "80" ? current.Host : current.Host + ":" + current.Port);
}

}  // namespace tarnwick
