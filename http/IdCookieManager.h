#pragma once

// The cookie store of an HTTP client: receives the values of "Set-cookie" and "Set-cookie2"
// headers, keeps at most one cookie per domain and name, drops expired ones, and builds the
// "Cookie" header value for an address. Nothing is ever written to disk.
//
// What servers can make it hold is bounded: kMaxCookiesPerDomain cookies per domain and
// kMaxCookies in all (a new cookie beyond either replaces the least recently stored or sent one,
// of its domain or of all), and no cookie whose name and value together exceed kMaxCookieBytes.
// Storing a cookie never scans the whole store.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/Component.h"
#include "http/IdCookie.h"
#include "http/IdCookies.h"
#include "http/IdURI.h"

namespace tarnwick {

class TIdCookieManager;

using TOnManagerEvent =
    std::function<void(TIdCookieManager& ASender, TIdCookies& ACookieCollection)>;
// VAccept is true on entry; a handler that clears it refuses the cookie.
using TOnNewCookieEvent =
    std::function<void(TIdCookieManager& ASender, TIdCookieRFC2109& ACookie, bool& VAccept)>;

class TIdCookieManager : public TComponent {
public:
    static constexpr std::int32_t kMaxCookiesPerDomain = 50;
    static constexpr std::size_t kMaxCookies = 3000;
    static constexpr std::size_t kMaxCookieBytes = 4096;

    // Creates the collection, then fires onCreate (kept as OnCreate).
    explicit TIdCookieManager(TComponent* owner = nullptr, TOnManagerEvent onCreate = {});
    // Purges expired cookies (a failure to read the time zone is ignored here), fires OnDestroy,
    // then frees the collection and every record.
    ~TIdCookieManager() override;

    // One header value from a response of responseHost; kind is ckRFC2965 for "Set-cookie2",
    // ckRFC2109 otherwise. A cookie without a domain takes responseHost; a cookie whose domain
    // responseHost may not set, whose name or value holds a CR or LF, whose name and value
    // exceed kMaxCookieBytes, or that OnNewCookie refuses, is dropped; any other is stored.
    // Throws EConvertError for a "Set-cookie2" Port list entry that is not a number (the record
    // then stays in the collection, never stored or sent).
    void ReceiveCookie(std::string_view cookieText, std::string_view responseHost,
                       TIdCookieKind kind);

    // Stores a new record of the collection. A stored cookie of the same domain and name
    // (ignoring case) copies it and keeps its place, and the new record is destroyed. Either is
    // then the most recently used; a full domain or store first loses its least recently used.
    void StoreCookie(TIdCookieRFC2109& cookie);

    // Destroys every stored cookie whose Expires is set and earlier than now; an expiry that
    // cannot be read counts as expired. Throws EIdFailedToRetreiveTimeZoneInfo when the local
    // zone cannot be read.
    void PurgeExpired();

    // The "Cookie" header value for the address (its Host and Path), empty when none applies,
    // after purging expired cookies. A cookie is sent when its domain (a leading dot ignored)
    // equals the host or ends it after a ".", ignoring case; its path is non-empty and begins
    // the address's Path; it has a value; and it is not secure unless secure is set.
    // Order: longer (later-sorting) paths first; equal paths in collection order (domains in the
    // order stored, within a domain the most recently added name first).
    // "name=value" pairs joined with "; ". Every cookie sent counts as used. Throws as
    // PurgeExpired.
    std::string BuildCookieHeader(const TIdURI& address, bool secure);

    TIdCookies& CookieCollection() noexcept { return *cookies_; }

    // Where the store reads "now" (the system's local clock by default).
    void SetClock(TIdClock clock) { cookies_->SetClock(std::move(clock)); }

    TOnManagerEvent OnCreate;
    TOnManagerEvent OnDestroy;
    TOnNewCookieEvent OnNewCookie;

private:
    std::unique_ptr<TIdCookies> cookies_;
};

// Whether a cookie stored for domain may go to host: host equals domain (without one leading
// dot), or ends with "." followed by it; letter case ignored.
bool CookieDomainMatches(std::string_view host, std::string_view domain);

}  // namespace tarnwick
