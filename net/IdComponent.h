#pragma once

// The base of every network component: work events for transfer progress (reading and writing
// counted apart) and status events for the life of a connection. While at least one component
// lives, the process-wide socket stack (GStack) exists: the first one created makes it, the last
// one destroyed removes it.
//
// Events fire synchronously on the thread that reads, writes, connects or disconnects. Byte counts
// are 64-bit, so transfers above 2 GiB report true totals.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/Component.h"

namespace tarnwick {

enum TWorkMode { wmRead, wmWrite };

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

class TIdComponent;

// AWorkCountMax: the size announced at the start (0 when unknown).
using TWorkBeginEvent =
    std::function<void(TIdComponent& ASender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
// AWorkCount: the running total of bytes since the phase began.
using TWorkEvent =
    std::function<void(TIdComponent& ASender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdComponent& ASender, TWorkMode AWorkMode)>;
using TIdStatusEvent =
    std::function<void(TIdComponent& ASender, TIdStatus AStatus, const std::string& AStatusText)>;

class TIdComponent : public TComponent {
public:
    explicit TIdComponent(TComponent* owner = nullptr);
    ~TIdComponent() override;

    TIdStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

    // Opens a work phase of mode (phases nest); only the outermost start fires OnWorkBegin.
    virtual void StartWork(TWorkMode mode, std::int64_t count_max);
    // Adds count to the open phase's total and fires OnWork with the total; nothing outside a
    // phase.
    virtual void ReportWork(TWorkMode mode, std::int64_t count);
    // Closes a phase; only the outermost finish fires OnWorkEnd.
    virtual void FinishWork(TWorkMode mode);

    // Fires OnStatus with the status's text, filled with argument where the text takes one:
    // "Resolving hostname %s.", "Connecting to %s.", "Connected.", "Disconnecting.",
    // "Disconnected.", and the free text "%s" for hsStatusText and the ftp statuses.
    void ReportStatus(TIdStatus status, std::string_view argument = {});

private:
    struct WorkInfo {
        std::int64_t position = 0;
        std::int64_t maximum = 0;
        std::int32_t level = 0;
    };
    WorkInfo work_[2];
};

// The status text of status filled with argument.
std::string StatusText(TIdStatus status, std::string_view argument);

}  // namespace tarnwick
