#include "net/IdComponent.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "net/IdExceptions.h"
#include "net/IdStack.h"
#include "support/WorkLog.h"

using namespace tarnwick;

using tarnwick::testing::Events;
using tarnwick::testing::WorkLog;

TEST(WorkEvents, ReportOutsideAPhaseFiresNothing) {
    TIdComponent c;
    WorkLog log(c);
    c.ReportWork(wmRead, 10);
    c.FinishWork(wmRead);  // an unmatched finish must not spoil the next phase
    c.StartWork(wmRead, 5);
    c.ReportWork(wmRead, 5);
    c.FinishWork(wmRead);
    EXPECT_EQ(log.Events(), (Events{"begin r 5", "work r 5", "end r"}));
}

TEST(WorkEvents, ReportsCarryTheRunningTotal) {
    TIdComponent c;
    WorkLog log(c);
    c.StartWork(wmRead, 500);
    c.ReportWork(wmRead, 200);
    c.ReportWork(wmRead, 200);
    c.FinishWork(wmRead);
    EXPECT_EQ(log.Events(), (Events{"begin r 500", "work r 200", "work r 400", "end r"}));
}

TEST(WorkEvents, NestedPhasesFireOnlyAtTheOutermostLevel) {
    TIdComponent c;
    WorkLog log(c);
    c.StartWork(wmRead, 100);
    c.StartWork(wmRead, 7);  // inner start keeps the outer maximum and total
    c.ReportWork(wmRead, 30);
    c.FinishWork(wmRead);
    c.ReportWork(wmRead, 30);
    c.FinishWork(wmRead);
    EXPECT_EQ(log.Events(), (Events{"begin r 100", "work r 30", "work r 60", "end r"}));
}

TEST(WorkEvents, ModesAreCountedApart) {
    TIdComponent c;
    WorkLog log(c);
    c.StartWork(wmWrite, 0);
    c.ReportWork(wmRead, 9);  // no read phase is open
    c.ReportWork(wmWrite, 4);
    c.StartWork(wmRead, 3);
    c.ReportWork(wmRead, 3);
    c.FinishWork(wmWrite);
    c.FinishWork(wmRead);
    EXPECT_EQ(log.Events(),
              (Events{"begin w 0", "work w 4", "begin r 3", "work r 3", "end w", "end r"}));
}

TEST(WorkEvents, CountsBeyondTwoGigabytes) {
    TIdComponent c;
    WorkLog log(c);
    const std::int64_t five_gib = 5LL << 30;
    c.StartWork(wmRead, five_gib);
    c.ReportWork(wmRead, 3LL << 30);
    c.ReportWork(wmRead, 2LL << 30);
    c.FinishWork(wmRead);
    EXPECT_EQ(log.Events(), (Events{"begin r 5368709120", "work r 3221225472",
                                  "work r 5368709120", "end r"}));
}

TEST(StatusEvents, TextsWithAndWithoutArguments) {
    TIdComponent c;
    std::vector<std::pair<TIdStatus, std::string>> seen;
    c.OnStatus = [&](TIdComponent& sender, TIdStatus status, const std::string& text) {
        EXPECT_EQ(&sender, &c);
        seen.emplace_back(status, text);
    };
    c.ReportStatus(hsResolving, "media.example");
    c.ReportStatus(hsConnecting, "10.0.0.1");
    c.ReportStatus(hsConnected, "media.example");
    c.ReportStatus(hsDisconnecting);
    c.ReportStatus(hsDisconnected);
    c.ReportStatus(hsStatusText, "Chunk Started");
    c.ReportStatus(hsStatusText);
    c.ReportStatus(hsResolving);
    c.ReportStatus(hsStatusText, "100%s");  // an argument is never read as a format
    const std::vector<std::pair<TIdStatus, std::string>> expected = {
        {hsResolving, "Resolving hostname media.example."},
        {hsConnecting, "Connecting to 10.0.0.1."},
        {hsConnected, "Connected."},
        {hsDisconnecting, "Disconnecting."},
        {hsDisconnected, "Disconnected."},
        {hsStatusText, "Chunk Started"},
        {hsStatusText, ""},
        {hsResolving, "Resolving hostname ."},
        {hsStatusText, "100%s"},
    };
    EXPECT_EQ(seen, expected);
}

TEST(StackLifetime, FirstComponentCreatesItAndTheLastDestroysIt) {
    EXPECT_THROW(GStack(), EIdStackError);
    auto first = std::make_unique<TIdComponent>();
    TIdStack* stack = &GStack();
    {
        TIdComponent second(first.get());
        EXPECT_EQ(&GStack(), stack);  // one stack for all components
    }
    EXPECT_EQ(&GStack(), stack);
    first.reset();
    try {
        GStack();
        FAIL() << "the stack outlived the last component";
    } catch (const EIdStackError& e) {
        EXPECT_EQ(e.Message(), "The socket stack does not exist: no network component is alive.");
    }
    TIdComponent again;
    EXPECT_EQ(GStack().ResolveHostName("localhost"), "127.0.0.1");
}
