#pragma once

// Cookie records: one "Set-cookie" or "Set-cookie2" header value parsed into fields, rendered back
// into that text form, with its expiry and the check of the domain it names.
//
//   TIdNetscapeCookie      the base
//   TIdCookieRFC2109       one per "Set-cookie" value (adds MaxAge, Version, Comment)
//   TIdCookieRFC2965       one per "Set-cookie2" value (adds CommentURL, Discard, PortList)
//
// A record normally lives in a TIdCookies collection, which owns it and lends it its clock; a
// record without a collection reads the system clock.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/IdDateTime.h"

namespace tarnwick {

class TIdCookies;

// The flavour a record was last parsed or copied as.
enum TIdCookieKind : std::uint8_t { ckNetscape = 0, ckRFC2109 = 1, ckRFC2965 = 2 };

// The attribute items of one header value after the cookie itself: "NAME=value" with the name
// upper-cased, or a bare flag upper-cased.
using TIdCookieAttributes = std::vector<std::string>;

class TIdNetscapeCookie {
public:
    explicit TIdNetscapeCookie(TIdCookies* collection = nullptr);
    virtual ~TIdNetscapeCookie() = default;
    TIdNetscapeCookie(const TIdNetscapeCookie&) = delete;
    TIdNetscapeCookie& operator=(const TIdNetscapeCookie&) = delete;

    // Fills the fields from one header value, "name=value; attribute=value; flag...".
    // Text equal to RawText changes nothing. Attribute names are matched in any case; of a
    // repeated attribute the first value counts. Never fails on the shape of the text; a
    // TIdCookieRFC2965 throws EConvertError "'%s' is not a valid integer value" for a quoted Port
    // list with an entry that is not a number.
    void ParseCookieText(std::string_view text);

    // The record as a header value: "name=value" (nothing at all when Value is empty), then
    // "path", "expires" (kind ckNetscape only), "domain" and the "secure" flag.
    virtual std::string RenderCookieText() const;
    // Sets Expires (the RFC 2109 flavour also derives MaxAge from it).
    virtual void StoreExpires(std::string_view text);
    virtual std::string ServerCookieText() const { return RenderCookieText(); }
    virtual std::string ClientCookieText() const { return Name + "=" + Value; }
    // The parsing step of the attributes, per flavour.
    virtual void LoadAttributes(const TIdCookieAttributes& attributes);

    // Whether the server at responseHost may set this cookie for its Domain:
    //  - an IPv4 literal host only for exactly that literal;
    //  - a host name for a Domain without leading dot equal to it (letter case counts), or for a
    //    Domain equal to the host's parent from its first dot (".example.com" from
    //    "www.example.com", not from "a.www.example.com" nor from "example.com") that holds a
    //    dot after its first byte (".com" is refused from "example.com");
    //  - a host that starts with "." for the parent ignoring case.
    virtual bool DomainAccepted(std::string_view responseHost) const;

    // Makes this record equal to source by text: parses source's rendering and takes its Kind.
    // Works only for a TIdCookieRFC2109 source (or derived); any other leaves this unchanged.
    // The rendering of an RFC 2109 record carries no "expires", so an expiry that arrived as an
    // expires attribute is not copied.
    void Assign(const TIdNetscapeCookie& source);

    TIdCookies* Collection() const noexcept { return collection_; }

    std::string RawText;
    std::string Domain;
    std::string Expires;
    std::string Name;
    std::string Path;
    bool Secure = false;
    std::string Value;
    TIdCookieKind Kind = ckNetscape;

protected:
    // The current local date-time, from the collection's clock.
    TDateTime Now() const;

private:
    friend class TIdCookies;
    TIdCookies* collection_;
    std::uint64_t lastUse_ = 0;  // the collection's use count when last stored or sent; 0: never
};

class TIdCookieRFC2109 : public TIdNetscapeCookie {
public:
    explicit TIdCookieRFC2109(TIdCookies* collection = nullptr);

    // Adds "max-age" (when MaxAge >= 0 and there is no Expires), "comment" and "version".
    std::string RenderCookieText() const override;
    // Also derives MaxAge, in whole seconds from now, from a non-empty text; a date that cannot
    // be converted leaves MaxAge as it was.
    void StoreExpires(std::string_view text) override;
    // Also reads MAX-AGE (-1 when absent or not a 32-bit number), VERSION and COMMENT. Without
    // an expiry the record becomes ckNetscape, and a MaxAge of 0 or more becomes an Expires
    // date (now plus MaxAge seconds, in the local zone).
    void LoadAttributes(const TIdCookieAttributes& attributes) override;

    std::int64_t MaxAge = -1;
    std::string Version;
    std::string Comment;
};

class TIdCookieRFC2965 : public TIdCookieRFC2109 {
public:
    explicit TIdCookieRFC2965(TIdCookies* collection = nullptr);

    // Also reads COMMENTURL, the DISCARD flag and PORT: [80] when absent, the numbers of a
    // quoted list separated by commas or blanks ([80] for an empty list; throws EConvertError for
    // an entry that is not a number), and any other value leaves PortList as it was.
    void LoadAttributes(const TIdCookieAttributes& attributes) override;

    std::string CommentURL;
    bool Discard = false;
    std::vector<std::int32_t> PortList;
};

// Helpers of the domain check.
// The first four "."-separated pieces, after trimming, are numbers from 0 to 255 (anything
// after a fourth "." is ignored).
bool IsIPv4Literal(std::string_view s);
// Not starting with "." and not an IPv4 literal (the empty text counts as plain).
bool IsPlainHostName(std::string_view s);
// s from its first "." on; all of s when it has none.
std::string ParentDomainOf(std::string_view s);

}  // namespace tarnwick
