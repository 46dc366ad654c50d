#pragma once

// The window's thread as the job's task queue: each task is a posted event of type 1034 to the
// window, run by the window's event loop in the order posted. Events still queued when the
// window goes are dropped with it.

#include <QEvent>
#include <QObject>

#include <functional>

#include "job/session/TaskQueue.h"

namespace tarnwick {

class TJobTaskEvent : public QEvent {
public:
    // The window's one event type of its own, in Qt's user range (QEvent::User is 1000).
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(1034);
    explicit TJobTaskEvent(std::function<void()> task) : QEvent(kType), task_(std::move(task)) {}
    void Run() const { task_(); }

private:
    std::function<void()> task_;
};

class TJobQueue : public TTaskQueue {
public:
    // window's customEvent runs each TJobTaskEvent.
    explicit TJobQueue(QObject& window) : window_(window) {}
    void Post(std::function<void()> task) override;

private:
    QObject& window_;
};

}  // namespace tarnwick
