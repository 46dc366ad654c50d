#pragma once

// The header fields of HTTP messages: those every message may carry (entity), those of a request
// and those of a response, with their defaults, and how they become header lines and back.
//
// HeaderLines holds the lines as written (one line a header) or as received. The client keeps
// one request and one response for all its requests: nothing clears the request between them.

#include <cstdint>
#include <memory>
#include <string>

#include "http/IdAuthentication.h"
#include "http/IdAuthorization.h"
#include "http/IdDateTime.h"
#include "http/IdHeaderList.h"

namespace tarnwick {

enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// AssignHeader of a request header that goes on the wire. Throws EIdException
// "The value of the request header "<name>" holds a line break." when value holds a CR or LF.
void AssignRequestHeader(TIdHeaderList& lines, std::string_view name, std::string_view value);

// "1.0" or "1.1".
const char* ProtocolVersionText(TIdHTTPProtocolVersion version) noexcept;

class TIdEntityHeaderInfo {
public:
    TIdEntityHeaderInfo();
    virtual ~TIdEntityHeaderInfo() = default;
    TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
    TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

    // Fills Connection, the Content-* texts, ContentLength (-1 when "Content-Length" is absent or
    // not a number), Date, LastModified and Pragma from HeaderLines. Dates that cannot be read
    // come out as the internet date reader gives them.
    virtual void ReadFromLines();
    // Rebuilds HeaderLines from the fields (Connection, the Content-* fields, Cache-control, Date,
    // Expires, Pragma, then CustomHeaders), skipping empty ones. Throws EIdException
    // "The value of the request header "<name>" holds a line break." for a field holding a CR or
    // LF, which would otherwise end its line early and pass its rest off as lines of its own.
    virtual void WriteToLines();
    // Back to the defaults: ContentType "text/html", ContentLength -1, the ranges and dates 0,
    // the Connection and Content-* texts empty, HeaderLines emptied. CacheControl, Pragma and
    // CustomHeaders are left as they are.
    virtual void ClearFields();

    std::string CacheControl;
    std::string Connection;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::string ContentType;
    std::string ContentVersion;
    std::string Pragma;
    // Body length in bytes; -1 when not given. 64-bit, so bodies above 2 GiB are measured whole.
    std::int64_t ContentLength = -1;
    std::int64_t ContentRangeStart = 0;
    std::int64_t ContentRangeEnd = 0;
    // Local date-times; 0 means none.
    TDateTime Date = 0;
    TDateTime Expires = 0;
    TDateTime LastModified = 0;
    TIdHeaderList CustomHeaders;

    // ContentLength is 0 or more.
    bool LengthGiven() const noexcept { return ContentLength >= 0; }
    TIdHeaderList& HeaderLines() noexcept { return headerLines_; }
    const TIdHeaderList& HeaderLines() const noexcept { return headerLines_; }

private:
    void ClearEntityFields();

    TIdHeaderList headerLines_;
};

// The request's own fields. The credentials, the Basic flag and the scheme object in use are what
// server authorization reads and writes.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo, public TIdAuthorizationRequest {
public:
    TIdRequestHeaderInfo();

    // The entity lines, then Proxy-Connection, Host, Accept, Accept-Charset, Accept-Encoding,
    // Accept-Language, From, Referer, User-Agent, If-Modified-Since, If-Range, Range and
    // Authorization.
    // Authorization is the answer of AuthScheme; without one, and with BasicAuthentication set,
    // a Basic scheme is made from Username and Password and kept as AuthScheme. Throws as the
    // entity's for a value holding a line break.
    void WriteToLines() override;
    // The entity defaults, Accept "text/html, */*", AcceptCharSet empty, UserAgent
    // "Mozilla/3.0 (compatible; Tarnwick)", BasicAuthentication false.
    void ClearFields() override;

    std::string Accept;
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    std::string Host;
    std::string From;
    std::string Referer;
    std::string UserAgent;
    std::string ProxyConnection;
    // The validator a Range request is conditional on ("If-Range"): an entity tag or a date, as
    // the server sent it.
    std::string IfRange;
    // Asks "Range: bytes=0-" while both range fields are 0: the whole file as a part, so the answer
    // tells whether the server takes ranges and how long the file is.
    bool RangeFromStart = false;

    std::string Username() const override { return username_; }
    void SetUsername(std::string value) override { username_ = std::move(value); }
    std::string Password() const override { return password_; }
    void SetPassword(std::string value) override { password_ = std::move(value); }
    bool BasicAuthentication() const noexcept { return basicAuthentication_; }
    void SetBasicAuthentication(bool value) override { basicAuthentication_ = value; }
    TIdAuthentication* AuthScheme() const override { return authScheme_.get(); }
    void SetAuthScheme(std::unique_ptr<TIdAuthentication> scheme) override {
        authScheme_ = std::move(scheme);
    }

private:
    void ClearRequestFields();

    std::string username_;
    std::string password_;
    bool basicAuthentication_ = false;
    std::unique_ptr<TIdAuthentication> authScheme_;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdResponseHeaderInfo();

    // Location, Server, Proxy-Connection, ETag, "Content-Range" as start, end and total
    // ("bytes 0-99/200"; "bytes */200", the form of an unsatisfiable range, gives only the
    // total; a total of "*" or one that is not a number reads as -1), the challenge lists (the values of every "WWW-Authenticate" and "Proxy-Authenticate"
    // header), the entity fields, and Expires: a number of seconds other than -1 counts from
    // Clock's now, anything else reads as an internet date.
    // Throws EConvertError "'<text>' is not a valid integer value" for a "Content-Range" number
    // that does not parse.
    void ReadFromLines() override;
    // The entity defaults; Location, Server and ETag empty, ContentRangeInstanceLength -1, both
    // challenge lists emptied.
    void ClearFields() override;

    std::string Location;
    std::string ProxyConnection;
    std::string Server;
    // The entity tag, as sent ("\"abc\"", or weak: "W/\"abc\""); empty when none.
    std::string ETag;
    // The whole length of the representation that "Content-Range" names a part of; -1 when the
    // answer gives none.
    std::int64_t ContentRangeInstanceLength = -1;
    TIdHeaderList WWWAuthenticate;
    TIdHeaderList ProxyAuthenticate;
    // Where a relative Expires reads "now".
    TIdClock Clock;

private:
    void ClearResponseFields();
};

}  // namespace tarnwick
