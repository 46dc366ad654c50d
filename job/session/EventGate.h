#pragma once

// The way a session's events reach its front end: each is posted to the front end's task queue
// and runs there, in order, unless the gate was closed first. The posted tasks may run after the
// session is gone, and then do nothing. Closing waits for an event that runs on another thread,
// and lets go a job's thread that waits for a call.

#include <functional>
#include <memory>

#include "job/session/DownloadSession.h"
#include "job/session/TaskQueue.h"

namespace tarnwick {

class TEventGate {
public:
    using TShow = std::function<void(TSessionEvents&)>;

    // events and queue must outlive the gate's tasks' runs (the front end's loop).
    TEventGate(TSessionEvents& events, TTaskQueue& queue);

    // Any thread: runs show on the front end's thread, unless the gate closed first.
    void Emit(TShow show);
    // As Emit, and returns once show ran or the gate closed.
    void Call(TShow show);
    // True once closed. An event may ask from the front end's thread.
    bool Closed() const;
    // No event runs after it returns (one running on another thread is waited for), and a Call
    // that waits returns. False when it was closed already.
    bool Close();

private:
    struct TShared;
    TTaskQueue& queue_;
    const std::shared_ptr<TShared> shared_;
};

}  // namespace tarnwick
