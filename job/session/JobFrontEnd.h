#pragma once

// What a download worker needs of the program's front end (the window, or tarnwick-download).
// The front end has a thread of its own (the window's event loop); the worker calls these on the
// worker's thread and the front end carries them over to its thread.

#include <array>
#include <cstdint>
#include <string>

namespace tarnwick {

// The progress notification's code and its first parameters.
inline constexpr std::int32_t kProgressNotification = 1034;
enum TProgressKind : std::int32_t {
    pkBegin = 0,     // second parameter: the expected total (0 when unknown)
    pkProgress = 1,  // second parameter: bytes so far
    pkEnd = 2,       // second parameter: 0
};

class TJobFrontEnd {
public:
    virtual ~TJobFrontEnd() = default;

    // Shows author, title, length and size (each already with two blanks in front) on the
    // front end's thread, and returns once they are shown.
    virtual void ShowDescription(const std::array<std::string, 4>& texts) = 0;

    // Posts a progress notification without waiting. Notifications are handled on the front
    // end's thread in the order posted.
    virtual void PostProgress(TProgressKind kind, std::int64_t value) = 0;

    // Posts a status text without waiting (a broken transfer that waits for its next try), in
    // order with the progress notifications.
    virtual void PostStatus(const std::string& text) = 0;

    // The worker's termination handler: runs the front end's end-of-job handling on its thread,
    // after every notification posted before it, and returns when that handling has returned.
    // The worker's thread ends right after.
    virtual void FinishJob() = 0;
};

}  // namespace tarnwick
