// tarnwick-get over https as a black box: a TLS nginx trusted through --cacert, directly and
// through a CONNECT proxy, and the failure without the certificate.

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ConnectProxy.h"
#include "support/NginxServer.h"
#include "support/TestCertificates.h"
#include "support/TestData.h"

using namespace tarnwick::testing;

namespace {

ProgramRun RunTool(const std::vector<std::string>& args) {
    return RunProgram(TARNWICK_GET_TOOL, args);
}

TEST(TarnwickGetSecure, CacertDownloadsByteIdenticalDirectlyAndThroughAProxy) {
    const TestCertificates certificates;
    const NginxTls tls{certificates.Valid(), certificates.Key()};
    const NginxServer nginx({}, &tls);
    const std::string served = ReadWholeFile(nginx.WriteFile("f", 3 * 1024 * 1024 + 1));
    const auto out = nginx.Root().parent_path() / "saved.bin";
    const std::string ca = certificates.CaFile().string();
    const std::string url = nginx.SecureBaseUrl() + "/f";

    ProgramRun run = RunTool({"--cacert", ca, url, out.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadWholeFile(out) == served) << "the saved file differs";
    std::filesystem::remove(out);

    ConnectProxy proxy;
    run = RunTool({"--cacert", ca, "--proxy", "127.0.0.1:" + std::to_string(proxy.Port()),
                   nginx.SecureBaseUrl("localhost") + "/f", out.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadWholeFile(out) == served) << "the file saved through the proxy differs";
    EXPECT_EQ(proxy.Accepted(), 1);
    std::filesystem::remove(out);

    // The test authority is in no system store.
    run = RunTool({url, out.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("EIdTLSError: Secure connection to 127.0.0.1 failed: certificate "
                            "verify failed: ",
                            0),
              0u)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    EXPECT_EQ(RunTool({"--proxy", "127.0.0.1", url, out.string()}).status, 2);
}

}  // namespace
