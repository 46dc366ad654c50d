#pragma once

// A real nginx on 127.0.0.1 for tests: started on a free port with a configuration of our own in
// a temporary folder (its logs, pid file and temporary paths too), serving a document root the
// test fills. Destroying it stops nginx and removes the folder.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarnwick::testing {

// A certificate and its key for the secure port.
struct NginxTls {
    std::filesystem::path certificate;  // PEM, the server's certificate first, then its chain
    std::filesystem::path key;
};

class NginxServer {
public:
    // extra_server_config is pasted into the server block (locations, returns, ...). With tls the
    // same server also listens for TLS 1.2/1.3 on a second port (SecurePort).
    explicit NginxServer(const std::string& extra_server_config = {},
                         const NginxTls* tls = nullptr);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::uint16_t SecurePort() const { return secure_port_; }
    std::string SecureBaseUrl(const std::string& host = "127.0.0.1") const {
        return "https://" + host + ":" + std::to_string(secure_port_);
    }
    // The folder nginx serves; tests write their files here.
    const std::filesystem::path& Root() const { return root_; }
    // Writes a file of size bytes (a repeating pattern) under the document root; returns its path.
    std::filesystem::path WriteFile(const std::string& name, std::uintmax_t size) const;
    // The error log so far (for failure messages).
    std::string ErrorLog() const;

private:
    std::filesystem::path dir_;
    std::filesystem::path root_;
    std::uint16_t port_ = 0;
    std::uint16_t secure_port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace tarnwick::testing
