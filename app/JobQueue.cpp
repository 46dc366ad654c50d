#include "app/JobQueue.h"

#include <QCoreApplication>

namespace tarnwick {

void TJobQueue::Post(std::function<void()> task) {
    QCoreApplication::postEvent(&window_, new TJobTaskEvent(std::move(task)));
}

}  // namespace tarnwick
