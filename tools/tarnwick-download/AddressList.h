#pragma once

// The addresses tarnwick-download works through: those on its command line, then those of a
// batch file (one a line; blank lines and lines starting with "#" skipped; "-" is standard
// input). Every line is read with bounds and checked before the first job starts: a line longer
// than kMaxLineBytes, one with binary bytes (controls, bytes that are no UTF-8), one that is not
// an http(s) address, and one that repeats an earlier address are each reported with their line
// number and skipped. The addresses kept go into a spool file, not into memory, and are read back
// one at a time; the index that finds repeats holds a hash and an offset per address, and at
// most kMaxAddresses addresses are kept.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace tarnwick {

class TAddressList {
public:
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    static constexpr std::size_t kMaxAddresses = 100000;

    // Throws std::runtime_error when the spool file cannot be made.
    TAddressList();

    // An address of the command line, taken as it stands (but a repeat, or one with a line
    // break, is reported to errors and skipped; past kMaxAddresses it is dropped).
    void AddArgument(const std::string& address, std::FILE* errors);
    // Reads a batch file ("-": standard input) to its end, reporting each skipped line to errors
    // as "tarnwick-download: NAME line N: WHY; skipped". Returns the system's reason when the file
    // cannot be read, else "".
    std::string ReadBatch(const std::string& name, std::FILE* errors);

    std::size_t Count() const noexcept { return count_; }
    // The next address kept, in order; nothing after the last.
    std::optional<std::string> Next();

private:
    // Keeps address unless it repeats one kept; returns the number (1-based) of the one it
    // repeats, else 0. Also 0 when the limit is reached (then it is not kept: see Full).
    std::size_t Keep(const std::string& address);
    bool Full() const noexcept { return count_ >= kMaxAddresses; }
    std::string ReadSpooled(std::int64_t offset);

    struct TClose {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, TClose> spool_;
    // Hash of a kept address -> its offset in the spool and its number; a second address with
    // the same hash but other bytes is kept without an index entry.
    std::unordered_map<std::uint64_t, std::pair<std::int64_t, std::size_t>> index_;
    std::size_t count_ = 0;
    std::int64_t end_ = 0;   // the spool's size
    std::int64_t read_ = -1; // where Next reads; -1 before the first
};

}  // namespace tarnwick
