#include "http/IdHTTPHeaderInfo.h"

#include "core/Exception.h"
#include "core/StrUtils.h"
#include "http/IdBasicAuthentication.h"
#include "http/IdHTTPMessages.h"
#include "http/IdInternetDate.h"
#include "http/IdURI.h"

namespace tarnwick {

namespace {

TIdHeaderListSettings HeaderLineSettings() {
    TIdHeaderListSettings settings;
    settings.FoldWidth = 1024;
    // A request header is written on one line however long: servers refuse folded header lines
    // (nginx answers 400), and a long Cookie line is common enough after a few redirects.
    settings.FoldOnWrite = false;
    return settings;
}

// Field headers are written only when they hold something: an empty value must not remove a
// custom header of the same name.
void Put(TIdHeaderList& lines, std::string_view name, std::string_view value) {
    if (!value.empty()) AssignRequestHeader(lines, name, value);
}

}  // namespace

void AssignRequestHeader(TIdHeaderList& lines, std::string_view name, std::string_view value) {
    // A line break would end the line early and pass the rest off as lines of its own.
    if (value.find_first_of("\r\n") != std::string_view::npos)
        throw EIdException(Format(RSHTTPHeaderLineBreak, std::string(name).c_str()));
    lines.AssignHeader(name, value);
}

const char* ProtocolVersionText(TIdHTTPProtocolVersion version) noexcept {
    return version == pv1_0 ? "1.0" : "1.1";
}

// --- Entity ------------------------------------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo() : headerLines_(HeaderLineSettings()) {
    ClearEntityFields();
}

void TIdEntityHeaderInfo::ClearEntityFields() {
    Connection.clear();
    ContentVersion.clear();
    ContentEncoding.clear();
    ContentLanguage.clear();
    ContentType = "text/html";
    ContentLength = -1;
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
    Date = 0;
    Expires = 0;
    LastModified = 0;
    headerLines_.Clear();
}

void TIdEntityHeaderInfo::ClearFields() { ClearEntityFields(); }

void TIdEntityHeaderInfo::ReadFromLines() {
    const TIdHeaderList& h = headerLines_;
    Connection = h.HeaderValue("Connection");
    ContentVersion = h.HeaderValue("Content-Version");
    ContentEncoding = h.HeaderValue("Content-Encoding");
    ContentLanguage = h.HeaderValue("Content-Language");
    ContentType = h.HeaderValue("Content-Type");
    const auto length = TryStrToInt64(Trim(h.HeaderValue("Content-Length")));
    ContentLength = length && *length >= 0 ? *length : -1;
    Date = InternetDateToLocal(h.HeaderValue("Date"));
    LastModified = InternetDateToLocal(h.HeaderValue("Last-Modified"));
    Pragma = h.HeaderValue("Pragma");
}

void TIdEntityHeaderInfo::WriteToLines() {
    TIdHeaderList& h = headerLines_;
    h.Clear();
    Put(h, "Connection", Connection);
    Put(h, "Content-Version", ContentVersion);
    Put(h, "Content-Encoding", ContentEncoding);
    Put(h, "Content-Language", ContentLanguage);
    Put(h, "Content-Type", ContentType);
    if (ContentLength >= 0) Put(h, "Content-Length", std::to_string(ContentLength));
    Put(h, "Cache-control", CacheControl);
    if (Date > 0) Put(h, "Date", FormatInternetDate(Date));
    if (Expires > 0) Put(h, "Expires", FormatInternetDate(Expires));
    Put(h, "Pragma", Pragma);
    if (CustomHeaders.Count() > 0) h.SetText(h.Text() + CustomHeaders.Text());
}

// --- Request -----------------------------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo() { ClearRequestFields(); }

void TIdRequestHeaderInfo::ClearRequestFields() {
    Accept = "text/html, */*";
    AcceptCharSet.clear();
    UserAgent = "Mozilla/3.0 (compatible; Tarnwick)";
    basicAuthentication_ = false;
}

