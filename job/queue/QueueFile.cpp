#include "job/queue/QueueFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

#include "job/files/Folders.h"
#include "job/lookup/BoundedJson.h"
#include "job/queue/KeptTransfers.h"

namespace tarnwick {

namespace {

using nlohmann::json;

constexpr const char* kVersionKey = "tarnwick-queue";
// The temporary files of a write: this prefix and six random letters, beside the queue file.
constexpr const char* kTemporaryPrefix = ".queue.json.";
// The root, the entries, an entry, a field: a field that holds an array or object is kept (with
// nothing inside), so that its type tells the entry is damaged.
constexpr int kDocumentDepth = 4;

std::string SystemReason() { return std::strerror(errno); }

// A text field: absent keeps out as it is; false for another type or a text too long.
bool ReadText(const json& entry, const char* key, std::string& out) {
    const auto found = entry.find(key);
    if (found == entry.end()) return true;
    if (!found->is_string()) return false;
    const auto& text = found->get_ref<const std::string&>();
    if (text.size() > TQueueFile::kMaxTextBytes) return false;
    out = text;
    return true;
}

template <typename Number>
bool ReadNumber(const json& entry, const char* key, std::int64_t low, std::int64_t high,
                Number& out) {
    const auto found = entry.find(key);
    if (found == entry.end()) return true;
    if (!found->is_number_integer()) return false;
    const auto value = found->get<std::int64_t>();
    if (value < low || value > high) return false;
    out = static_cast<Number>(value);
    return true;
}

std::optional<TQueueEntry> EntryFrom(const json& item) {
    if (!item.is_object()) return std::nullopt;
    TQueueEntry entry;
    std::string state = "waiting";
    constexpr std::int64_t kBytes = std::int64_t{1} << 62;
    const bool read =
        ReadText(item, "address", entry.address) && ReadText(item, "save_dir", entry.saveDirectory) &&
        ReadText(item, "state", state) && ReadText(item, "title", entry.title) &&
        ReadText(item, "reason", entry.reason) && ReadText(item, "file", entry.savedFile) &&
        ReadText(item, "kept", entry.kept) &&
        ReadNumber(item, "site", 1, 5, entry.siteNumber) && ReadNumber(item, "hd", 0, 1, entry.hdFlag) &&
        ReadNumber(item, "format", 0, 7, entry.formatIndex) &&
        ReadNumber(item, "quality", 0, 3, entry.qualityIndex) &&
        ReadNumber(item, "bytes", 0, kBytes, entry.bytesSoFar) &&
        ReadNumber(item, "total", 0, kBytes, entry.totalBytes);
    const auto named = EntryStateNamed(state);
    if (!read || !named || entry.address.empty() || !IsKeptName(entry.kept)) return std::nullopt;
    entry.state = *named;
    return entry;
}

json EntryDocument(const TQueueEntry& entry) {
    return {{"address", entry.address}, {"site", entry.siteNumber}, {"hd", entry.hdFlag},
            {"format", entry.formatIndex}, {"quality", entry.qualityIndex},
            {"save_dir", entry.saveDirectory}, {"state", EntryStateName(entry.state)},
            {"bytes", entry.bytesSoFar}, {"total", entry.totalBytes}, {"title", entry.title},
            {"reason", entry.reason}, {"file", entry.savedFile}, {"kept", entry.kept}};
}

// The file's text, at most limit + 1 bytes of it; nothing when there is no file.
std::optional<std::string> ReadBounded(const std::string& path, std::size_t limit,
                                       std::string& failure) {
    const ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno != ENOENT) failure = SystemReason();
        return std::nullopt;
    }
    std::string text;
    char buffer[64 * 1024];
    while (text.size() <= limit) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failure = SystemReason();
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// The entries of a document, or why it is damaged ("newer" for a newer version's).
std::vector<TQueueEntry> ParseDocument(const std::string& text, std::string& why) {
    std::vector<TQueueEntry> entries;
    if (text.size() > TQueueFile::kMaxFileBytes) return why = "too large", entries;
    // Each entry is an object: a count of the braces bounds what the parse may build.
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '{')) >
        TQueueFile::kMaxEntries + 1)
        return why = "too many entries", entries;
    const json document = ParseBoundedJson(text, kDocumentDepth);
    if (document.is_discarded() || !document.is_object()) return why = "not a queue", entries;
    const auto version = document.find(kVersionKey);
    if (version == document.end() || !version->is_number_integer() || version->get<std::int64_t>() < 1)
        return why = "no version", entries;
    if (version->get<std::int64_t>() > TQueueFile::kVersion) return why = "newer", entries;
    const auto items = document.find("entries");
    if (items == document.end() || !items->is_array()) return why = "no entries", entries;
    for (const json& item : *items) {
        auto entry = EntryFrom(item);
        if (!entry) return why = "a damaged entry", std::vector<TQueueEntry>();
        entries.push_back(std::move(*entry));
    }
    return entries;
}

