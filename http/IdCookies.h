#pragma once

// The collection of a cookie store: it owns every cookie record, stored or not yet stored, and
// holds the by-domain index of the stored ones (domain -> name -> record), guarded by a
// many-readers, one-writer lock that its writer may take again.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/IdCookie.h"
#include "http/IdDateTime.h"
#include "http/IdReadWriteLock.h"

namespace tarnwick {

class TIdCookieManager;

// Names mapped to records, in the order added; lookups ignore case. Refers to the records, does
// not own them.
class TIdCookieList {
public:
    std::int32_t Count() const noexcept { return std::int32_t(entries_.size()); }
    const std::string& Strings(std::int32_t index) const {
        return entries_.at(std::size_t(index)).first;
    }
    TIdCookieRFC2109& Cookies(std::int32_t index) const {
        return *entries_.at(std::size_t(index)).second;
    }
    // The first entry named name ignoring case, or -1.
    std::int32_t IndexOf(std::string_view name) const noexcept;
    std::int32_t IndexOfCookie(const TIdNetscapeCookie& cookie) const noexcept;
    void Add(std::string name, TIdCookieRFC2109& cookie);
    void Delete(std::int32_t index);

private:
    std::vector<std::pair<std::string, TIdCookieRFC2109*>> entries_;
};

class TIdCookies {
public:
    explicit TIdCookies(TIdCookieManager* owner = nullptr);
    ~TIdCookies();
    TIdCookies(const TIdCookies&) = delete;
    TIdCookies& operator=(const TIdCookies&) = delete;

    TIdCookieManager* Owner() const noexcept { return owner_; }

    // Creates a record of class T (TIdCookieRFC2109 or TIdCookieRFC2965) inside the collection.
    template <class T = TIdCookieRFC2109>
    T& Add() {
        auto record = std::make_unique<T>(this);
        T& added = *record;
        items_.push_back(std::move(record));
        return added;
    }

    std::size_t Count() const noexcept { return items_.size(); }
    TIdCookieRFC2109& operator[](std::size_t index) const { return *items_.at(index); }

    // Takes a record out of the collection without touching the index (for a record that was
    // never stored). Empty when the record is not in the collection.
    std::unique_ptr<TIdCookieRFC2109> Extract(const TIdNetscapeCookie& record);
    // Destroys a record of the collection; a stored one first leaves its domain's name list and
    // the order of use, under the write lock.
    void Destroy(const TIdNetscapeCookie& record);

    // The order of use of the stored cookies (call under the write lock): MarkUsed makes a stored
    // record the most recently used (and counts it as stored from its first use on).
    void MarkUsed(TIdCookieRFC2109& record);
    // The stored record used longest ago, or null when none is stored.
    TIdCookieRFC2109* LeastRecentlyUsed() const;
    // When record was last used (larger is later); 0 for one never marked.
    static std::uint64_t LastUse(const TIdNetscapeCookie& record) noexcept {
        return record.lastUse_;
    }
    // The count of records marked as used and not destroyed since.
    std::size_t StoredCount() const noexcept { return byUse_.size(); }

    // The by-domain index, in the order domains were first stored; lookups ignore case. A domain
    // stays even when its list becomes empty. Read it under the lock.
    std::int32_t DomainCount() const noexcept { return std::int32_t(domains_.size()); }
    const std::string& Domain(std::int32_t index) const {
        return domains_.at(std::size_t(index)).first;
    }
    TIdCookieList& DomainCookies(std::int32_t index) const {
        return *domains_.at(std::size_t(index)).second;
    }
    // The name list of domain, or null.
    TIdCookieList* FindDomain(std::string_view domain) const noexcept;
    // The name list of domain, appended empty when absent. Call under the write lock.
    TIdCookieList& AddDomain(std::string_view domain);

    TIdReadWriteLock& Lock() noexcept { return lock_; }

    // The current local date-time, from the clock (the system's local clock by default).
    TDateTime Now() const { return clock_(); }
    void SetClock(TIdClock clock);

private:
    TIdCookieManager* owner_;
    TIdClock clock_;
    TIdReadWriteLock lock_;
    std::vector<std::pair<std::string, std::unique_ptr<TIdCookieList>>> domains_;
    std::vector<std::unique_ptr<TIdCookieRFC2109>> items_;
    std::map<std::uint64_t, TIdCookieRFC2109*> byUse_;  // stored records by their last use
    std::uint64_t uses_ = 0;
};

}  // namespace tarnwick
