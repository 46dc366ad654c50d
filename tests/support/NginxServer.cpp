#include "support/NginxServer.h"
#include "support/TestData.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace tarnwick::testing {

namespace {

// A port that was free a moment ago: nginx cannot report a port of its own choosing.
std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("no free loopback port");
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

bool Accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

NginxServer::NginxServer(const std::string& extra_server_config, const NginxTls* tls) {
    char pattern[] = "/tmp/tarnwick-nginx-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    root_ = dir_ / "root";
    std::filesystem::create_directories(root_);
    std::filesystem::create_directories(dir_ / "tmp");

    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreeLoopbackPort();
        std::string secure;
        if (tls) {
            do secure_port_ = FreeLoopbackPort();
            while (secure_port_ == port_);
            secure = "    listen 127.0.0.1:" + std::to_string(secure_port_) + " ssl;\n" +
                     "    ssl_certificate " + tls->certificate.string() + ";\n" +
                     "    ssl_certificate_key " + tls->key.string() + ";\n" +
                     "    ssl_protocols TLSv1.2 TLSv1.3;\n";
        }
        std::ofstream conf(dir_ / "nginx.conf", std::ios::trunc);
        conf << "daemon off;\n"
                "master_process off;\n"
                "worker_processes 1;\n"
                "pid "
             << (dir_ / "nginx.pid").string() << ";\n"
             << "error_log " << (dir_ / "error.log").string() << " warn;\n"
             << "events { worker_connections 64; }\n"
                "http {\n"
                "  access_log off;\n"
                "  client_body_temp_path " << (dir_ / "tmp").string() << ";\n"
             << "  proxy_temp_path " << (dir_ / "tmp").string() << ";\n"
             << "  fastcgi_temp_path " << (dir_ / "tmp").string() << ";\n"
             << "  uwsgi_temp_path " << (dir_ / "tmp").string() << ";\n"
             << "  scgi_temp_path " << (dir_ / "tmp").string() << ";\n"
             << "  default_type application/octet-stream;\n"
                "  sendfile on;\n"
                "  keepalive_timeout 30;\n"
                "  server {\n"
                "    listen 127.0.0.1:" << port_ << ";\n"
             << secure
             << "    root " << root_.string() << ";\n"
             << extra_server_config << "\n"
             << "  }\n"
                "}\n";
        conf.close();

        const std::string conf_path = (dir_ / "nginx.conf").string();
        const std::string prefix = dir_.string() + "/";
        const std::string error_log = (dir_ / "error.log").string();
        std::vector<std::string> args = {"/usr/sbin/nginx", "-p", prefix, "-e", error_log,
                                         "-c", conf_path};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            std::filesystem::remove_all(dir_);
            throw std::runtime_error("cannot start /usr/sbin/nginx");
        }
        posix_spawn_file_actions_destroy(&actions);

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;  // exited: most likely the port was taken meanwhile; try another
            }
            if (Accepts(port_) && (!tls || Accepts(secure_port_))) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    const std::string log = ErrorLog();
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("nginx did not start: " + log);
}

NginxServer::~NginxServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::filesystem::path NginxServer::WriteFile(const std::string& name, std::uintmax_t size) const {
    const auto path = root_ / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string block(65536, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 31 + 7) % 251);
    for (std::uintmax_t left = size; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uintmax_t>(left, block.size()));
        out.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    return path;
}

std::string NginxServer::ErrorLog() const {
    return ReadWholeFile(dir_ / "error.log");
}

}  // namespace tarnwick::testing
