#pragma once

// A bound on the connections to one host at once, across the process: every connection of a
// pieced transfer holds a slot of its host while it is open, whatever other transfer runs beside
// it. A connection that finds its host's slots taken waits for one; the wait ends at once when
// its abort is set.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "http/IdAbortSignal.h"

namespace tarnwick {

class TIdHostSlots {
public:
    // A slot taken; given back when it goes.
    class TSlot {
    public:
        TSlot() = default;
        TSlot(TSlot&& other) noexcept;
        TSlot& operator=(TSlot&& other) noexcept;
        ~TSlot() { Release(); }
        void Release() noexcept;

    private:
        friend class TIdHostSlots;
        TSlot(TIdHostSlots* slots, std::string host) : slots_(slots), host_(std::move(host)) {}
        TIdHostSlots* slots_ = nullptr;
        std::string host_;
    };

    TIdHostSlots() = default;
    TIdHostSlots(const TIdHostSlots&) = delete;
    TIdHostSlots& operator=(const TIdHostSlots&) = delete;

    // The slots every transfer of the process shares.
    static TIdHostSlots& Process();

    // Waits until fewer than limit slots of host ("name:port") are taken and takes one. Throws
    // EIdNotConnected when abort is set, before or during the wait.
    [[nodiscard]] TSlot Take(const std::string& host, std::int32_t limit,
                             const TIdAbortSignal& abort);
    // The slots of host taken now.
    std::int32_t Taken(const std::string& host) const;

private:
    void Give(const std::string& host) noexcept;

    mutable std::mutex mutex_;
    std::condition_variable freed_;
    std::map<std::string, std::int32_t> taken_;
};

}  // namespace tarnwick
