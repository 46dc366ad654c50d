#pragma once

// Front ends for job tests. TestQueue is a front end's thread: a loop of its own that runs posted
// tasks in order. TestFrontEnd is the worker's front end on such a loop, and RecordingEvents a
// session's; both write down what they were told, one line each.

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "job/session/DownloadSession.h"
#include "job/session/JobFrontEnd.h"
#include "job/session/JobState.h"
#include "job/session/TaskQueue.h"
#include "job/session/YouTubeDownloader.h"
#include "support/LoopbackPeer.h"

namespace tarnwick::testing {

class TestQueue : public TTaskQueue {
public:
    TestQueue() : loop_([this] { Loop(); }) {}
    ~TestQueue() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_one();
        loop_.join();
    }

    void Post(std::function<void()> task) override {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(task));
        cv_.notify_one();
    }
    // Runs task on the loop and waits for it.
    void Call(const std::function<void()>& task) {
        std::promise<void> done;
        Post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }
    // While held, the loop runs nothing (a front end that is busy elsewhere).
    std::unique_lock<std::mutex> Hold() { return std::unique_lock(hold_); }

private:
    void Loop() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;
                task = std::move(queue_.front());
                queue_.pop_front();
            }
            std::lock_guard held(hold_);
            task();
        }
    }

    std::mutex mutex_;
    std::mutex hold_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread loop_;
};

// The worker's front end: "description <four texts joined by |>", "begin <total>",
// "progress <bytes so far>", "end", "finish <status>".
class TestFrontEnd : public TJobFrontEnd {
public:
    explicit TestFrontEnd(TJobState& state) : state_(state) {}

    void ShowDescription(const std::array<std::string, 4>& texts) override {
        queue_.Call([this, texts] {
            Note("description " + texts[0] + "|" + texts[1] + "|" + texts[2] + "|" + texts[3]);
        });
    }
    void PostProgress(TProgressKind kind, std::int64_t value) override {
        queue_.Post([this, kind, value] {
            switch (kind) {
                case pkBegin: Note("begin " + std::to_string(value)); break;
                case pkProgress: Note("progress " + std::to_string(value)); break;
                case pkEnd: Note("end"); break;
            }
        });
    }
    void PostStatus(const std::string& text) override {
        queue_.Post([this, text] { Note("status " + text); });
    }
    // The worker's tests follow its steps; the session's follow the stages.
    void EnterStage(TJobStage) override {}
    void FinishJob() override {
        queue_.Call([this] { Note("finish " + std::to_string(state_.Status())); });
    }

    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    void Note(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }

    TJobState& state_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    TestQueue queue_;  // last: its loop ends before the lines go
};

// A session's front end: "description <texts joined by |>", "begin <total> <preview or ->",
// "progress <bytes>/<total> <text>", "end", "conversion <percent>", "status <text> | <hint>",
// "finished <status> <delivered 0/1>"; the job ids the events named apart (Jobs).
class RecordingEvents : public TSessionEvents {
public:
    void ShowDescription(std::uint64_t job, const std::array<std::string, 4>& t) override {
        Note(job, "description " + t[0] + "|" + t[1] + "|" + t[2] + "|" + t[3]);
    }
    void TransferBegan(std::uint64_t job, std::int64_t total, const std::string& preview) override {
        Note(job, "begin " + std::to_string(total) + " " + (preview.empty() ? "-" : preview));
    }
    void TransferProgress(std::uint64_t job, const TTransferProgress& p) override {
        Note(job, "progress " + std::to_string(p.bytesSoFar) + "/" + std::to_string(p.totalBytes) +
                      " " + p.Line());
    }
    void TransferEnded(std::uint64_t job) override { Note(job, "end"); }
    void ConversionProgress(std::uint64_t job, double fraction) override {
        Note(job, "conversion " + std::to_string(static_cast<int>(fraction * 100)));
    }
    void ShowStatus(std::uint64_t job, const std::string& text, const std::string& hint) override {
        Note(job, "status " + text + " | " + hint);
    }
    void JobFinished(const TJobOutcome& outcome) override {
        {
            // The line and the flag together, so a waiter that wakes finds the line written.
            std::lock_guard lock(mutex_);
            jobs_.insert(outcome.job);
            lines_.push_back("finished " + std::to_string(outcome.status) + " " +
                             (outcome.delivered ? "1" : "0"));
            outcome_ = outcome;
            finished_ = true;
        }
        cv_.notify_all();
    }

    // Waits for JobFinished; false when it did not come within the limit.
    bool WaitFinished(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [this] { return finished_; });
    }
    // Waits for a line that starts with prefix.
    bool WaitFor(const std::string& prefix, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] {
            for (const auto& line : lines_)
                if (line.starts_with(prefix)) return true;
            return false;
        });
    }
    TJobOutcome Outcome() const {
        std::lock_guard lock(mutex_);
        return outcome_;
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The lines that start with prefix.
    std::vector<std::string> Lines(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& line : Lines())
            if (line.starts_with(prefix)) found.push_back(line);
        return found;
    }
    std::string Log() const {
        std::string text;
        for (const auto& line : Lines()) text += line.substr(0, 200) + "\n";
        return text;
    }
    // The job ids the events and the outcome named.
    std::set<std::uint64_t> Jobs() const {
        std::lock_guard lock(mutex_);
        return jobs_;
    }

private:
    void Note(std::uint64_t job, std::string line) {
        {
            std::lock_guard lock(mutex_);
            jobs_.insert(job);
            lines_.push_back(std::move(line));
        }
        cv_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
    std::set<std::uint64_t> jobs_;
    TJobOutcome outcome_;
    bool finished_ = false;
};

// Stops the worker at one step boundary until the test lets it go on: the test acts (aborts)
// while the worker stands exactly there.
class StepGate {
public:
    StepGate(TJobStep step, int occurrence = 1) : step_(step), occurrence_(occurrence) {}
    std::function<void(TJobStep)> Hook() {
        return [this](TJobStep step) {
            if (step != step_ || ++seen_ != occurrence_) return;
            reached_.Set();
            go_.Wait();
        };
    }
    bool WaitReached() { return reached_.Wait(std::chrono::seconds(20)); }
    void Release() { go_.Set(); }

private:
    TJobStep step_;
    int occurrence_;
    int seen_ = 0;  // worker's thread only
    Event reached_, go_;
};

// The lookup service as a scripted peer that answers every lookup with one record.
inline LoopbackPeer::Script AnswerLookup(std::string record) {
    return [record](PeerConnection& c) {
        // The request ends with one CR LF more than its empty line; read it all, so the close
        // never turns into a reset that would take the answer with it.
        c.ReceiveUntil("\r\n\r\n\r\n");
        c.Send("HTTP/1.1 302 Found\r\nFile-Content: " + record + "\r\n\r\n");
        c.Close();
    };
}

}  // namespace tarnwick::testing
