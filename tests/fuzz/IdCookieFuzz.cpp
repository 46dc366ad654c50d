// Cookie records and the store on arbitrary header values: parsing into each flavour, rendering,
// copying into another record, and receiving, storing, purging and selecting in a store.
// Input: the first line is the response host, every further line one header value.
// A record with a value whose fields are clean (no ";", no line break, nothing blank at either
// end) must render the same text again after being copied into another record.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/Exception.h"
#include "http/IdCookieManager.h"

using namespace tarnwick;

namespace {

bool Clean(std::string_view s) {
    if (s.find_first_of(";\r\n") != std::string_view::npos) return false;
    return s.empty() || (static_cast<unsigned char>(s.front()) > 0x20 &&
                         static_cast<unsigned char>(s.back()) > 0x20);
}

bool CleanRecord(const TIdCookieRFC2109& c) {
    // A record without a value renders without its name: its first attribute would become the
    // copy's name and value.
    return !c.Value.empty() && Clean(c.Name) && c.Name.find('=') == std::string::npos &&
           Clean(c.Value) && Clean(c.Path) &&
           (c.Path.empty() || (c.Path.front() != '"' && c.Path.back() != '"')) && Clean(c.Domain) &&
           Clean(c.Expires) && Clean(c.Comment) && Clean(c.Version);
}

// 6 December 2026 08:00, fixed so that expiries are reproducible.
constexpr TDateTime kNow = 46362 + 8.0 / 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto firstEnd = input.find('\n');
    const std::string host(input.substr(0, firstEnd));
    input = firstEnd == std::string_view::npos ? std::string_view() : input.substr(firstEnd + 1);

    TIdCookieManager manager;
    manager.SetClock([] { return kNow; });
    TIdCookies& records = manager.CookieCollection();

    for (int n = 0; n < 8 && !input.empty(); ++n) {
        const auto end = input.find('\n');
        const std::string_view text = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

        TIdNetscapeCookie netscape(&records);
        netscape.ParseCookieText(text);
        (void)netscape.RenderCookieText();
        (void)netscape.DomainAccepted(host);

        TIdCookieRFC2109& cookie = records.Add<TIdCookieRFC2109>();
        cookie.ParseCookieText(text);
        const std::string rendered = cookie.RenderCookieText();
        (void)cookie.DomainAccepted(host);

        TIdCookieRFC2965& copy = records.Add<TIdCookieRFC2965>();
        copy.Assign(cookie);
        FUZZ_CHECK(copy.Kind == cookie.Kind);
        if (CleanRecord(cookie)) FUZZ_CHECK(copy.RenderCookieText() == rendered);
        copy.Assign(netscape);  // not an RFC 2109 record: nothing changes
        FUZZ_CHECK(copy.Kind == cookie.Kind);
        records.Extract(copy);
        records.Extract(cookie);

        try {
            manager.ReceiveCookie(text, host, n % 2 == 0 ? ckRFC2109 : ckRFC2965);
        } catch (const EConvertError&) {
        }
    }

    const std::string header = manager.BuildCookieHeader(TIdURI("http://" + host + "/"), false);
    if (records.DomainCount() == 0) FUZZ_CHECK(header.empty());
    (void)manager.BuildCookieHeader(TIdURI("http://unrelated.invalid/a/b/"), true);
    manager.PurgeExpired();
    return 0;
}
