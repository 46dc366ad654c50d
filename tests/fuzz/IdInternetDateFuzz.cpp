// Internet dates: parsing arbitrary text, reading zone offsets, and formatting what was read.
// A date that is written and read again must come back to the second.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "http/IdInternetDate.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A zone with summer time, so that offsets other than 0 are exercised.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string rest = input;
    const TDateTime date = ParseInternetDate(rest);
    FUZZ_CHECK(std::isfinite(date));
    FUZZ_CHECK(rest.size() <= input.size());

    const TDateTime zone = ParseZoneOffset(rest);
    FUZZ_CHECK(zone > -1 && zone < 1);
    FUZZ_CHECK(std::isfinite(InternetDateToLocal(input)));

    if (date != 0) {
        const TDateParts parts = DecodeDate(date);
        FUZZ_CHECK(parts.Year >= 1 && parts.Year <= 9999);
        // Years below 100 read as two-digit years, and a literal 1900 as the asctime layout.
        if (parts.Year >= 100 && parts.Year != 1900) {
            const std::string text = FormatInternetDate(date);
            FUZZ_CHECK(std::fabs(InternetDateToLocal(text) - date) < kOneSecond / 2);
        }
    }
    (void)FormatZoneOffset(zone, (size & 1) != 0);
    return 0;
}
