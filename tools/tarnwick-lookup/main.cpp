// tarnwick-lookup HOST PORT SITE HD ADDRESS
//
// Runs one lookup against the lookup service at HOST:PORT and prints the record text on the first
// line, then each entry of the record as name=value on a line of its own. A failed lookup prints
// the record "error=1" like any other; the exit status is 0. A wrong command line prints the usage
// to standard error and exits with 2.

#include <cstdio>
#include <string>

#include "job/LookupQuery.h"
#include "job/LookupRecord.h"

int main(int argc, char** argv) {
    using namespace tarnwick;
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: tarnwick-lookup HOST PORT SITE HD ADDRESS\n"
                     "  asks the lookup service at HOST:PORT for the record of the page ADDRESS\n"
                     "  (SITE 1 to 5, HD 0 or 1) and prints it, then one name=value per line\n");
        return 2;
    }
    const std::string text = RequestLookupRecord(TLookupEndpoint{argv[1], argv[2]}, nullptr,
                                                 argv[3], argv[4], argv[5]);
    TLookupRecord record;
    ParseLookupRecord(text, record);
    std::string out = text + "\n";
    for (std::size_t i = 0; i < record.Count(); ++i) out += record.Entry(i) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
