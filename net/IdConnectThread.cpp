#include "net/IdConnectThread.h"

#include <exception>

#include "net/IdSocketHandle.h"
#include "net/IdStack.h"

namespace tarnwick {

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start() { thread_ = std::thread([this] { Execute(); }); }

void TIdConnectThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Execute() {
    try {
        // 10009 and 10038 are what a connect gets when its socket is closed under it.
        GStack().CheckSocketResult(socket_.ConnectPeer(Id_PF_INET), {Id_WSAEBADF, Id_WSAENOTSOCK});
    } catch (const std::exception& e) {
        message_ = e.what();
    }
    terminated_.store(true, std::memory_order_release);
}

}  // namespace tarnwick
