// Get against a real nginx on loopback: real files, keep-alive, a redirect, errors.

#include "http/IdHTTP.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "http/IdHTTPExceptions.h"
#include "support/NginxServer.h"
#include "support/TestData.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

// $connection names the server's connection in every answer, so a test sees which requests
// shared one.
std::string Config() {
    // /cookies sets 30 cookies of 60-byte values on a redirect, so the redirected request carries
    // a Cookie line of about 2000 bytes.
    std::string cookies = "    location = /cookies {\n";
    for (int i = 10; i < 40; ++i)
        cookies += "      add_header Set-Cookie \"c" + std::to_string(i) + "=" + std::string(60, 'v') +
                   "; path=/\";\n";
    cookies += "      return 302 /media.bin;\n    }\n";
    return "    add_header X-Connection $connection always;\n"
           "    if_modified_since before;\n"
           "    location = /moved { return 302 /media.bin; }\n" +
           cookies;
}

// Counts what is written and keeps nothing, for bodies too large to hold.
class CountingStream : public TIdStream {
public:
    std::int64_t Position() const override { return position_; }
    void SetPosition(std::int64_t position) override { position_ = position; }
    std::int64_t Size() const override { return size_; }
    void SetSize(std::int64_t size) override {
        size_ = size;
        position_ = std::min(position_, size);
    }
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    void Write(const void*, std::int64_t count) override {
        position_ += count;
        size_ = std::max(size_, position_);
        written_ += count;
    }
    std::int64_t Written() const { return written_; }

private:
    std::int64_t position_ = 0, size_ = 0, written_ = 0;
};

class NginxGetTest : public ::testing::Test {
protected:
    NginxGetTest() : nginx_(Config()) {
        char pattern[] = "/tmp/tarnwick-get-XXXXXX";
        if (::mkdtemp(pattern)) dir_ = pattern;
    }
    ~NginxGetTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string Url(const std::string& path) const { return nginx_.BaseUrl() + path; }
    std::string Connection() { return http_.Response().HeaderLines().HeaderValue("X-Connection"); }

    NginxServer nginx_;
    std::filesystem::path dir_;
    TIdHTTP http_;
};

}  // namespace

TEST_F(NginxGetTest, RealFileArrivesByteIdentical) {
    const auto served = nginx_.WriteFile("media.bin", 3 * 1024 * 1024 + 17);
    const auto saved = dir_ / "video.bin";
    {
        TIdFileStream out(saved.string(), fmCreate);
        http_.Get(Url("/media.bin"), out);
    }
    EXPECT_EQ(http_.Response().StatusCode(), 200);
    const std::string expected = ReadWholeFile(served);
    const std::string got = ReadWholeFile(saved);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the saved file differs from the served one";
}

TEST_F(NginxGetTest, TwoGetsShareOneKeptConnection) {
    nginx_.WriteFile("a.bin", 1000);
    nginx_.WriteFile("b.bin", 70000);
    TIdMemoryStream a, b;
    http_.Get(Url("/a.bin"), a);
    const std::string first = Connection();
    EXPECT_TRUE(http_.IsConnected());
    http_.Get(Url("/b.bin"), b);
    EXPECT_EQ(a.Size(), 1000);
    EXPECT_EQ(b.Size(), 70000);
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(Connection(), first);
}

TEST_F(NginxGetTest, RealRedirectIsFollowedOnTheSameConnection) {
    const auto served = nginx_.WriteFile("media.bin", 100000);
    http_.HandleRedirects = true;
    std::string redirectConnection;
    http_.OnRedirect = [&](TIdCustomHTTP& sender, std::string& dest, std::int32_t, bool&,
                           TIdHTTPMethod&) {
        EXPECT_EQ(dest, Url("/media.bin"));
        redirectConnection =
            static_cast<TIdHTTP&>(sender).Response().HeaderLines().HeaderValue("X-Connection");
    };
    TIdMemoryStream out;
    http_.Get(Url("/moved"), out);
    EXPECT_TRUE(out.DataString() == ReadWholeFile(served));
    EXPECT_EQ(Connection(), redirectConnection);
}

// A long Cookie line must reach a real server as one header line: a folded one is refused.
TEST_F(NginxGetTest, LongCookieLineAfterARedirectIsAccepted) {
    const auto served = nginx_.WriteFile("media.bin", 5000);
    http_.HandleRedirects = true;
    TIdMemoryStream out;
    http_.Get(Url("/cookies"), out);
    EXPECT_EQ(http_.Response().StatusCode(), 200);
    EXPECT_TRUE(out.DataString() == ReadWholeFile(served));
}

TEST_F(NginxGetTest, RealNotFoundCarriesItsPage) {
    nginx_.WriteFile("here.bin", 10);
    TIdMemoryStream out;
    try {
        http_.Get(Url("/missing.bin"), out);
        ADD_FAILURE() << "no exception";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.StatusCode(), 404);
        EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
        EXPECT_NE(e.ResponseBody().find("<title>404 Not Found</title>"), std::string::npos)
            << e.ResponseBody();
    }
    EXPECT_EQ(out.Size(), 0);
    const std::string first = Connection();
    http_.Get(Url("/here.bin"), out);  // the error kept the connection
    EXPECT_EQ(Connection(), first);
}

// Lengths and progress above 2 GiB are carried whole (a sparse file: nothing is stored).
TEST_F(NginxGetTest, BodyAbove2GiBIsReadWhole) {
    const std::int64_t size = (std::int64_t{1} << 31) + 1048576 + 3;
    const auto served = nginx_.Root() / "large.bin";
    { std::ofstream(served, std::ios::binary); }
    std::filesystem::resize_file(served, static_cast<std::uintmax_t>(size));
    std::int64_t begin = -1, last = -1;
    http_.OnWorkBegin = [&](TIdComponent&, TWorkMode, std::int64_t max) { begin = max; };
    http_.OnWork = [&](TIdComponent&, TWorkMode, std::int64_t count) { last = count; };
    CountingStream out;
    http_.Get(Url("/large.bin"), out);
    EXPECT_EQ(http_.Response().ContentLength, size);
    EXPECT_EQ(out.Written(), size);
    EXPECT_EQ(begin, size);
    EXPECT_EQ(last, size);
}
