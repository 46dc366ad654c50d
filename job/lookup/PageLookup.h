#pragma once

// The built-in lookup: the lookup record of a page address made by the program itself, for a
// build or a run that names no lookup service. It tries, in order:
//  1. the address itself: when it answers (after redirects) with media (see IsMediaAnswer), the
//     record describes that file: title and file name from the Content-Disposition file name
//     or the last path segment, the extension from the name or the type, the size from
//     Content-Length. An HLS playlist or a DASH manifest counts as media: by its type or name
//     (StreamAnswerFormat), or, where its head leaves that open (MayBeStreamByContent), by its
//     first kStreamHeadBytes (StreamFormatOf); its record names the `protocol` ("m3u8",
//     "dash"), no size, and the extension most streams are delivered in;
//  2. the page: an answer of a page type is read (at most pageLimit bytes and pageTime in all,
//     besides the stall limit; what came by then is read), decoded to UTF-8 (PageCharset.h) and
//     read for its video (PageReader.h). The candidates are tried in CandidateOrder, at most
//     probeLimit of them; the first that answers with media (a file, a playlist or manifest as
//     in 1) is the record's `url`. A candidate that answers otherwise (an embedded player's
//     page, an error) is passed over;
//  3. when neither gave a video, yt-dlp (YtDlpLookup.h), when it is on the PATH, unless the page
//     was cut off at its size or time bound (yt-dlp would read it again to no better end).
// The whole lookup has lookupTime: each fetch is bounded by what is left of it (the client's
// RequestTimeout), and yt-dlp gets the rest.
// A record of the page carries `referer` (the page's address after redirects) and `useragent`
// (kLookupUserAgent, which every request of the lookup sends); yt-dlp's carries the headers it
// names. A failed lookup gives error=1 and a `hint` that says why.
//
// Every request goes through one HTTP client (redirects followed, cookies kept between the page
// and its candidates) named kPageClientName, which joins owner's components for the length of the
// lookup; yt-dlp runs as a kYtDlpProcessName component. The caller's abort token reaches all of
// them: it closes the request under way, stops yt-dlp and the parse, and once it is set no
// request is sent and no program started; the lookup returns error=1 (kLookupStoppedHint)
// promptly.
//
// Run blocks the calling thread; one lookup object serves one call at a time. Run never throws
// (std::bad_alloc aside): every failure is a record.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/Component.h"
#include "http/IdHTTP.h"
#include "job/JobDefaults.h"
#include "job/lookup/LookupRecord.h"
#include "job/lookup/PageReader.h"
#include "job/lookup/YtDlpLookup.h"

namespace tarnwick {

// Name of the HTTP client of the built-in lookup in its owner's list.
inline constexpr std::string_view kPageClientName = "IdHTTPPage";

struct TPageLookupSettings {
    // Limits on a silent server, in milliseconds (0: none), as for the job's other fetches.
    std::int32_t stallTimeout = kDefaultStallTimeout;
    std::int32_t connectTimeout = kDefaultConnectTimeout;
    // Bounds on the page's answer and the time its reading may take (each candidate's answer
    // head has the same time).
    std::size_t pageLimit = 4 * 1024 * 1024;
    std::chrono::milliseconds pageTime = kDefaultPageTime;
    // Bound on the HTML parse (its memory is bounded by PageReader's default).
    std::chrono::milliseconds parseTime = kDefaultParseTime;
    std::size_t probeLimit = 8;
    // Bound on the whole lookup: the page, its candidates and yt-dlp, which gets what is left.
    std::chrono::milliseconds lookupTime = kDefaultLookupTime;
    TYtDlpSettings ytDlp;
};

class TPageLookup {
public:
    // owner (may be null) and abort must outlive the lookup.
    TPageLookup(TPageLookupSettings settings, TComponent* owner,
                const TIdAbortSignal& abort = TIdAbortSignal::Never());

    // The record for the page at address ("http://" is put in front of an address without a
    // protocol), choosing the high-definition copy when hd is set.
    TLookupRecord Run(std::string_view address, bool hd);

private:
    using Clock = std::chrono::steady_clock;
    struct Fetch;
    bool Stopped() const;
    // What is left of the lookup's time (0 once it is up).
    std::chrono::milliseconds TimeLeft() const;
    std::unique_ptr<TIdHTTP> MakeClient() const;
    // address into body within pageTime and the lookup's time left (the client's own deadline);
    // ReadingDone from the client's events or body ends it without failing.
    Fetch Get(TIdHTTP& client, const std::string& address, TIdStream& body) const;
    // The record of the page at address, or an empty one with hint saying why there is none and
    // helperMayTry false when yt-dlp is not to read the page again.
    TLookupRecord FromPage(const std::string& address, bool hd, std::string& hint,
                           bool& helperMayTry);
    // The record of the first of the page's candidates (in CandidateOrder, at most probeLimit)
    // that answers with media, or an empty one with hint.
    TLookupRecord FromCandidates(TIdHTTP& client, const TPageFacts& facts,
                                 const std::string& pageAddress, bool hd, std::string& hint);

    const TPageLookupSettings settings_;
    TComponent* const owner_;
    const TIdAbortSignal& abort_;
    Clock::time_point end_{};  // when the running lookup's time is up
};

}  // namespace tarnwick
