#include "http/IdCookie.h"

#include <cmath>

#include "core/StrUtils.h"
#include "http/IdCookies.h"
#include "http/IdInternetDate.h"
#include "http/IdURI.h"

namespace tarnwick {

namespace {

void AppendCookieAttribute(std::string_view name, std::string_view value, std::string& text) {
    if (value.empty()) return;
    if (!text.empty()) text += "; ";
    text.append(name).append("=").append(value);
}

void AppendCookieFlag(std::string_view flag, std::string& text) {
    if (!text.empty()) text += "; ";
    text.append(flag);
}

// The value of the first item named name (ignoring case); empty when there is none. Items
// without "=" have no name.
std::string AttributeValue(const TIdCookieAttributes& items, std::string_view name) {
    for (const auto& item : items) {
        const auto eq = item.find('=');
        if (eq != std::string::npos && SameText(std::string_view(item).substr(0, eq), name))
            return item.substr(eq + 1);
    }
    return std::string();
}

bool HasFlag(const TIdCookieAttributes& items, std::string_view flag) {
    for (const auto& item : items)
        if (SameText(item, flag)) return true;
    return false;
}

// The items of a header value: cut at ";" and trimmed; a value without ";" is its lines, as
// they are.
TIdCookieAttributes SplitItems(std::string text) {
    TIdCookieAttributes items;
    if (text.find(';') == std::string::npos) {
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) end = text.size();
            items.push_back(text.substr(start, end - start));
            start = end;
            if (start < text.size() && text[start] == '\r') ++start;
            if (start < text.size() && text[start] == '\n') ++start;
        }
        return items;
    }
    while (text.find(';') != std::string::npos) items.push_back(Trim(CutToken(text, ";")));
    if (!text.empty()) items.push_back(Trim(text));
    return items;
}

}  // namespace

// ---- TIdNetscapeCookie --------------------------------------------------------------------------

TIdNetscapeCookie::TIdNetscapeCookie(TIdCookies* collection) : collection_(collection) {}

TDateTime TIdNetscapeCookie::Now() const {
    return collection_ != nullptr ? collection_->Now() : tarnwick::Now();
}

void TIdNetscapeCookie::ParseCookieText(std::string_view text) {
    if (text == RawText) return;
    RawText = std::string(text);
    TIdCookieAttributes items = SplitItems(RawText);
    if (items.empty()) {
        Name.clear();
        Value.clear();
    } else {
        const std::string& cookie = items.front();
        const auto eq = cookie.find('=');
        Name = eq == std::string::npos ? std::string() : cookie.substr(0, eq);
        Value = eq == std::string::npos ? std::string() : cookie.substr(eq + 1);
        items.erase(items.begin());
    }

    // Upper-cased names; a repeated attribute takes the value of its first occurrence.
    TIdCookieAttributes normalised;
    normalised.reserve(items.size());
    for (const auto& item : items) {
        const auto eq = item.find('=');
        if (eq == std::string::npos) {
            normalised.push_back(UpperCase(item));
        } else {
            const std::string name = item.substr(0, eq);
            normalised.push_back(UpperCase(name) + "=" + AttributeValue(items, name));
        }
    }
    LoadAttributes(normalised);
}

std::string TIdNetscapeCookie::RenderCookieText() const {
    std::string text;
    AppendCookieAttribute(Name, Value, text);
    AppendCookieAttribute("path", Path, text);
    if (Kind == ckNetscape) AppendCookieAttribute("expires", Expires, text);
    AppendCookieAttribute("domain", Domain, text);
    if (Secure) AppendCookieFlag("secure", text);
    return text;
}

void TIdNetscapeCookie::StoreExpires(std::string_view text) { Expires = std::string(text); }

void TIdNetscapeCookie::LoadAttributes(const TIdCookieAttributes& attributes) {
    Path = AttributeValue(attributes, "PATH");
    if (!Path.empty() && Path.front() == '"') Path.erase(0, 1);
    if (!Path.empty() && Path.back() == '"') Path.pop_back();
    StoreExpires(AttributeValue(attributes, "EXPIRES"));
    Domain = AttributeValue(attributes, "DOMAIN");
    Secure = HasFlag(attributes, "SECURE");
}

bool IsIPv4Literal(std::string_view s) {
    std::string rest = Trim(s);
    for (int piece = 0; piece < 4; ++piece) {
        const auto value = TryStrToInt(CutToken(rest, "."));
        if (!value || *value < 0 || *value > 255) return false;
    }
    return true;
}

