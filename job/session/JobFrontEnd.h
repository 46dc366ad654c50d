#pragma once

// What a download worker needs of the program's front end (the window, or tarnwick-download).
// The front end has a thread of its own (the window's event loop); the worker calls these on the
// worker's thread and the front end carries them over to its thread.

#include <array>
#include <cstdint>
#include <string>

#include "job/session/JobStage.h"

namespace tarnwick {

// The kinds of progress notification, each with its parameter.
enum TProgressKind : std::int32_t {
    pkBegin = 0,     // second parameter: the expected total (0 when unknown)
    pkProgress = 1,  // second parameter: bytes so far
    pkEnd = 2,       // second parameter: 0
};

class TJobFrontEnd {
public:
    virtual ~TJobFrontEnd() = default;

    // The worker's job enters a stage (description, preview, transfer), before its first step.
    virtual void EnterStage(TJobStage stage) = 0;

    // Shows author, title, length and size (each already with two blanks in front) on the
    // front end's thread, and returns once they are shown.
    virtual void ShowDescription(const std::array<std::string, 4>& texts) = 0;

    // Posts a progress notification without waiting. Notifications are handled on the front
    // end's thread in the order posted.
    virtual void PostProgress(TProgressKind kind, std::int64_t value) = 0;

    // Posts a status text without waiting (a broken transfer that waits for its next try), in
    // order with the progress notifications.
    virtual void PostStatus(const std::string& text) = 0;

    // The worker's termination handler, called last on the worker's thread. The front end ends
    // the job from here without waiting for its own thread: it starts what follows the download
    // (the session: conversion and delivery, on a thread of their own) or posts the job's end,
    // handled on its thread after every notification posted before it. The worker's thread ends
    // when this returns.
    virtual void FinishJob() = 0;
};

}  // namespace tarnwick
