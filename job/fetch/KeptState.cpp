#include "job/fetch/KeptState.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "core/ScopedFd.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

// Far above what a real state holds (a span per piece, pieces of at least a MiB).
constexpr std::streamsize kLongestState = 4 * 1024 * 1024;

std::optional<std::int64_t> Number(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

// The spans, in order, apart and within the file; false when a line is not one.
bool ReadSpan(std::string_view text, TIdPiecedState& split) {
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return false;
    const auto from = Number(text.substr(0, space));
    const auto end = Number(text.substr(space + 1));
    const std::int64_t after = split.missing.empty() ? 0 : split.missing.back().end;
    if (!from || !end || *from < after || *from >= *end || *end > split.total) return false;
    split.missing.push_back({*from, *end});
    return true;
}

// The lines after the validator; false when one cannot be trusted.
bool ReadLines(std::istream& in, TKeptState& state) {
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string_view key = std::string_view(line).substr(0, space);
        const std::string_view value =
            space == std::string::npos ? std::string_view() : std::string_view(line).substr(space + 1);
        if (key == "type") {
            state.mediaType = value;
        } else if (key == "held" && state.held < 0) {
            const auto held = Number(value);
            if (!held) return false;
            state.held = *held;
        } else if (key == "split" && state.split.total < 0) {
            const auto total = Number(value);
            if (!total || *total == 0) return false;
            state.split.total = *total;
        } else if (key == "etag") {
            state.split.etag = value;
        } else if (key == "modified") {
            state.split.lastModified = value;
        } else if (key != "missing" || state.split.total < 0 || !ReadSpan(value, state.split)) {
            return false;
        }
    }
    return in.eof();
}

std::string StateText(const TKeptState& state) {
    std::ostringstream text;
    text << state.validator << "\n";
    if (!state.mediaType.empty()) text << "type " << state.mediaType << "\n";
    if (state.held >= 0) text << "held " << state.held << "\n";
    if (state.split.total > 0) {
        text << "split " << state.split.total << "\n";
        if (!state.split.etag.empty()) text << "etag " << state.split.etag << "\n";
        if (!state.split.lastModified.empty())
            text << "modified " << state.split.lastModified << "\n";
        for (const auto& span : state.split.missing)
            text << "missing " << span.from << " " << span.end << "\n";
    }
    return text.str();
}

}  // namespace

std::string KeptStatePath(const std::string& kept) { return kept + ".validator"; }

TKeptState ReadKeptState(const std::string& kept) {
    std::ifstream in(KeptStatePath(kept), std::ios::binary);
    std::string text(kLongestState + 1, '\0');
    in.read(text.data(), kLongestState + 1);
    if (in.gcount() > kLongestState) return {};
    text.resize(static_cast<std::size_t>(in.gcount()));
    std::istringstream lines(text);
    TKeptState state;
    if (!std::getline(lines, state.validator) || state.validator.empty()) return {};
    if (!ReadLines(lines, state)) return {};
    if (state.split.total > 0) {
        // The spans not missing are held only in a file of the whole size.
        std::error_code error;
        const auto size = std::filesystem::file_size(kept, error);
        if (error || static_cast<std::int64_t>(size) != state.split.total) return {};
    }
    return state;
}

void WriteKeptState(const std::string& kept, const TKeptState& state) {
    const std::string path = KeptStatePath(kept);
    const std::string temporary = path + ".new";
    const std::string text = StateText(state);
    ScopedFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const bool written = fd.Get() >= 0 && WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0 &&
                         fd.Close() == 0 && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        throw EIdException("Cannot keep the transfer's state: " + reason);
    }
}

void ForgetKeptState(const std::string& kept) {
    if (::unlink(KeptStatePath(kept).c_str()) != 0 && errno != ENOENT)
        throw EIdException("Cannot keep the transfer's state: " + std::string(std::strerror(errno)));
}

}  // namespace tarnwick
