#include "support/TestCertificates.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TestData.h"

namespace tarnwick::testing {

namespace {

void OpenSsl(const std::filesystem::path& dir, std::vector<std::string> args) {
    // Relative names: every file lives in dir.
    std::vector<std::string> command = {"-c", "cd \"$0\" && exec openssl \"$@\"", dir.string()};
    command.insert(command.end(), args.begin(), args.end());
    const ProgramRun run = RunProgram("sh", command);
    if (run.status != 0)
        throw std::runtime_error("openssl " + args.front() + " failed: " + run.err + run.out);
}

// An authority: a self-signed certificate that may sign others.
void MakeAuthority(const std::filesystem::path& dir, const std::string& name,
                   const std::string& subject) {
    OpenSsl(dir, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                  "-nodes", "-keyout", name + ".key", "-out", name + ".pem", "-days", "3",
                  "-subj", subject, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                  "keyUsage=critical,keyCertSign,cRLSign"});
}

// Signs server.csr with the authority into out, for the names in alt and the validity given
// (either "-days N" or "-startdate S -enddate E").
void Sign(const std::filesystem::path& dir, const std::string& authority, const std::string& out,
          const std::string& alt, std::vector<std::string> validity) {
    const std::string ext = out + ".ext";
    std::ofstream(dir / ext) << "subjectAltName=" << alt
                             << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    std::vector<std::string> args = {"ca",      "-batch",    "-config", "ca.cnf",
                                     "-cert",   authority + ".pem", "-keyfile",
                                     authority + ".key", "-in", "server.csr", "-out", out,
                                     "-extfile", ext, "-notext"};
    args.insert(args.end(), validity.begin(), validity.end());
    OpenSsl(dir, args);
}

}  // namespace

TestCertificates::TestCertificates() {
    char pattern[] = "/tmp/tarnwick-certs-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    try {
        std::ofstream(dir_ / "ca.cnf") << "[ca]\ndefault_ca = test\n"
                                          "[test]\ndatabase = index.txt\nnew_certs_dir = .\n"
                                          "serial = serial\ndefault_md = sha256\n"
                                          "unique_subject = no\npolicy = any\n"
                                          "[any]\ncommonName = supplied\n";
        std::ofstream(dir_ / "index.txt");
        std::ofstream(dir_ / "serial") << "01\n";
        MakeAuthority(dir_, "ca", "/CN=Tarnwick Test CA");
        MakeAuthority(dir_, "other-ca", "/CN=Nobody Trusts Me");
        OpenSsl(dir_, {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj",
                       "/CN=localhost"});
        const std::string names = "DNS:localhost,IP:127.0.0.1";
        Sign(dir_, "ca", "valid.pem", names, {"-days", "2"});
        Sign(dir_, "ca", "wrong-name.pem", "DNS:elsewhere.example", {"-days", "2"});
        Sign(dir_, "ca", "expired.pem", names,
             {"-startdate", "20200101000000Z", "-enddate", "20200201000000Z"});
        Sign(dir_, "ca", "not-yet-valid.pem", names,
             {"-startdate", "20400101000000Z", "-enddate", "20400201000000Z"});
        Sign(dir_, "other-ca", "untrusted-leaf.pem", names, {"-days", "2"});
        std::ofstream(dir_ / "untrusted.pem")
            << ReadWholeFile(dir_ / "untrusted-leaf.pem") << ReadWholeFile(dir_ / "other-ca.pem");
    } catch (...) {
        std::filesystem::remove_all(dir_);
        throw;
    }
}

TestCertificates::~TestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

}  // namespace tarnwick::testing
