// Reading a large body from a loopback peer into a file: through TIdTCPConnection::ReadToStream
// and, for comparison, through a plain recv()+write() loop with the same block size.
//
//   bench_transfer serve BYTES CONNECTIONS
//       listens on 127.0.0.1, prints its port, then serves CONNECTIONS connections one after
//       another, each BYTES bytes followed by a close
//   bench_transfer client connection|plain PORT BYTES FILE
//       reads one body into FILE and prints one result line:
//       "<mode> <bytes> <seconds> <MiB/s> <baseline KiB> <peak KiB>"
//
// Memory is the process's peak resident size (VmHWM) before and after the transfer, so each mode
// runs in a process of its own. bench/bench-transfer runs the whole comparison.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "net/IdStream.h"
#include "net/IdTCPClient.h"

using namespace tarnwick;

namespace {

constexpr int kBlock = 32768;  // the connection's RecvBufferSize

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::exit(2);
}

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

int Serve(long long bytes, int connections) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(listener, 4) < 0)
        Die("listen");
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i % 251);
    for (int c = 0; c < connections; ++c) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) Die("accept");
        long long left = bytes;
        while (left > 0) {
            const std::size_t offset = static_cast<std::size_t>((bytes - left) % 251);
            const std::size_t n = std::min<long long>(left, chunk.size() - 251);
            const ssize_t sent = ::send(fd, chunk.data() + offset, n, MSG_NOSIGNAL);
            if (sent < 0) Die("send");
            left -= sent;
        }
        ::close(fd);
    }
    ::close(listener);
    return 0;
}

long long Plain(int port, const char* path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) Die("connect");
    const int out = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) Die("open");
    std::vector<char> block(kBlock);
    long long total = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, block.data(), block.size(), 0);
        if (n < 0) Die("recv");
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, block.data() + done, n - done);
            if (w < 0) Die("write");
            done += w;
        }
        total += n;
    }
    ::close(out);
    ::close(fd);
    return total;
}

// The file must hold exactly the peer's bytes: its size, and its last block against the pattern.
bool Verify(const char* path, long long bytes) {
    TIdFileStream file(path, fmOpenRead);
    if (file.Size() != bytes) return false;
    const long long tail = std::min<long long>(bytes, 4096);
    std::vector<char> back(tail);
    file.SetPosition(bytes - tail);
    if (file.Read(back.data(), tail) != tail) return false;
    for (long long i = 0; i < tail; ++i)
        if (back[i] != static_cast<char>((bytes - tail + i) % 251)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "serve") == 0)
        return Serve(std::atoll(argv[2]), std::atoi(argv[3]));
    if (argc != 6 || std::strcmp(argv[1], "client") != 0) {
        std::fprintf(stderr, "usage: %s serve BYTES CONNECTIONS\n"
                             "       %s client connection|plain PORT BYTES FILE\n",
                     argv[0], argv[0]);
        return 2;
    }
    const std::string mode = argv[2];
    const int port = std::atoi(argv[3]);
    const long long bytes = std::atoll(argv[4]);
    const char* path = argv[5];

    long baseline = 0;
    std::chrono::steady_clock::time_point start, end;
    long long got = 0;
    if (mode == "plain") {
        baseline = PeakKiB();
        start = std::chrono::steady_clock::now();
        got = Plain(port, path);
        end = std::chrono::steady_clock::now();
    } else {
        TIdTCPClient client;
        client.Host = "127.0.0.1";
        client.Port = port;
        client.OpenConnection();
        TIdFileStream file(path, fmCreate);
        baseline = PeakKiB();
        start = std::chrono::steady_clock::now();
        client.ReadToStream(file, bytes, false);
        end = std::chrono::steady_clock::now();
        got = file.Size();
    }
    const long peak = PeakKiB();
    if (got != bytes || !Verify(path, bytes)) {
        std::fprintf(stderr, "%s: the file does not hold the %lld bytes sent\n", mode.c_str(),
                     bytes);
        return 1;
    }
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("%s %lld %.3f %.1f %ld %ld\n", mode.c_str(), bytes, seconds,
                bytes / seconds / (1 << 20), baseline, peak);
    return 0;
}
