// tarnwick-get [--follow] [--max-redirects N] [--events] [--stall-timeout S]
//              [--connect-timeout S] [--cacert FILE] [--proxy HOST:PORT] [--continue]
//              [--retry N] [--connections N] [--limit-rate RATE] URL OUTFILE
//
// Runs one Get of URL (http or https) with the HTTP client's default settings (redirects are
// followed only with --follow) and saves the body as OUTFILE. With --events every work and status
// event of the client is printed on a line of its own as it happens. Like the download job, the
// fetch fails after 60 seconds without a byte and a connect after 30 seconds (the two options
// change that; 0 for no limit).
//
// The body is written to a temporary file beside OUTFILE, which takes OUTFILE's name only once
// the whole body is there: a failed or interrupted fetch leaves no OUTFILE behind (and an OUTFILE
// that existed before stays as it was). An OUTFILE that is a symbolic link is followed: the file
// it names is the one replaced. An OUTFILE that exists and is not a regular file (a device, a
// FIFO) is written in place, as it is.
//
// With --continue an OUTFILE that is a regular file and not empty is continued from its size
// with Range: the rest is appended to it in place (so a continued fetch that fails keeps what
// came, for the next --continue), a body from byte 0 goes through the temporary file as above,
// and an answer that the file is whole already (416 naming its size) leaves it alone. A file
// whose size is not the total the server named is a failure, never whole. With
// --retry N a transfer that breaks is continued up to N times (TIdResumableGet's rules), each
// wait announced on standard error. With --connections N (1 to 16, default 4) a file of at
// least 4 MiB that the server gives in parts comes over N connections at once (TIdPiecedGet),
// each piece continued as --retry says; --events then shows the first connection's events. An
// OUTFILE continued with --continue, or that is no regular file, comes over one connection.
// With --limit-rate RATE the body comes at most at RATE bytes per second, all connections
// together (500K, 2M: K 1024, M 1048576; 0 for no limit). Exit status 0 on success; on failure
// the exception's class and message go to standard error (and the status code for an HTTP error
// status) and the exit status is 1. A wrong command line prints the usage and exits with 2 (a
// rate that is none is named on a line before it).

#include <cxxabi.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>

#include "core/StrUtils.h"
#include "http/IdHTTP.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdPiecedGet.h"
#include "http/IdHTTPMessages.h"
#include "http/IdRateLimit.h"
#include "http/IdResumableGet.h"
#include "net/IdStream.h"

