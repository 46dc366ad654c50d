#pragma once

// A front end's thread as the job sees it: a queue of tasks that one thread of the front end (the
// window's event loop, tarnwick-download's main loop, a test's loop) runs in the order they were
// posted. The job never calls a front end on its own threads; it posts here.

#include <functional>

namespace tarnwick {

class TTaskQueue {
public:
    virtual ~TTaskQueue() = default;

    // Any thread: runs task on the front end's thread after every task posted before it. Never
    // blocks and never runs task inside the call. A queue whose thread has stopped drops tasks.
    virtual void Post(std::function<void()> task) = 0;
};

}  // namespace tarnwick
