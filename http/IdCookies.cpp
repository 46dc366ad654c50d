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
    // From both ends at once: a record just parsed is the last, the one evicted is mostly among
    // the first, and a full store must not be scanned whole for either.
    auto found = items_.end();
    for (std::size_t front = 0, back = items_.size(); front < back; ++front) {
        if (items_[front].get() == &record) {
            found = items_.begin() + std::ptrdiff_t(front);
            break;
        }
        if (items_[--back].get() == &record) {
            found = items_.begin() + std::ptrdiff_t(back);
            break;
        }
    }
    if (found == items_.end()) return nullptr;
    std::unique_ptr<TIdCookieRFC2109> taken = std::move(*found);
    items_.erase(found);
    if (taken->lastUse_ != 0) byUse_.erase(taken->lastUse_);
    taken->lastUse_ = 0;
    taken->collection_ = nullptr;
    return taken;
}

void TIdCookies::Destroy(const TIdNetscapeCookie& record) {
    {
        TIdWriteLock write(lock_);
        const auto leave = [&](TIdCookieList& names) {
            const std::int32_t at = names.IndexOfCookie(record);
            if (at >= 0) names.Delete(at);
            return at >= 0;
        };
        // Its own domain's list first; any other only when it is not there.
        TIdCookieList* own = FindDomain(record.Domain);
        if (!own || !leave(*own))
            for (auto& [domain, names] : domains_)
                if (leave(*names)) break;
    }
    Extract(record);
}

void TIdCookies::MarkUsed(TIdCookieRFC2109& record) {
    if (record.lastUse_ != 0) byUse_.erase(record.lastUse_);
    record.lastUse_ = ++uses_;
    byUse_.emplace(record.lastUse_, &record);
}

TIdCookieRFC2109* TIdCookies::LeastRecentlyUsed() const {
    return byUse_.empty() ? nullptr : byUse_.begin()->second;
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
