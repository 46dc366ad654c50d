#pragma once

// Carries the job's calls from its threads (the download worker, conversion and delivery) over to
// the window's thread, through the window's event queue, in the order they were made.

#include <QEvent>
#include <QObject>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "job/ConvertAndDeliver.h"
#include "job/JobFrontEnd.h"

namespace tarnwick {

// The progress notification as the window receives it: event type 1034 with its two parameters.
class TProgressEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(kProgressNotification);
    TProgressEvent(TProgressKind kind, std::int64_t value) : QEvent(kType), kind_(kind), value_(value) {}
    TProgressKind Kind() const noexcept { return kind_; }
    std::int64_t Value() const noexcept { return value_; }

private:
    TProgressKind kind_;
    std::int64_t value_;
};

// The worker's front end. Progress is posted to window as TProgressEvent; the description and the
// end of the job run the given handlers on the window's thread, after everything posted before
// them, while the worker waits.
//
// Close (window's thread) ends the hand-over for good: a worker waiting for a handler returns at
// once, and no handler runs after it. So the window can abort and join a worker that is blocked in
// a hand-over without a deadlock.
class TJobHandOver : public TJobFrontEnd {
public:
    using TDescriptionHandler = std::function<void(const std::array<std::string, 4>&)>;

    TJobHandOver(QObject& window, TDescriptionHandler showDescription, std::function<void()> finishJob);

    void Close();

    void ShowDescription(const std::array<std::string, 4>& texts) override;
    void PostProgress(TProgressKind kind, std::int64_t value) override;
    void FinishJob() override;

private:
    // Runs call on the window's thread and waits until it has run or the hand-over is closed.
    void RunOnWindow(std::function<void()> call);

    QObject& window_;
    TDescriptionHandler showDescription_;
    std::function<void()> finishJob_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool closed_ = false;
    std::uint64_t callsRun_ = 0;
};

// Conversion and delivery's observer: each report becomes a queued call of the matching handler
// on the window's thread (the delivery thread never waits for the window).
class TDeliveryHandOver : public TDeliveryObserver {
public:
    struct THandlers {
        std::function<void(const std::string&)> status;
        std::function<void(double)> progress;
        std::function<void(const TDeliveryResult&)> finished;
    };
    TDeliveryHandOver(QObject& window, THandlers handlers);

    void DeliveryStatus(const std::string& text) override;
    void ConversionProgress(double fraction) override;
    void DeliveryFinished(const TDeliveryResult& result) override;

private:
    QObject& window_;
    THandlers handlers_;
};

}  // namespace tarnwick
