// Header blocks: reading names and values (with unfolding) of arbitrary lines, then assigning
// and removing headers (with folding) at a width taken from the input, and FoldText with
// arbitrary break texts and sets.
// Input: byte 0 picks the width, byte 1 the settings; the rest is the header block text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "http/IdHeaderList.h"

using namespace tarnwick;

namespace {

// A name that folding cannot split: no break point, separator or line break in it.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name.find_first_of(" \t,:\r\n\"") == std::string_view::npos;
}

// A value that folding and unfolding give back unchanged: single spaces between bytes above
// 0x20 and no commas (a break after a comma reads back as comma and space).
bool FoldsLosslessly(std::string_view value) {
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c == ',') return false;
        if (c > 0x20) continue;
        if (c != ' ' || i == 0 || i + 1 == value.size() || value[i + 1] == ' ') return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::int32_t width = data[0] < 200 ? data[0] : 1024;
    const std::uint8_t flags = data[1];
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    TIdHeaderList list({.MatchCase = (flags & 1) != 0,
                        .UnfoldOnRead = (flags & 2) == 0,
                        .FoldOnWrite = (flags & 4) == 0,
                        .FoldWidth = width});
    list.SetText(text);
    TIdHeaderList values;
    for (std::int32_t i = 0; i < list.Count(); ++i) {
        const std::string name = list.LineName(i);
        const std::string value = list.LineValue(i);
        FUZZ_CHECK(name.size() < list[i].size() || name.empty());
        FUZZ_CHECK(value.empty() || (static_cast<unsigned char>(value.front()) > 0x20 &&
                                     static_cast<unsigned char>(value.back()) > 0x20));
        const std::int32_t found = list.FindHeader(name);
        FUZZ_CHECK(found >= 0 && found <= i);
        list.CollectValues(name, &values);
    }

    // Assign each line's text as a value under a name made from the line's first bytes, then
    // remove it again.
    for (std::int32_t i = 0; i < list.Count() && i < 8; ++i) {
        const std::string line = list[i];
        std::string name = line.substr(0, line.find_first_of(" \t,:\r\n\""));
        if (!IsPlainName(name)) name = "X-Fuzz";
        const std::string value = line.substr(name.size() < line.size() ? name.size() : 0);
        list.AssignHeader(name, value);
        if (!value.empty()) {
            FUZZ_CHECK(list.FindHeader(name) >= 0);
            if (list.FoldOnWrite() && list.UnfoldOnRead() && FoldsLosslessly(value))
                FUZZ_CHECK(list.HeaderValue(name) == value);
        }
        const std::int32_t before = list.Count();
        const bool present = list.FindHeader(name) >= 0;
        list.AssignHeader(name, "");
        FUZZ_CHECK(list.Count() < before || !present);
    }

    const std::string_view breakText = text.substr(0, flags % 4);
    const std::string_view breakSet = text.substr(breakText.size(), flags % 5);
    (void)FoldText(text, breakText, breakSet, width);
    return 0;
}