namespace {

using namespace tarnwick;

constexpr const char* kUsage =
    "usage: tarnwick-get [--follow] [--max-redirects N] [--events] [--stall-timeout S]\n"
    "                    [--connect-timeout S] [--cacert FILE] [--proxy HOST:PORT]\n"
    "                    [--continue] [--retry N] [--connections N] [--limit-rate RATE]\n"
    "                    URL OUTFILE\n"
    "  fetches URL (http or https) into OUTFILE (through a temporary file beside it: OUTFILE\n"
    "  appears only when the whole body came, and is left alone when the fetch fails; a symbolic\n"
    "  link is followed, and a device or FIFO is written in place)\n"
    "  --follow              follow redirects (off by default)\n"
    "  --max-redirects N     bound on the requests that may be redirected (default 15)\n"
    "  --events              print each work and status event on a line of its own\n"
    "  --stall-timeout S     fail after S seconds without a byte (default 60; 0: no limit)\n"
    "  --connect-timeout S   fail a connect after S seconds (default 30; 0: no limit)\n"
    "  --cacert FILE         trust the certificates in FILE (PEM) besides the system's\n"
    "  --proxy HOST:PORT     go through this HTTP proxy (https through a CONNECT tunnel)\n"
    "  --continue            continue an OUTFILE that holds the start of the file from its size\n"
    "  --retry N             continue a transfer that breaks off up to N times (default 0)\n"
    "  --connections N       fetch a large file over N connections at once, 1 to 16 (default 4)\n"
    "  --limit-rate RATE     take at most RATE bytes per second (500K, 2M; K 1024, M 1048576;\n"
    "                        default 0: no limit)\n"
    "  exit status 0 on success, 1 on failure (the error on standard error), 2 for a wrong\n"
    "  command line\n";

// An output that cannot be written again from its start (%s: its path).
constexpr const char* kCannotStartOver =
    "%s is no regular file: a transfer that starts over cannot be written to it.";

// Connections of one transfer, as the download job has them.
constexpr std::int32_t kDefaultConnections = 4;
constexpr std::int32_t kMostConnections = 16;
constexpr const char* kConnectionsWrong =
    "tarnwick-get: --connections takes a whole number from 1 to 16.\n";

// The largest limit in seconds whose milliseconds fit the client's settings.
constexpr std::int32_t kMaxTimeoutSeconds = 2147483;

struct Options {
    bool follow = false;
    bool events = false;
    bool resume = false;
    std::int32_t retries = 0;
    std::int32_t connections = kDefaultConnections;
    std::int64_t rateLimit = 0;
    std::optional<std::int32_t> maxRedirects;
    std::int32_t stallTimeoutMs = 60000;
    std::int32_t connectTimeoutMs = 30000;
    std::string caCert;
    std::string proxyHost;
    std::int32_t proxyPort = 0;
    std::string url;
    std::string outFile;
};

std::string OneLine(std::string text);

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        if (option == "--follow") {
            options.follow = true;
        } else if (option == "--events") {
            options.events = true;
        } else if (option == "--continue") {
            options.resume = true;
        } else if (option == "--retry" && i + 1 < argc) {
            const auto n = TryStrToInt(argv[++i]);
            if (!n || *n < 0) return std::nullopt;
            options.retries = *n;
        } else if (option == "--connections") {
            const auto n = i + 1 < argc ? TryStrToInt(argv[++i]) : std::nullopt;
            if (!n || *n < 1 || *n > kMostConnections) {
                std::fputs(kConnectionsWrong, stderr);
                return std::nullopt;
            }
            options.connections = *n;
        } else if (option == "--limit-rate" && i + 1 < argc) {
            const auto rate = ParseRate(argv[++i]);
            if (!rate) {
                std::fprintf(stderr, "tarnwick-get: %s\n",
                             Format(RSRateNotUnderstood, OneLine(argv[i]).c_str()).c_str());
                return std::nullopt;
            }
            options.rateLimit = *rate;
        } else if (option == "--cacert" && i + 1 < argc) {
            options.caCert = argv[++i];
        } else if (option == "--proxy" && i + 1 < argc) {
            const std::string proxy = argv[++i];
            const std::size_t colon = proxy.rfind(':');
            if (colon == std::string::npos || colon == 0) return std::nullopt;
            const auto port = TryStrToInt(proxy.substr(colon + 1));
            if (!port || *port < 1 || *port > 65535) return std::nullopt;
            options.proxyHost = proxy.substr(0, colon);
            options.proxyPort = *port;
        } else if (option == "--max-redirects" && i + 1 < argc) {
            const auto n = TryStrToInt(argv[++i]);
            if (!n || *n < 0) return std::nullopt;
            options.maxRedirects = *n;
        } else if ((option == "--stall-timeout" || option == "--connect-timeout") &&
                   i + 1 < argc) {
            const auto seconds = TryStrToInt(argv[++i]);
            if (!seconds || *seconds < 0 || *seconds > kMaxTimeoutSeconds) return std::nullopt;
            (option == "--stall-timeout" ? options.stallTimeoutMs : options.connectTimeoutMs) =
                *seconds * 1000;
        } else {
            return std::nullopt;
        }
    }
    if (argc - i != 2) return std::nullopt;
    options.url = argv[i];
    options.outFile = argv[i + 1];
    return options;
}

const char* StatusName(TIdStatus status) {
    static const char* const names[] = {"hsResolving",     "hsConnecting",   "hsConnected",
                                        "hsDisconnecting", "hsDisconnected", "hsStatusText",
                                        "ftpTransfer",     "ftpReady",       "ftpAborted"};
    return names[status];
}

