#include "http/IdCookieManager.h"

#include <algorithm>
#include <vector>

#include "core/StrUtils.h"
#include "http/IdInternetDate.h"

namespace tarnwick {

TIdCookieManager::TIdCookieManager(TComponent* owner, TOnManagerEvent onCreate)
    : TComponent(owner),
      OnCreate(std::move(onCreate)),
      cookies_(std::make_unique<TIdCookies>(this)) {
    if (OnCreate) OnCreate(*this, *cookies_);
}

TIdCookieManager::~TIdCookieManager() {
    try {
        PurgeExpired();
    } catch (...) {
        // Everything goes with the collection below anyway.
    }
    if (OnDestroy) OnDestroy(*this, *cookies_);
    cookies_.reset();
}

void TIdCookieManager::ReceiveCookie(std::string_view cookieText, std::string_view responseHost,
                                     TIdCookieKind kind) {
    TIdCookieRFC2109& cookie =
        kind == ckRFC2965 ? cookies_->Add<TIdCookieRFC2965>() : cookies_->Add<TIdCookieRFC2109>();
    cookie.ParseCookieText(cookieText);
    if (cookie.Domain.empty()) cookie.Domain = std::string(responseHost);
    // A line break could only go back to a server inside the Cookie line, which a request never
    // carries.
    const auto hasLineBreak = [](const std::string& s) {
        return s.find_first_of("\r\n") != std::string::npos;
    };
    if (hasLineBreak(cookie.Name) || hasLineBreak(cookie.Value) ||
        cookie.Name.size() + cookie.Value.size() > kMaxCookieBytes ||
        !cookie.DomainAccepted(responseHost)) {
        cookies_->Extract(cookie);
        return;
    }
    bool accept = true;
    if (OnNewCookie) OnNewCookie(*this, cookie, accept);
    if (accept)
        StoreCookie(cookie);
    else
        cookies_->Extract(cookie);
}

void TIdCookieManager::StoreCookie(TIdCookieRFC2109& cookie) {
    TIdWriteLock write(cookies_->Lock());
    TIdCookieList& names = cookies_->AddDomain(cookie.Domain);
    const std::int32_t at = names.IndexOf(cookie.Name);
    if (at >= 0) {
        TIdCookieRFC2109& stored = names.Cookies(at);
        stored.Assign(cookie);
        cookies_->MarkUsed(stored);
        cookies_->Extract(cookie);
        return;
    }
    if (names.Count() >= kMaxCookiesPerDomain) {
        std::int32_t oldest = 0;
        for (std::int32_t i = 1; i < names.Count(); ++i)
            if (TIdCookies::LastUse(names.Cookies(i)) < TIdCookies::LastUse(names.Cookies(oldest)))
                oldest = i;
        cookies_->Destroy(names.Cookies(oldest));
    }
    if (cookies_->StoredCount() >= kMaxCookies)
        if (TIdCookieRFC2109* oldest = cookies_->LeastRecentlyUsed()) cookies_->Destroy(*oldest);
    names.Add(cookie.Name, cookie);
    cookies_->MarkUsed(cookie);
}

void TIdCookieManager::PurgeExpired() {
    TIdWriteLock write(cookies_->Lock());
    const TDateTime now = cookies_->Now();
    for (std::int32_t d = 0; d < cookies_->DomainCount(); ++d) {
        TIdCookieList& names = cookies_->DomainCookies(d);
        for (std::int32_t i = names.Count() - 1; i >= 0; --i) {
            const TIdCookieRFC2109& cookie = names.Cookies(i);
            if (!cookie.Expires.empty() && now > InternetDateToLocal(cookie.Expires))
                cookies_->Destroy(cookie);
        }
    }
}

bool CookieDomainMatches(std::string_view host, std::string_view domain) {
    if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
    if (SameText(host, domain)) return true;
    return host.size() > domain.size() && host[host.size() - domain.size() - 1] == '.' &&
           SameText(host.substr(host.size() - domain.size()), domain);
}

std::string TIdCookieManager::BuildCookieHeader(const TIdURI& address, bool secure) {
    PurgeExpired();
    // Sending a cookie marks it as used: a write.
    TIdWriteLock write(cookies_->Lock());

    // Kept sorted by path ignoring case; an equal path goes before the ones already there.
    std::vector<TIdCookieRFC2109*> selected;
    for (std::int32_t d = 0; d < cookies_->DomainCount(); ++d) {
        if (!CookieDomainMatches(address.Host, cookies_->Domain(d))) continue;
        const TIdCookieList& names = cookies_->DomainCookies(d);
        for (std::int32_t i = names.Count() - 1; i >= 0; --i) {
            TIdCookieRFC2109& cookie = names.Cookies(i);
            if (cookie.Path.empty() || !address.Path.starts_with(cookie.Path)) continue;
            if (cookie.Secure && !secure) continue;
            if (cookie.Value.empty()) continue;
            const auto at =
                std::lower_bound(selected.begin(), selected.end(), &cookie,
                                 [](const TIdCookieRFC2109* a, const TIdCookieRFC2109* b) {
                                     return CompareText(a->Path, b->Path) < 0;
                                 });
            selected.insert(at, &cookie);
        }
    }

    std::string header;
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
        if (!header.empty()) header += "; ";
        header += (*it)->Name + "=" + (*it)->Value;
        cookies_->MarkUsed(**it);
    }
    return header;
}

}  // namespace tarnwick
