#pragma once

// The stack on Linux: POSIX sockets, getaddrinfo for names, poll for waits. Calls interrupted by
// a signal are resumed. Besides the common error table it knows the resolver's "Host not found."
// (11001). Resolver failures map as: no such name or no IPv4 address 11001, temporary failure
// 11002, anything else 11003 (system errors through SocketErrorFromErrno).

#include "net/IdStack.h"

namespace tarnwick {

class TIdStackLinux : public TIdStack {
public:
    std::string LookupHost(std::string_view name) override;
    TIdStackSocketHandle SocketCreate(int family, int type, int protocol) override;
    int SocketBind(TIdStackSocketHandle handle, int family, int port,
                   std::string_view ip) override;
    int SocketConnect(TIdStackSocketHandle handle, int family, int port,
                      std::string_view ip) override;
    int SocketRecv(TIdStackSocketHandle handle, void* buffer, int length, int flags) override;
    int SocketSend(TIdStackSocketHandle handle, const void* buffer, int length,
                   int flags) override;
    int SocketShutdown(TIdStackSocketHandle handle, int how) override;
    int SocketClose(TIdStackSocketHandle handle) override;
    int SocketSetOption(TIdStackSocketHandle handle, int level, int name, const void* value,
                        int length) override;
    void SocketLocalName(TIdStackSocketHandle handle, int& family, std::string& ip,
                         int& port) override;
    void SocketPeerName(TIdStackSocketHandle handle, int& family, std::string& ip,
                        int& port) override;
    int SocketSelect(std::vector<TIdStackSocketHandle>* read,
                     std::vector<TIdStackSocketHandle>* write, int timeout,
                     std::vector<TIdStackSocketHandle>* error) override;
    std::int32_t LastSocketError() const override;

protected:
    const char* ErrorMessage(std::int32_t code) const override;
};

}  // namespace tarnwick