const char* ModeName(TWorkMode mode) { return mode == wmRead ? "read" : "write"; }

void PrintEvent(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintEvents(TIdHTTP& http) {
    http.OnWorkBegin = [](TIdComponent&, TWorkMode mode, std::int64_t max) {
        PrintEvent(std::string("begin ") + ModeName(mode) + " " + std::to_string(max));
    };
    http.OnWork = [](TIdComponent&, TWorkMode mode, std::int64_t count) {
        PrintEvent(std::string("work ") + ModeName(mode) + " " + std::to_string(count));
    };
    http.OnWorkEnd = [](TIdComponent&, TWorkMode mode) {
        PrintEvent(std::string("end ") + ModeName(mode));
    };
    http.OnStatus = [](TIdComponent&, TIdStatus status, const std::string& text) {
        PrintEvent(std::string("status ") + StatusName(status) + " " + text);
    };
}

// The class name of an exception without its namespace.
std::string ClassName(const std::exception& e) {
    const char* mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    if (name.starts_with("tarnwick::")) name.erase(0, 10);
    return name;
}

// One line: a socket error's text carries a line break.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    std::string line;
    for (const char c : text)
        if (!(c == ' ' && !line.empty() && line.back() == ' ')) line += c;
    return line;
}

// The temporary file, removed again unless it became OUTFILE; also when a signal ends the tool
// (an interrupt, a hang-up, a closed event pipe).
char gPartPath[4096];

extern "C" void RemovePartAndExit(int signal) {
    if (gPartPath[0] != '\0') ::unlink(gPartPath);
    ::_exit(128 + signal);
}

class PartFile {
public:
    explicit PartFile(const std::string& outFile) {
        std::string pattern = outFile + ".part-XXXXXX";
        if (pattern.size() >= sizeof gPartPath)
            throw EIdStreamError("The output file name is too long: " + outFile);
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            throw EIdStreamError(
                Format(msg::kFileOpenFailed, pattern.c_str(), std::strerror(errno)));
        // The permissions a plainly created file would get.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        ::close(fd);
        path_ = pattern;
        std::memcpy(gPartPath, path_.c_str(), path_.size() + 1);
        struct sigaction action {};
        action.sa_handler = RemovePartAndExit;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            ::sigaction(signal, &action, nullptr);
    }
    ~PartFile() {
        if (!kept_) ::unlink(path_.c_str());
        gPartPath[0] = '\0';
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    const std::string& Path() const { return path_; }
    // Gives the file its final name.
    void Keep(const std::string& outFile) {
        if (::rename(path_.c_str(), outFile.c_str()) != 0)
            throw EIdStreamError(
                Format(msg::kFileWriteFailed, outFile.c_str(), std::strerror(errno)));
        kept_ = true;
    }

private:
    std::string path_;
    bool kept_ = false;
};

// The file a path names once its symbolic links are followed (a link whose target does not exist
// yet gives that target); the path itself when it is no link.
std::string FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(n));
        if (target.front() != '/') {
            const std::size_t slash = path.rfind('/');
            target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                     target;
        }
        path = std::move(target);
    }
    return path;
}

