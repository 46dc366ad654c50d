#include "job/fetch/FragmentWindow.h"

#include "net/IdExceptions.h"

namespace tarnwick {

TFragmentWindow::TFragmentWindow(std::size_t count, std::int64_t bound, TIdAbortSignal& stop)
    : count_(count), bound_(bound), stop_(stop), wake_(stop.OnAbort([this] {
          std::lock_guard lock(mutex_);
          changed_.notify_all();
      })) {}

std::optional<std::size_t> TFragmentWindow::Take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
        return stop_.Aborted() || next_ >= count_ || held_ < bound_ || next_ == written_;
    });
    if (stop_.Aborted() || next_ >= count_) return std::nullopt;
    return next_++;
}

void TFragmentWindow::Account(std::size_t index, std::int64_t change) {
    std::unique_lock lock(mutex_);
    if (change > 0) {
        changed_.wait(
            lock, [&] { return stop_.Aborted() || index == written_ || held_ + change <= bound_; });
        if (stop_.Aborted()) throw EIdNotConnected();
    }
    held_ += change;
    if (change < 0) changed_.notify_all();
}

void TFragmentWindow::Fetched(std::size_t index, std::string bytes, std::int64_t counted,
                              std::string contentType) {
    std::lock_guard lock(mutex_);
    held_ += static_cast<std::int64_t>(bytes.size()) - counted;
    fetched_.emplace(index, std::make_pair(std::move(bytes), std::move(contentType)));
    changed_.notify_all();
}

void TFragmentWindow::Tell(std::string text) {
    std::lock_guard lock(mutex_);
    waits_.push_back(std::move(text));
    changed_.notify_all();
}

void TFragmentWindow::Fail(std::exception_ptr failure) {
    {
        std::lock_guard lock(mutex_);
        // A connection that ends because another failed adds nothing.
        if (!failure_ && !stop_.Aborted()) failure_ = std::move(failure);
    }
    stop_.Abort();
}

TFragmentWindow::TNews TFragmentWindow::Next() {
    std::unique_lock lock(mutex_);
    changed_.wait(
        lock, [&] { return stop_.Aborted() || !waits_.empty() || fetched_.contains(written_); });
    if (failure_) std::rethrow_exception(failure_);
    if (stop_.Aborted()) throw EIdNotConnected();
    TNews news;
    news.waits.swap(waits_);
    if (const auto found = fetched_.find(written_); found != fetched_.end()) {
        news.fragment = std::move(found->second.first);
        news.contentType = std::move(found->second.second);
        fetched_.erase(found);
    }
    return news;
}

void TFragmentWindow::Written(std::int64_t size) {
    std::lock_guard lock(mutex_);
    held_ -= size;
    ++written_;
    changed_.notify_all();
}

}  // namespace tarnwick
