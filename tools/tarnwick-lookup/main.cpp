// tarnwick-lookup [--stall-timeout S] [--connect-timeout S] HOST PORT SITE HD ADDRESS
// tarnwick-lookup [--stall-timeout S] [--connect-timeout S] --builtin SITE HD ADDRESS
//
// Runs one lookup against the lookup service at HOST:PORT, or with --builtin the program's own
// lookup of the page (and yt-dlp when the page does not give its video away), and prints the
// record text on the first line, then each entry of the record as name=value on a line of its
// own. A failed lookup prints its record (error=1, from the built-in lookup with a hint) like any
// other; the exit status is 0. Like the download job, the lookup fails after 60 seconds without a
// byte and a connect after 30 seconds (the two options change that; 0 for no limit). A wrong
// command line prints the usage to standard error and exits with 2.

#include <cstdio>
#include <cstring>
#include <string>

#include "core/StrUtils.h"
#include "job/lookup/LookupQuery.h"
#include "job/lookup/LookupRecord.h"
#include "job/lookup/PageLookup.h"
#include "job/lookup/RecordTexts.h"

int main(int argc, char** argv) {
    using namespace tarnwick;
    // The largest limit in seconds whose milliseconds fit the endpoint's settings.
    constexpr std::int32_t kMaxTimeoutSeconds = 2147483;
    TLookupEndpoint endpoint;
    bool valid = true;
    int i = 1;
    for (; valid && i < argc && std::strncmp(argv[i], "--", 2) == 0 &&
           std::strcmp(argv[i], "--builtin") != 0;
         ++i) {
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
    const bool builtin = valid && i < argc && std::strcmp(argv[i], "--builtin") == 0;
    if (builtin) ++i;
    if (!valid || argc - i != (builtin ? 3 : 5)) {
        std::fprintf(
            stderr,
            "usage: tarnwick-lookup [--stall-timeout S] [--connect-timeout S] HOST PORT SITE HD "
            "ADDRESS\n"
            "       tarnwick-lookup [--stall-timeout S] [--connect-timeout S] --builtin SITE HD "
            "ADDRESS\n"
            "  asks the lookup service at HOST:PORT for the record of the page ADDRESS\n"
            "  (SITE 1 to 5, HD 0 or 1) and prints it, then one name=value per line;\n"
            "  --builtin reads the page itself instead (and runs yt-dlp when it must)\n"
            "  --stall-timeout S    fail after S seconds without a byte (default %d; 0: no limit)\n"
            "  --connect-timeout S  fail a connect after S seconds (default %d; 0: no limit)\n",
            static_cast<int>(kDefaultStallTimeout / 1000),
            static_cast<int>(kDefaultConnectTimeout / 1000));
        return 2;
    }
    std::string text;
    TLookupRecord record;
    if (builtin) {
        TPageLookupSettings settings;
        settings.stallTimeout = endpoint.StallTimeout;
        settings.connectTimeout = endpoint.ConnectTimeout;
        record = TPageLookup(settings, nullptr).Run(argv[i + 2], std::strcmp(argv[i + 1], "1") == 0);
        text = RecordText(record);
    } else {
        endpoint.Host = argv[i];
        endpoint.Port = argv[i + 1];
        text = RequestLookupRecord(endpoint, nullptr, argv[i + 2], argv[i + 3], argv[i + 4]);
        ParseLookupRecord(text, record);
    }
    std::string out = text + "\n";
    for (std::size_t n = 0; n < record.Count(); ++n) out += record.Entry(n) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
