#include "http/IdReadWriteLock.h"

namespace tarnwick {

void TIdReadWriteLock::BeginRead() {
    if (IsWriter()) {
        ++depth_;
        return;
    }
    mutex_.lock_shared();
}

void TIdReadWriteLock::EndRead() {
    if (IsWriter()) {
        --depth_;
        return;
    }
    mutex_.unlock_shared();
}

void TIdReadWriteLock::BeginWrite() {
    if (IsWriter()) {
        ++depth_;
        return;
    }
    mutex_.lock();
    writer_.store(std::this_thread::get_id());
    depth_ = 1;
}

void TIdReadWriteLock::EndWrite() {
    if (--depth_ > 0) return;
    writer_.store(std::thread::id());
    mutex_.unlock();
}

}  // namespace tarnwick
