// File names and extensions from the lookup record name files: hostile ones are made safe.

#include <gtest/gtest.h>

#include <string>

#include "job/files/FileNames.h"
#include "job/session/JobState.h"

using namespace tarnwick;

TEST(SafeFileName, HostileNames) {
    const std::string e_acute = "\xc3\xa9";  // two bytes
    const struct {
        std::string in, out;
    } cases[] = {
        {"clip", "clip"},
        {"../../.bashrc", "___.._.bashrc"},
        {".", "_"},
        {".hidden", "_hidden"},
        {"a/b", "a_b"},
        {std::string("a\0b", 3), "a_b"},
        {"tab\there\r\nend\x7f", "tab_here__end_"},
        {"", "video"},
        // 199 bytes, then a two-byte character across the cut: the whole character goes.
        {std::string(199, 'x') + e_acute + "tail", std::string(199, 'x')},
        {std::string(198, 'x') + e_acute + "tail", std::string(198, 'x') + e_acute},
        // Controls of text direction go: "holiday<RLO>gpj.exe.avi" must not read "...exe.jpg".
        {"holiday\xe2\x80\xaegpj.exe", "holidaygpj.exe"},
        {"\xe2\x81\xa6" "a\xe2\x81\xa9\xe2\x80\x8f\xd8\x9c\xe2\x80\xaa" "b", "ab"},
        // Their neighbours in the same blocks stay.
        {"\xe2\x80\x94\xe2\x81\xa5\xd8\x9b", "\xe2\x80\x94\xe2\x81\xa5\xd8\x9b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeFileName(c.in), c.out) << "in: " << c.in;
        // name + "." + a longest extension fits in one file name (255 bytes).
        EXPECT_LE(SafeFileName(c.in).size() + 1 + 16, 255u);
    }
}

TEST(JobState, CountsPastFourGiBAreKeptWhole) {
    TJobState state;
    const std::int64_t total = (std::int64_t{5} << 30) + 7;
    state.SetTotalBytes(total);
    state.SetBytesSoFar(total - 1);
    EXPECT_EQ(state.TotalBytes(), total);
    EXPECT_EQ(state.BytesSoFar(), total - 1);
}

TEST(SafeFileExtension, HostileExtensions) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"flv", "flv"},
        {"flv/../../x", "flvx"},
        {"../..", ""},
        {"fl v\r\n", "flv"},
        {std::string("fl\0v", 4), "flv"},
        {"", ""},
        {"abcdefghijklmnopqrstuvwxyz", "abcdefghijklmnop"},
    };
    for (const auto& c : cases) EXPECT_EQ(SafeFileExtension(c.in), c.out) << "in: " << c.in;
}
