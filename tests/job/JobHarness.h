#pragma once

// A front end for job tests: an event loop on a thread of its own that handles the worker's
// hand-overs in order, as the window does, and writes down what it was told, one line each:
// "description <four texts joined by |>", "begin <total>", "progress <bytes so far>", "end",
// "finish <status>".

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "job/JobFrontEnd.h"
#include "job/JobState.h"
#include "job/YouTubeDownloader.h"
#include "support/LoopbackPeer.h"

namespace tarnwick::testing {

class TestFrontEnd : public TJobFrontEnd {
public:
    explicit TestFrontEnd(TJobState& state) : state_(state), loop_([this] { Loop(); }) {}
    ~TestFrontEnd() override {
        Post({});
        loop_.join();
    }

    void ShowDescription(const std::array<std::string, 4>& texts) override {
        Call([this, texts] {
            Note("description " + texts[0] + "|" + texts[1] + "|" + texts[2] + "|" + texts[3]);
        });
    }
    void PostProgress(TProgressKind kind, std::int64_t value) override {
        Post([this, kind, value] {
            switch (kind) {
                case pkBegin: Note("begin " + std::to_string(value)); break;
                case pkProgress:
                    // Taken first, then read: a count stored meanwhile is posted again.
                    state_.ProgressHandled();
                    Note("progress " + std::to_string(state_.BytesSoFar()));
                    break;
                case pkEnd: Note("end"); break;
            }
        });
    }
    void FinishJob() override {
        Call([this] { Note("finish " + std::to_string(state_.Status())); });
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
    // An empty task ends the loop.
    void Post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
        cv_.notify_one();
    }
    void Call(std::function<void()> task) {
        std::promise<void> done;
        Post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    }
    void Loop() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [this] { return !queue_.empty(); });
                task = std::move(queue_.front());
                queue_.pop_front();
            }
            if (!task) return;
            task();
        }
    }

    TJobState& state_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::string> lines_;
    std::thread loop_;
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
