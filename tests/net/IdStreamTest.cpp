#include "net/IdStream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/IdExceptions.h"

using namespace tarnwick;

namespace {

class FileStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwick-stream-XXXXXX";
        const int fd = ::mkstemp(pattern);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path_ = pattern;
    }
    void TearDown() override { ::unlink(path_.c_str()); }

    std::int64_t SizeOnDisk() const {
        struct stat info;
        return ::stat(path_.c_str(), &info) == 0 ? info.st_size : -1;
    }

    std::string path_;
};

}  // namespace

TEST_F(FileStreamTest, PresizeWriteAndCut) {
    TIdFileStream file(path_, fmCreate);
    file.SetSize(100000);
    EXPECT_EQ(SizeOnDisk(), 100000);
    EXPECT_EQ(file.Position(), 0);
    file.Write("abc", 3);
    file.Write("de", 2);
    EXPECT_EQ(file.Position(), 5);
    file.SetSize(file.Position());
    EXPECT_EQ(SizeOnDisk(), 5);

    TIdFileStream again(path_, fmOpenRead);
    char back[8] = {};
    EXPECT_EQ(again.Read(back, sizeof back), 5);
    EXPECT_EQ(std::string(back, 5), "abcde");
    EXPECT_EQ(again.Read(back, sizeof back), 0);
}

TEST_F(FileStreamTest, SizesAndPositionsBeyondTwoGigabytes) {
    TIdFileStream file(path_, fmCreate);
    const std::int64_t five_gib = 5LL << 30;
    file.SetSize(five_gib);  // sparse: no space is used
    EXPECT_EQ(file.Size(), five_gib);
    file.SetPosition(five_gib - 2);
    file.Write("yz", 2);
    EXPECT_EQ(file.Position(), five_gib);
    file.SetPosition(five_gib - 2);
    char back[2];
    EXPECT_EQ(file.Read(back, 2), 2);
    EXPECT_EQ(std::string(back, 2), "yz");
    file.SetSize(10);
    EXPECT_EQ(file.Position(), 10);  // moved back to the new end
    EXPECT_EQ(SizeOnDisk(), 10);
}

TEST_F(FileStreamTest, FailuresNameTheFileAndTheReason) {
    const std::string missing = path_ + "-missing/file";
    try {
        TIdFileStream file(missing, fmOpenRead);
        FAIL() << "opened a missing file";
    } catch (const EIdStreamError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\": No such file or directory");
    }
    TIdFileStream read_only(path_, fmOpenRead);
    EXPECT_THROW(read_only.Write("x", 1), EIdStreamError);
}

TEST(MemoryStream, PresizeReservesNothingAndReadsZerosBeyondTheWrittenPart) {
    TIdMemoryStream m;
    m.SetSize(1LL << 40);  // an announced terabyte costs nothing until it arrives
    EXPECT_EQ(m.Size(), 1LL << 40);
    m.Write("abc", 3);
    m.SetSize(6);
    EXPECT_EQ(m.DataString(), std::string("abc\0\0\0", 6));
    m.SetPosition(0);
    char back[10];
    EXPECT_EQ(m.Read(back, sizeof back), 6);
    EXPECT_EQ(std::string(back, 6), std::string("abc\0\0\0", 6));
    m.SetPosition(8);
    m.Write("z", 1);  // beyond the end: the gap is zeros
    EXPECT_EQ(m.DataString(), std::string("abc\0\0\0\0\0z", 9));
    m.SetSize(2);
    EXPECT_EQ(m.Position(), 2);
    EXPECT_EQ(m.DataString(), "ab");
}
