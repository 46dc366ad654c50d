#pragma once

// The fixed texts of the built-in lookup: the User-Agent it reads pages with, the names of the
// record entries it adds to the lookup service's, and the hints a failed lookup gives (the
// record's "hint", which the job shows as its reason).

#include <string_view>

namespace tarnwick {

// Sent with every request of the built-in lookup, and given to the job for the preview and the
// media, so a site sees one browser throughout.
inline constexpr std::string_view kLookupUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 Firefox/115.0 Tarnwick/1.01";

// Optional record entries: request headers for the preview and the media.
inline constexpr std::string_view kRefererEntry = "referer";
inline constexpr std::string_view kUserAgentEntry = "useragent";
inline constexpr std::string_view kCookieEntry = "cookie";
// Why a record says error=1.
inline constexpr std::string_view kHintEntry = "hint";

// Hints. Those ending in ": " are followed by a detail.
inline constexpr std::string_view kNotWebAddressHint = "Not a web address: ";
inline constexpr std::string_view kPageFailedHint = "The page could not be read: ";
inline constexpr std::string_view kPageTooSlowHint = "The page did not arrive in time.";
inline constexpr std::string_view kPageTooLargeHint =
    "The page is too large to read whole, and no video was found in what was read.";
inline constexpr std::string_view kPageEndlessHint =
    "The page did not end in time, and no video was found in what came of it.";
inline constexpr std::string_view kLookupTooSlowHint = "The lookup did not finish in time.";
// The detail of a failure that gives no text of its own.
inline constexpr std::string_view kUnfetchableAddressHint = "the address cannot be fetched";
inline constexpr std::string_view kNeitherPageNorVideoHint =
    "The address gives neither a page nor a video: ";
inline constexpr std::string_view kPageTooComplexHint =
    "The page is too large or too deeply nested to read.";
inline constexpr std::string_view kNoVideoOnPageHint = "No video was found on the page.";
inline constexpr std::string_view kNoCandidateAnsweredHint =
    "None of the video addresses on the page gave a video.";
inline constexpr std::string_view kLookupStoppedHint = "The lookup was stopped.";

inline constexpr std::string_view kHelperMissingHint =
    "yt-dlp, which reads the pages of many more sites, is not installed.";
inline constexpr std::string_view kHelperFailedHint = "yt-dlp failed: ";
// Followed by the memory yt-dlp may take ("2.0 GB").
inline constexpr std::string_view kHelperOutOfMemoryHint =
    "yt-dlp ran out of the memory it may take: ";
inline constexpr std::string_view kHelperGarbledHint = "yt-dlp's answer could not be read.";
inline constexpr std::string_view kHelperNoFormatHint =
    "yt-dlp found no video that Tarnwick can fetch.";
// Followed by the protocol and ".".
inline constexpr std::string_view kHelperProtocolHint =
    "yt-dlp offers the video only over a protocol Tarnwick cannot fetch: ";
inline constexpr std::string_view kHelperFragmentsHint =
    "yt-dlp's list of the video's fragments cannot be used.";
// Followed by the bound and ".".
inline constexpr std::string_view kHelperTooManyFragmentsHint =
    "yt-dlp names more fragments for the video than Tarnwick fetches: more than ";
// Around the date of the yt-dlp that failed, when it is older than kYtDlpCurrentDays.
inline constexpr std::string_view kHelperOldHint = "This yt-dlp is older than 180 days (";
inline constexpr std::string_view kHelperOldHintEnd =
    "): a current one (pipx install yt-dlp) may read the page.";

}  // namespace tarnwick