void TIdRequestHeaderInfo::ClearFields() {
    TIdEntityHeaderInfo::ClearFields();
    ClearRequestFields();
}

void TIdRequestHeaderInfo::WriteToLines() {
    TIdEntityHeaderInfo::WriteToLines();
    TIdHeaderList& h = HeaderLines();
    Put(h, "Proxy-Connection", ProxyConnection);
    Put(h, "Host", Host);
    Put(h, "Accept", Accept);
    Put(h, "Accept-Charset", AcceptCharSet);
    Put(h, "Accept-Encoding", AcceptEncoding);
    Put(h, "Accept-Language", AcceptLanguage);
    Put(h, "From", From);
    Put(h, "Referer", Referer);
    Put(h, "User-Agent", UserAgent);
    if (LastModified > 0) Put(h, "If-Modified-Since", FormatInternetDate(LastModified));
    Put(h, "If-Range", IfRange);
    if (ContentRangeStart != 0 || ContentRangeEnd != 0 || RangeFromStart) {
        std::string range = "bytes=" + std::to_string(ContentRangeStart) + "-";
        if (ContentRangeEnd != 0) range += std::to_string(ContentRangeEnd);
        Put(h, "Range", range);
    }
    if (authScheme_) {
        Put(h, "Authorization", authScheme_->Answer());
    } else if (basicAuthentication_) {
        auto basic = std::make_unique<TIdBasicAuthentication>();
        basic->SetUsername(username_);
        basic->SetPassword(password_);
        authScheme_ = std::move(basic);
        Put(h, "Authorization", authScheme_->Answer());
    }
}

// --- Response ----------------------------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo() : Clock([] { return Now(); }) {
    ClearResponseFields();
}

void TIdResponseHeaderInfo::ClearResponseFields() {
    Location.clear();
    Server.clear();
    ETag.clear();
    ContentRangeInstanceLength = -1;
    WWWAuthenticate.Clear();
    ProxyAuthenticate.Clear();
}

void TIdResponseHeaderInfo::ClearFields() {
    TIdEntityHeaderInfo::ClearFields();
    ClearResponseFields();
}

void TIdResponseHeaderInfo::ReadFromLines() {
    const TIdHeaderList& h = HeaderLines();
    Location = h.HeaderValue("Location");
    Server = h.HeaderValue("Server");
    ProxyConnection = h.HeaderValue("Proxy-Connection");
    ETag = h.HeaderValue("ETag");

    // "bytes 0-99/200": the unit goes, then the numbers before "-" and before "/", then the
    // total. An answer without the header must not keep the range of the answer before it.
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
    ContentRangeInstanceLength = -1;
    if (std::string range = h.HeaderValue("Content-Range"); !range.empty()) {
        CutToken(range, " ");
        // A 416 answer names no range, only the total: "bytes */200".
        if (!range.starts_with("*/")) {
            ContentRangeStart = StrToInt64(CutToken(range, "-"));
            ContentRangeEnd = StrToInt64(CutToken(range, "/"));
        } else {
            CutToken(range, "/");
        }
        const auto total = TryStrToInt64(Trim(range));
        ContentRangeInstanceLength = total && *total >= 0 ? *total : -1;
    }

    WWWAuthenticate.Clear();
    h.CollectValues("WWW-Authenticate", &WWWAuthenticate);
    ProxyAuthenticate.Clear();
    h.CollectValues("Proxy-Authenticate", &ProxyAuthenticate);

    TIdEntityHeaderInfo::ReadFromLines();

    const std::string expires = h.HeaderValue("Expires");
    if (const auto seconds = TryStrToInt(expires); seconds && *seconds != -1)
        Expires = Clock() + *seconds * kOneSecond;
    else
        Expires = InternetDateToLocal(expires);
}

}  // namespace tarnwick
