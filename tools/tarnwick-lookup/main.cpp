// tarnwick-lookup [--stall-timeout S] [--connect-timeout S] HOST PORT SITE HD ADDRESS
//
// Runs one lookup against the lookup service at HOST:PORT and prints the record text on the first
// line, then each entry of the record as name=value on a line of its own. A failed lookup prints
// the record "error=1" like any other; the exit status is 0. Like the download job, the lookup
// fails after 60 seconds without a byte and a connect after 30 seconds (the two options change
// that; 0 for no limit). A wrong command line prints the usage to standard error and exits with 2.

#include <cstdio>
#include <cstring>
#include <string>

#include "core/StrUtils.h"
#include "job/LookupQuery.h"
#include "job/LookupRecord.h"

int main(int argc, char** argv) {
    using namespace tarnwick;
    // The largest limit in seconds whose milliseconds fit the endpoint's settings.
    constexpr std::int32_t kMaxTimeoutSeconds = 2147483;
    TLookupEndpoint endpoint;
    bool valid = true;
    int i = 1;
    for (; valid && i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        const bool stall = option == "--stall-timeout";
        if ((!stall && option != "--connect-timeout") || i + 1 >= argc) {
            valid = false;
            break;
        }
        const auto seconds = TryStrToInt(argv[++i]);
        valid = seconds && *seconds >= 0 && *seconds <= kMaxTimeoutSeconds;
        if (valid) (stall ? endpoint.StallTimeout : endpoint.ConnectTimeout) = *seconds * 1000;
    }
    if (!valid || argc - i != 5) {
        std::fprintf(
            stderr,
            "usage: tarnwick-lookup [--stall-timeout S] [--connect-timeout S] HOST PORT SITE HD "
            "ADDRESS\n"
            "  asks the lookup service at HOST:PORT for the record of the page ADDRESS\n"
            "  (SITE 1 to 5, HD 0 or 1) and prints it, then one name=value per line\n"
            "  --stall-timeout S    fail after S seconds without a byte (default 60; 0: no limit)\n"
            "  --connect-timeout S  fail a connect after S seconds (default 30; 0: no limit)\n");
        return 2;
    }
    endpoint.Host = argv[i];
    endpoint.Port = argv[i + 1];
    const std::string text = RequestLookupRecord(endpoint, nullptr, argv[i + 2], argv[i + 3],
                                                 argv[i + 4]);
    TLookupRecord record;
    ParseLookupRecord(text, record);
    std::string out = text + "\n";
    for (std::size_t n = 0; n < record.Count(); ++n) out += record.Entry(n) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
