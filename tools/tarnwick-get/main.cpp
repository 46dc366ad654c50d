// tarnwick-get [--follow] [--max-redirects N] [--events] [--cacert FILE] [--proxy HOST:PORT]
//               URL OUTFILE
//
// Runs one Get of URL (http or https) with the HTTP client's default settings (redirects are
// followed only with --follow) and saves the body as OUTFILE. With --events every work and status event of the
// client is printed on a line of its own as it happens.
//
// The body is written to a temporary file beside OUTFILE, which takes OUTFILE's name only once
// the whole body is there: a failed or interrupted fetch leaves no OUTFILE behind (and an OUTFILE
// that existed before stays as it was). Exit status 0 on success; on failure the exception's
// class and message go to standard error (and the status code for an HTTP error status) and the
// exit status is 1. A wrong command line prints the usage and exits with 2.

#include <cxxabi.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "net/IdStream.h"

namespace {

using namespace tarnwick;

constexpr const char* kUsage =
    "usage: tarnwick-get [--follow] [--max-redirects N] [--events] [--cacert FILE]\n"
    "                    [--proxy HOST:PORT] URL OUTFILE\n"
    "  fetches URL into OUTFILE (through a temporary file beside it: OUTFILE appears only when\n"
    "  the whole body came, and is left alone when the fetch fails)\n"
    "  --follow            follow redirects (off by default)\n"
    "  --max-redirects N   bound on the requests that may be redirected (default 15)\n"
    "  --events            print each work and status event on a line of its own\n"
    "  --cacert FILE       trust the certificates in FILE (PEM) besides the system's\n"
    "  --proxy HOST:PORT   go through this HTTP proxy (https through a CONNECT tunnel)\n"
    "  exit status 0 on success, 1 on failure (the error on standard error), 2 for a wrong\n"
    "  command line\n";

struct Options {
    bool follow = false;
    bool events = false;
    std::optional<std::int32_t> maxRedirects;
    std::string caCert;
    std::string proxyHost;
    std::int32_t proxyPort = 0;
    std::string url;
    std::string outFile;
};

std::optional<Options> ParseArguments(int argc, char** argv) {
    Options options;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        if (option == "--follow") {
            options.follow = true;
        } else if (option == "--events") {
            options.events = true;
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

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        TIdHTTP http;
        http.HandleRedirects = options->follow;
        if (options->maxRedirects) http.RedirectMaximum = *options->maxRedirects;
        if (options->events) PrintEvents(http);
        http.SSLOptions.RootCertFile = options->caCert;
        if (!options->proxyHost.empty()) {
            http.ProxyParams.SetProxyServer(options->proxyHost);
            http.ProxyParams.SetProxyPort(options->proxyPort);
        }

        PartFile part(options->outFile);
        {
            TIdFileStream out(part.Path(), fmOpenReadWrite);
            http.Get(options->url, out);
        }
        part.Keep(options->outFile);
        return 0;
    } catch (const EIdHTTPProtocolException& e) {
        std::fprintf(stderr, "%s: %s\nstatus code: %d\n", ClassName(e).c_str(),
                     OneLine(e.Message()).c_str(), e.StatusCode());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", ClassName(e).c_str(), OneLine(e.what()).c_str());
    }
    return 1;
}
