#include "net/IdComponent.h"

#include <mutex>

#include "core/StrUtils.h"
#include "net/IdMessages.h"
#include "net/IdStack.h"

namespace tarnwick {

namespace {

std::mutex g_live_mutex;
int g_live_components = 0;

}  // namespace

TIdComponent::TIdComponent(TComponent* owner) : TComponent(owner) {
    std::lock_guard lock(g_live_mutex);
    if (g_live_components == 0) InstallStack();
    ++g_live_components;
}

TIdComponent::~TIdComponent() {
    std::lock_guard lock(g_live_mutex);
    if (--g_live_components == 0) RemoveStack();
}

void TIdComponent::StartWork(TWorkMode mode, std::int64_t count_max) {
    WorkInfo& work = work_[mode];
    if (++work.level != 1) return;
    work.maximum = count_max;
    work.position = 0;
    if (OnWorkBegin) OnWorkBegin(*this, mode, count_max);
}

void TIdComponent::ReportWork(TWorkMode mode, std::int64_t count) {
    WorkInfo& work = work_[mode];
    if (work.level <= 0) return;
    work.position += count;
    if (OnWork) OnWork(*this, mode, work.position);
}

void TIdComponent::FinishWork(TWorkMode mode) {
    WorkInfo& work = work_[mode];
    if (work.level <= 0) return;  // a finish without a start must not block later phases
    if (--work.level == 0 && OnWorkEnd) OnWorkEnd(*this, mode);
}

std::string StatusText(TIdStatus status, std::string_view argument) {
    const std::string arg(argument);
    switch (status) {
        case hsResolving: return Format(msg::kStatusResolving, arg.c_str());
        case hsConnecting: return Format(msg::kStatusConnecting, arg.c_str());
        case hsConnected: return msg::kStatusConnected;
        case hsDisconnecting: return msg::kStatusDisconnecting;
        case hsDisconnected: return msg::kStatusDisconnected;
        case hsStatusText:
        case ftpTransfer:
        case ftpReady:
        case ftpAborted: return Format(msg::kStatusText, arg.c_str());
    }
    return arg;
}

void TIdComponent::ReportStatus(TIdStatus status, std::string_view argument) {
    if (OnStatus) OnStatus(*this, status, StatusText(status, argument));
}

}  // namespace tarnwick