// An output that is no regular file (a device, a FIFO): written in order, as it comes, without a
// temporary file; it cannot go back, so its size and position are only counted.
class TSequentialOutput : public TIdStream {
public:
    explicit TSequentialOutput(std::string path) : path_(std::move(path)) {
        do {
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0)
            throw EIdStreamError(
                Format(msg::kFileOpenFailed, path_.c_str(), std::strerror(errno)));
    }
    ~TSequentialOutput() override { ::close(fd_); }
    TSequentialOutput(const TSequentialOutput&) = delete;
    TSequentialOutput& operator=(const TSequentialOutput&) = delete;

    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override {
        position_ = std::max<std::int64_t>(0, position);
    }
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override {
        size_ = std::max<std::int64_t>(0, size);
        position_ = std::min(position_, size_);
    }
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    void Write(const void* buffer, std::int64_t count) override {
        const auto* bytes = static_cast<const char*>(buffer);
        for (std::int64_t done = 0; done < count;) {
            const ssize_t n = ::write(fd_, bytes + done, static_cast<std::size_t>(count - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                throw EIdStreamError(Format(msg::kFileWriteFailed, path_.c_str(),
                                            std::strerror(n == 0 ? ENOSPC : errno)));
            done += n;
        }
        position_ += count;
        size_ = std::max(size_, position_);
    }

private:
    std::string path_;
    int fd_ = -1;
    std::int64_t position_ = 0;
    std::int64_t size_ = 0;
};

// The client's settings from the command line (events aside).
// limit is shared by every connection of the transfer.
void SetUp(TIdHTTP& http, const Options& options, const std::shared_ptr<TIdRateLimit>& limit) {
    http.SetRateLimit(limit);
    http.HandleRedirects = options.follow;
    if (options.maxRedirects) http.RedirectMaximum = *options.maxRedirects;
    http.StallTimeout = options.stallTimeoutMs;
    http.ConnectTimeout = options.connectTimeoutMs;
    http.SSLOptions.RootCertFile = options.caCert;
    if (!options.proxyHost.empty()) {
        http.ProxyParams.SetProxyServer(options.proxyHost);
        http.ProxyParams.SetProxyPort(options.proxyPort);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        const std::shared_ptr<TIdRateLimit> limit = TIdRateLimit::For(options->rateLimit);
        TIdHTTP http;
        SetUp(http, *options, limit);
        if (options->events) PrintEvents(http);

        TIdResumeSettings settings;
        settings.MaxTries = options->retries;
        settings.MaxTriesInRow = std::min(settings.MaxTriesInRow, options->retries);
        TIdResumableGet get(http, settings);
        get.OnWait = [](const TIdRetryWait& wait) {
            std::fprintf(stderr, "%s\n", RetryWaitText(wait).c_str());
        };

        const std::string outFile = FollowLinks(options->outFile);
        struct stat info {};
        const bool exists = ::stat(outFile.c_str(), &info) == 0;
        if (exists && !S_ISREG(info.st_mode)) {
            // Replacing a device or a FIFO by a regular file would destroy it.
            TSequentialOutput out(outFile);
            get.OnStartOver = [&]() -> TIdStream& {
                // What went down a pipe cannot be taken back.
                throw EIdStreamError(Format(kCannotStartOver, outFile.c_str()));
            };
            get.Get(options->url, out);
            CheckWholeSize(out.Size(), get.Total());
            return 0;
        }
        if (options->resume && exists && info.st_size > 0) {
            TIdFileStream out(outFile, fmOpenReadWrite);
            // Declared in this order, the stream is closed before its file may go.
            std::optional<PartFile> part;
            std::optional<TIdFileStream> partOut;
            get.OnStartOver = [&]() -> TIdStream& {
                if (!part) {
                    part.emplace(outFile);
                    partOut.emplace(part->Path(), fmOpenReadWrite);
                }
                partOut->SetSize(0);
                return *partOut;
            };
            get.Get(options->url, out);
            CheckWholeSize(part ? partOut->Size() : out.Size(), get.Total());
            if (part) {
                partOut.reset();
                part->Keep(outFile);
            }
            return 0;
        }
        PartFile part(outFile);
        {
            TIdFileStream out(part.Path(), fmOpenReadWrite);
            TIdPiecedGet pieced(
                http,
                [&]() -> std::unique_ptr<TIdCustomHTTP> {
                    auto client = std::make_unique<TIdHTTP>();
                    SetUp(*client, *options, limit);
                    return client;
                },
                options->connections, settings);
            pieced.OnWait = get.OnWait;
            pieced.Get(options->url, out);
            CheckWholeSize(out.Size(), pieced.Total());
        }
        part.Keep(outFile);
        return 0;
    } catch (const EIdHTTPProtocolException& e) {
        std::fprintf(stderr, "%s: %s\nstatus code: %d\n", ClassName(e).c_str(),
                     OneLine(e.Message()).c_str(), e.StatusCode());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", ClassName(e).c_str(), OneLine(e.what()).c_str());
    }
    return 1;
}
