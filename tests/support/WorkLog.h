#pragma once

// Records a component's work events as text, with the thread each fired on:
// "begin r 500", "work r 200", "end r".

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/IdComponent.h"

namespace tarnwick::testing {

class WorkLog {
public:
    explicit WorkLog(TIdComponent& c) {
        c.OnWorkBegin = [this](TIdComponent&, TWorkMode m, std::int64_t max) {
            Add("begin " + Mode(m) + " " + std::to_string(max));
        };
        c.OnWork = [this](TIdComponent&, TWorkMode m, std::int64_t count) {
            Add("work " + Mode(m) + " " + std::to_string(count));
        };
        c.OnWorkEnd = [this](TIdComponent&, TWorkMode m) {
            Add("end " + Mode(m));
            std::lock_guard lock(mutex_);
            end_thread_ = std::this_thread::get_id();
        };
    }

    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // The thread the last OnWorkEnd fired on.
    std::thread::id EndThread() const {
        std::lock_guard lock(mutex_);
        return end_thread_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    static std::string Mode(TWorkMode m) { return m == wmRead ? "r" : "w"; }
    void Add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::thread::id end_thread_;
};

using Events = std::vector<std::string>;

}  // namespace tarnwick::testing
