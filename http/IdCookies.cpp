#include "http/IdCookies.h"

#include <algorithm>

#include "core/StrUtils.h"

namespace tarnwick {

std::int32_t TIdCookieList::IndexOf(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (SameText(entries_[i].first, name)) return std::int32_t(i);
    return -1;
}

std::int32_t TIdCookieList::IndexOfCookie(const TIdNetscapeCookie& cookie) const noexcept {
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].second == &cookie) return std::int32_t(i);
    return -1;
}

void TIdCookieList::Add(std::string name, TIdCookieRFC2109& cookie) {
    entries_.emplace_back(std::move(name), &cookie);
}

void TIdCookieList::Delete(std::int32_t index) {
    entries_.erase(entries_.begin() + std::ptrdiff_t(index));
}

TIdCookies::TIdCookies(TIdCookieManager* owner)
    : owner_(owner), clock_([] { return tarnwick::Now(); }) {}

TIdCookies::~TIdCookies() {
    // The records first, while the index they are listed in still exists.
    items_.clear();
    domains_.clear();
}

void TIdCookies::SetClock(TIdClock clock) {
    clock_ = clock ? std::move(clock) : TIdClock([] { return tarnwick::Now(); });
}

std::unique_ptr<TIdCookieRFC2109> TIdCookies::Extract(const TIdNetscapeCookie& record) {
    const auto it = std::find_if(items_.begin(), items_.end(),
                                 [&](const auto& item) { return item.get() == &record; });
    if (it == items_.end()) return nullptr;
    std::unique_ptr<TIdCookieRFC2109> taken = std::move(*it);
    items_.erase(it);
    taken->collection_ = nullptr;
    return taken;
}

void TIdCookies::Destroy(const TIdNetscapeCookie& record) {
    {
        TIdWriteLock write(lock_);
        for (auto& [domain, names] : domains_) {
            const std::int32_t at = names->IndexOfCookie(record);
            if (at >= 0) {
                names->Delete(at);
                break;
            }
        }
    }
    Extract(record);
}

TIdCookieList* TIdCookies::FindDomain(std::string_view domain) const noexcept {
    for (const auto& [name, list] : domains_)
        if (SameText(name, domain)) return list.get();
    return nullptr;
}

TIdCookieList& TIdCookies::AddDomain(std::string_view domain) {
    if (TIdCookieList* list = FindDomain(domain)) return *list;
    domains_.emplace_back(std::string(domain), std::make_unique<TIdCookieList>());
    return *domains_.back().second;
}

}  // namespace tarnwick
