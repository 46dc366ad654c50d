#include "app/JobHandOver.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

namespace tarnwick {

TJobHandOver::TJobHandOver(QObject& window, TDescriptionHandler showDescription, std::function<void()> finishJob)
    : window_(window), showDescription_(std::move(showDescription)), finishJob_(std::move(finishJob)) {}

void TJobHandOver::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    done_.notify_all();
}

void TJobHandOver::ShowDescription(const std::array<std::string, 4>& texts) {
    RunOnWindow([this, texts] { showDescription_(texts); });
}

void TJobHandOver::PostProgress(TProgressKind kind, std::int64_t value) {
    std::lock_guard lock(mutex_);
    // Under the lock: the window is not torn down while the event goes into its queue.
    if (!closed_) QCoreApplication::postEvent(&window_, new TProgressEvent(kind, value));
}

void TJobHandOver::FinishJob() { RunOnWindow(finishJob_); }

void TJobHandOver::RunOnWindow(std::function<void()> call) {
    std::unique_lock lock(mutex_);
    if (closed_) return;
    const std::uint64_t ticket = callsRun_ + 1;
    // A queued call goes into the same queue as the posted progress events, behind them.
    QMetaObject::invokeMethod(
        &window_,
        [this, call = std::move(call)] {
            {
                std::lock_guard guard(mutex_);
                if (closed_) return;
            }
            call();
            {
                std::lock_guard guard(mutex_);
                ++callsRun_;
            }
            done_.notify_all();
        },
        Qt::QueuedConnection);
    done_.wait(lock, [&] { return closed_ || callsRun_ >= ticket; });
}

TDeliveryHandOver::TDeliveryHandOver(QObject& window, THandlers handlers)
    : window_(window), handlers_(std::move(handlers)) {}

void TDeliveryHandOver::DeliveryStatus(const std::string& text) {
    QMetaObject::invokeMethod(&window_, [this, text] { handlers_.status(text); }, Qt::QueuedConnection);
}

void TDeliveryHandOver::ConversionProgress(double fraction) {
    QMetaObject::invokeMethod(&window_, [this, fraction] { handlers_.progress(fraction); }, Qt::QueuedConnection);
}

void TDeliveryHandOver::DeliveryFinished(const TDeliveryResult& result) {
    QMetaObject::invokeMethod(&window_, [this, result] { handlers_.finished(result); }, Qt::QueuedConnection);
}

}  // namespace tarnwick
