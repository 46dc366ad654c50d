// A page as the built-in lookup reads it: its bytes decoded by the charset rules (the Content-Type
// is taken from the input's first line), parsed and read for its video under the parse's bounds;
// the same bytes also as a JSON-LD script's text and as yt-dlp's answer.
//
// Whatever the input: the text is valid UTF-8, the parse ends within its bounds, every candidate
// and the preview are absolute web addresses, candidates come once each, and the texts are one
// line.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/StrUtils.h"
#include "job/lookup/JsonLdVideo.h"
#include "job/lookup/PageAddresses.h"
#include "job/lookup/PageCharset.h"
#include "job/lookup/PageReader.h"
#include "job/lookup/RecordTexts.h"
#include "job/lookup/YtDlpLookup.h"

using namespace tarnwick;

namespace {

bool OneLine(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return text.empty() || (text.front() != ' ' && text.back() != ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    const std::string_view contentType =
        lineEnd == std::string_view::npos ? std::string_view() : input.substr(0, lineEnd);

    const std::string text = DecodePageText(input, contentType);
    FUZZ_CHECK(IsValidUtf8(text));

    TPageReadLimits limits;
    limits.time = std::chrono::seconds(2);
    const auto start = std::chrono::steady_clock::now();
    const TPageFacts facts = ReadPage(text, "http://h/dir/page.html", limits);
    FUZZ_CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    if (facts.read) {
        std::set<std::string> seen;
        for (const TMediaCandidate& candidate : facts.candidates) {
            FUZZ_CHECK(IsWebAddress(candidate.address));
            FUZZ_CHECK(seen.insert(candidate.address).second);
            FUZZ_CHECK(candidate.lines >= 0 && candidate.lines <= 4320);
        }
        FUZZ_CHECK(facts.preview.empty() || IsWebAddress(facts.preview));
        FUZZ_CHECK(OneLine(facts.title) && OneLine(facts.author));
    } else {
        FUZZ_CHECK(facts.candidates.empty() && facts.title.empty());
    }

    for (const TJsonLdVideo& video : ReadJsonLdVideos(input))
        FUZZ_CHECK(OneLine(video.name) && OneLine(video.author) && video.durationSeconds >= -1);

    const TLookupRecord record = ReadYtDlpAnswer(input);
    FUZZ_CHECK(record.Count() > 0);
    FUZZ_CHECK(record.Values("error") == "1" || IsWebAddress(record.Values("url")));
    FUZZ_CHECK(RecordText(record).find_first_of("\r\n") == std::string::npos);
    return 0;
}
