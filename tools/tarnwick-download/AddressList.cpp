#include "AddressList.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/StrUtils.h"
#include "job/session/StatusTexts.h"

namespace tarnwick {

namespace {

// FNV-1a, 64 bits: only to find candidates; equal addresses are compared byte for byte.
std::uint64_t AddressHash(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// Reads one line without its LF into line, keeping at most limit + 1 bytes of it (the rest is
// read and dropped, so a line of any length costs no more memory). False at the end of input.
bool ReadBoundedLine(std::FILE* in, std::string& line, std::size_t limit) {
    line.clear();
    int c = std::getc(in);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::getc(in))
        if (line.size() <= limit) line.push_back(static_cast<char>(c));
    return true;
}

bool HasBinaryBytes(const std::string& line) {
    for (const unsigned char c : line)
        if ((c < 0x20 && c != '\t') || c == 0x7F) return true;
    return !IsValidUtf8(line);
}

bool IsWebAddress(const std::string& text) {
    for (const std::string_view scheme : {"http://", "https://"})
        if (StartsText(scheme, text) && text.size() > scheme.size()) return true;
    return false;
}

// Why a batch line is skipped, or "" for an address to keep; blank and comment lines are
// skipped without a word ("-").
std::string LineVerdict(std::string& line) {
    if (line.size() > TAddressList::kMaxLineBytes)
        return "longer than " + std::to_string(TAddressList::kMaxLineBytes) + " bytes";
    if (line.ends_with('\r')) line.pop_back();
    if (HasBinaryBytes(line)) return "binary bytes";
    line = Trim(line);
    if (line.empty() || line.starts_with('#')) return "-";
    if (!IsWebAddress(line)) return "not an http or https address";
    return {};
}

}  // namespace

TAddressList::TAddressList() : spool_(std::tmpfile()) {
    if (!spool_) throw std::runtime_error(std::string("spool file: ") + std::strerror(errno));
}

std::size_t TAddressList::Keep(const std::string& address) {
    if (Full()) return 0;
    const std::uint64_t hash = AddressHash(address);
    const auto found = index_.find(hash);
    if (found != index_.end() && ReadSpooled(found->second.first) == address)
        return found->second.second;
    if (std::fseek(spool_.get(), 0, SEEK_END) != 0 ||
        std::fwrite(address.data(), 1, address.size(), spool_.get()) != address.size() ||
        std::fputc('\n', spool_.get()) == EOF)
        throw std::runtime_error(std::string("spool file: ") + std::strerror(errno));
    ++count_;
    if (found == index_.end()) index_.emplace(hash, std::make_pair(end_, count_));
    end_ += static_cast<std::int64_t>(address.size()) + 1;
    return 0;
}

std::string TAddressList::ReadSpooled(std::int64_t offset) {
    std::string line;
    if (std::fflush(spool_.get()) != 0 || std::fseek(spool_.get(), offset, SEEK_SET) != 0 ||
        !ReadBoundedLine(spool_.get(), line, kMaxLineBytes))
        throw std::runtime_error(std::string("spool file: ") + std::strerror(errno));
    return line;
}

void TAddressList::AddArgument(const std::string& address, std::FILE* errors) {
    // The spool holds one address a line.
    const std::string safe = TerminalSafeText(address);
    if (address.find('\n') != std::string::npos) {
        std::fprintf(errors, "tarnwick-download: address %s: a line break; skipped\n", safe.c_str());
    } else if (const std::size_t first = Keep(address)) {
        std::fprintf(errors, "tarnwick-download: address %s: the same as job %zu; skipped\n",
                     safe.c_str(), first);
    }
}

std::string TAddressList::ReadBatch(const std::string& name, std::FILE* errors) {
    const bool standardInput = name == "-";
    std::unique_ptr<std::FILE, TClose> opened(standardInput ? nullptr
                                                            : std::fopen(name.c_str(), "rb"));
    std::FILE* in = standardInput ? stdin : opened.get();
    if (!in) return std::strerror(errno);
    const std::string safeName = TerminalSafeText(name);
    std::string line;
    for (std::uint64_t number = 1; ReadBoundedLine(in, line, kMaxLineBytes); ++number) {
        std::string why = LineVerdict(line);
        if (why.empty() && Full()) {
            std::fprintf(errors, "tarnwick-download: %s line %llu: more than %zu addresses; this "
                         "and the rest skipped\n", safeName.c_str(),
                         static_cast<unsigned long long>(number), kMaxAddresses);
            break;
        }
        if (why.empty()) {
            const std::size_t first = Keep(line);
            if (first) why = "the same address as job " + std::to_string(first);
        }
        if (!why.empty() && why != "-")
            std::fprintf(errors, "tarnwick-download: %s line %llu: %s; skipped\n",
                         safeName.c_str(), static_cast<unsigned long long>(number), why.c_str());
    }
    if (std::ferror(in)) return std::strerror(errno);
    return {};
}

std::optional<std::string> TAddressList::Next() {
    if (read_ < 0) read_ = 0;
    if (read_ >= end_) return std::nullopt;
    std::string address = ReadSpooled(read_);
    read_ += static_cast<std::int64_t>(address.size()) + 1;
    return address;
}

}  // namespace tarnwick
