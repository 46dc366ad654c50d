#pragma once

// A certificate authority of the tests' own and server certificates it signed, made with the
// openssl command line in a temporary folder that goes with the object. Every server certificate
// has the key Key() and names "localhost" and 127.0.0.1, except where its name says otherwise.

#include <filesystem>

namespace tarnwick::testing {

class TestCertificates {
public:
    // Throws std::runtime_error (with openssl's output) when a step fails.
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // The authority's certificate: the file to trust.
    std::filesystem::path CaFile() const { return dir_ / "ca.pem"; }
    std::filesystem::path Key() const { return dir_ / "server.key"; }

    std::filesystem::path Valid() const { return dir_ / "valid.pem"; }
    // Names only "elsewhere.example".
    std::filesystem::path WrongName() const { return dir_ / "wrong-name.pem"; }
    // Valid in January 2020 only.
    std::filesystem::path Expired() const { return dir_ / "expired.pem"; }
    // Valid from 2040 on.
    std::filesystem::path NotYetValid() const { return dir_ / "not-yet-valid.pem"; }
    // Signed by another authority that nobody trusts; the file holds that authority too.
    std::filesystem::path Untrusted() const { return dir_ / "untrusted.pem"; }

private:
    std::filesystem::path dir_;
};

}  // namespace tarnwick::testing