bool IsPlainHostName(std::string_view s) {
    return (s.empty() || s.front() != '.') && !IsIPv4Literal(s);
}

std::string ParentDomainOf(std::string_view s) {
    const auto dot = s.find('.');
    return std::string(dot == std::string_view::npos ? s : s.substr(dot));
}

bool TIdNetscapeCookie::DomainAccepted(std::string_view responseHost) const {
    if (IsIPv4Literal(responseHost)) return Domain == responseHost;
    if (IsPlainHostName(responseHost) && IsPlainHostName(Domain)) return Domain == responseHost;
    // A parent of one label (".com") is a whole top-level domain: a cookie for it would go to
    // every site there.
    if (Domain.find('.', 1) == std::string::npos) return false;
    if (IsPlainHostName(responseHost)) return Domain == ParentDomainOf(responseHost);
    return SameText(Domain, ParentDomainOf(responseHost));
}

void TIdNetscapeCookie::Assign(const TIdNetscapeCookie& source) {
    const auto* from = dynamic_cast<const TIdCookieRFC2109*>(&source);
    if (from == nullptr) return;
    const std::string text = from->RenderCookieText();
    const TIdCookieKind kind = from->Kind;
    ParseCookieText(text);
    Kind = kind;
}

// ---- TIdCookieRFC2109 ---------------------------------------------------------------------------

TIdCookieRFC2109::TIdCookieRFC2109(TIdCookies* collection) : TIdNetscapeCookie(collection) {
    Kind = ckRFC2109;
}

std::string TIdCookieRFC2109::RenderCookieText() const {
    std::string text = TIdNetscapeCookie::RenderCookieText();
    if (MaxAge >= 0 && Expires.empty())
        AppendCookieAttribute("max-age", std::to_string(MaxAge), text);
    AppendCookieAttribute("comment", Comment, text);
    AppendCookieAttribute("version", Version, text);
    return text;
}

void TIdCookieRFC2109::StoreExpires(std::string_view text) {
    if (!text.empty()) {
        try {
            // Whole milliseconds first, so that a difference of exactly an hour is not read as
            // 3599.999... seconds; then whole seconds toward zero.
            const double milliseconds = (InternetDateToLocal(text) - Now()) * 86'400'000;
            if (std::isfinite(milliseconds) && std::fabs(milliseconds) < 9e18)
                MaxAge = std::llround(milliseconds) / 1000;
        } catch (...) {
            // An expiry that cannot be converted keeps the age it had.
        }
    }
    TIdNetscapeCookie::StoreExpires(text);
}

void TIdCookieRFC2109::LoadAttributes(const TIdCookieAttributes& attributes) {
    TIdNetscapeCookie::LoadAttributes(attributes);
    MaxAge = StrToIntDef(AttributeValue(attributes, "MAX-AGE"), -1);
    Version = AttributeValue(attributes, "VERSION");
    Comment = AttributeValue(attributes, "COMMENT");
    if (Expires.empty()) {
        Kind = ckNetscape;
        if (MaxAge >= 0)
            StoreExpires(FormatInternetDate(Now() + double(MaxAge) * 1000 / 86'400'000, false));
    }
}

// ---- TIdCookieRFC2965 ---------------------------------------------------------------------------

TIdCookieRFC2965::TIdCookieRFC2965(TIdCookies* collection) : TIdCookieRFC2109(collection) {
    Kind = ckRFC2965;
}

void TIdCookieRFC2965::LoadAttributes(const TIdCookieAttributes& attributes) {
    TIdCookieRFC2109::LoadAttributes(attributes);
    CommentURL = AttributeValue(attributes, "COMMENTURL");
    Discard = HasFlag(attributes, "DISCARD");

    const std::string port = AttributeValue(attributes, "PORT");
    if (port.empty()) {
        PortList = {80};
    } else if (port.front() == '"' && port.back() == '"') {
        std::vector<std::int32_t> ports;
        const std::string_view list = port.size() < 2
                                          ? std::string_view()
                                          : std::string_view(port).substr(1, port.size() - 2);
        std::size_t start = 0;
        while (start < list.size()) {
            std::size_t end = list.find_first_of(", ", start);
            if (end == std::string_view::npos) end = list.size();
            if (end > start) ports.push_back(StrToInt(list.substr(start, end - start)));
            start = end + 1;
        }
        PortList = ports.empty() ? std::vector<std::int32_t>{80} : std::move(ports);
    }
}

}  // namespace tarnwick