std::string TimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &utc);
    return text;
}

}  // namespace

std::string QueueDocument(const std::vector<TQueueEntry>& entries) {
    json list = json::array();
    for (const TQueueEntry& entry : entries) list.push_back(EntryDocument(entry));
    const json document = {{kVersionKey, TQueueFile::kVersion}, {"entries", std::move(list)}};
    return document.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

TQueueFile::TQueueFile(std::string path) : path_(std::move(path)), folder_(DirectoryOf(path_)) {}

bool TQueueFile::Lock() {
    if (Locked()) return true;
    if (!CreateDirectories(folder_)) return false;
    auto fd = std::make_unique<ScopedFd>(
        ::open((folder_ + "/queue.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd->Get() < 0 || ::flock(fd->Get(), LOCK_EX | LOCK_NB) != 0) return false;
    lock_ = std::move(fd);
    // No other copy writes now: a temporary file here is a killed writer's.
    std::error_code ignored;
    for (const auto& item : std::filesystem::directory_iterator(folder_, ignored))
        if (item.path().filename().string().starts_with(kTemporaryPrefix))
            std::filesystem::remove(item.path(), ignored);
    return true;
}

TQueueFile::TLoaded TQueueFile::Load() {
    TLoaded loaded;
    if (!Locked()) return loaded;
    std::string failure;
    const std::optional<std::string> text = ReadBounded(path_, kMaxFileBytes, failure);
    if (!text) {
        if (!failure.empty()) loaded.note = "The saved queue could not be read: " + failure + ".";
        return loaded;
    }
    std::string why;
    loaded.entries = ParseDocument(*text, why);
    if (why.empty()) return loaded;
    const bool newer = why == "newer";
    const std::string aside = SetAside(newer ? "newer" : "damaged");
    loaded.note = newer ? "The saved queue is from a newer version of Tarnwick"
                        : "The saved queue is damaged (" + why + ")";
    loaded.note += aside.empty() ? "; it was left as it is and is not used."
                                 : "; it was set aside as " + aside + ".";
    return loaded;
}

std::string TQueueFile::SetAside(const std::string& why) {
    const std::string base = path_ + "." + why + "-" + TimeStamp();
    for (int n = 1; n < 100; ++n) {
        const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        // Never over another set aside.
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
            return name;
        if (errno != EEXIST) break;
    }
    return {};
}

std::string TQueueFile::Save(const std::vector<TQueueEntry>& entries) {
    if (!Locked()) return {};
    const std::string text = QueueDocument(entries);
    std::string temporary = folder_ + "/" + kTemporaryPrefix + "XXXXXX";
    ScopedFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.Get() < 0) return SystemReason();
    const bool written = WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0 && fd.Close() == 0 &&
                         ::rename(temporary.c_str(), path_.c_str()) == 0;
    if (!written) {
        const std::string reason = SystemReason();
        ::unlink(temporary.c_str());
        return reason;
    }
    // The rename itself reaches the disk with the folder.
    const ScopedFd folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0 || ::fsync(folder.Get()) != 0) return SystemReason();
    return {};
}

}  // namespace tarnwick
