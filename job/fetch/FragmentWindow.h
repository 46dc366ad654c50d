#pragma once

// The fragments of a stream between the connections that fetch them and the fetching thread that
// writes them to the work file in order: which fragment a connection takes next, room for the
// bytes held in memory, the fetched fragments waiting for their turn, the waits the connections
// report, and the first failure.
//
// The bytes held (fetched or arriving, not yet written) stay within the bound: a connection
// waits for room before it takes a fragment and before its fragment grows. Only the fragment
// written next never waits, so the stream goes on whatever the sizes; a fragment larger than
// the bound is then the only one that grows.
//
// Every wait ends when the stop token is set (by the fetch, a failure or the user's abort).

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/IdAbortSignal.h"

namespace tarnwick {

class TFragmentWindow {
public:
    // count fragments; stop must outlive the window.
    TFragmentWindow(std::size_t count, std::int64_t bound, TIdAbortSignal& stop);
    TFragmentWindow(const TFragmentWindow&) = delete;
    TFragmentWindow& operator=(const TFragmentWindow&) = delete;

    // A connection's side. The next fragment to fetch; none when all are taken or the fetch
    // stops.
    std::optional<std::size_t> Take();
    // Room for change more bytes of fragment index (see above); a negative change gives room
    // back and never waits. Throws EIdNotConnected when the fetch stops.
    void Account(std::size_t index, std::int64_t change);
    // Fragment index came whole as bytes, of which counted were accounted for so far.
    void Fetched(std::size_t index, std::string bytes, std::int64_t counted,
                 std::string contentType);
    // A wait before a try again, for the fetching thread to tell.
    void Tell(std::string text);
    // A connection failed: the first failure is kept, and the fetch stops.
    void Fail(std::exception_ptr failure);

    // The fetching thread's side: what Next hands over.
    struct TNews {
        std::vector<std::string> waits;       // told since the last call
        std::optional<std::string> fragment;  // the next in order, when it came
        std::string contentType;              // of its answer
    };
    // Waits for the next fragment in order or a told wait. Throws the first failure, or
    // EIdNotConnected when the fetch stopped without one.
    TNews Next();
    // The fragment handed over last is written: its bytes are no longer held.
    void Written(std::int64_t size);

private:
    const std::size_t count_;
    const std::int64_t bound_;
    TIdAbortSignal& stop_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;     // to take
    std::size_t written_ = 0;  // to write
    std::int64_t held_ = 0;
    std::map<std::size_t, std::pair<std::string, std::string>> fetched_;  // bytes, type
    std::vector<std::string> waits_;
    std::exception_ptr failure_;
    TIdAbortSignal::TRegistration wake_;  // last: registered once the rest is there
};

}  // namespace tarnwick
