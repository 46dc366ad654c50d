#pragma once

// Sets the process's time zone (the TZ variable, then tzset) for the life of the object and puts
// the previous setting back afterwards. POSIX zone strings need no zone database, e.g. "UTC0" or
// "CET-1CEST,M3.5.0,M10.5.0/3".

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tarnwick::testing {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        ::setenv("TZ", zone.c_str(), 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (previous_)
            ::setenv("TZ", previous_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

}  // namespace tarnwick::testing
