#include "http/IdReadWriteLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/LoopbackPeer.h"

using namespace tarnwick;
using tarnwick::testing::Event;

namespace {

TEST(ReadWriteLock, WriterReentersAndReadsThenOthersGetIn) {
    TIdReadWriteLock lock;
    lock.BeginWrite();
    lock.BeginWrite();
    lock.BeginRead();
    EXPECT_TRUE(lock.IsWriter());
    lock.EndRead();
    lock.EndWrite();
    EXPECT_TRUE(lock.IsWriter());
    lock.EndWrite();
    EXPECT_FALSE(lock.IsWriter());

    Event written;
    std::thread other([&] {
        TIdWriteLock write(lock);
        written.Set();
    });
    EXPECT_TRUE(written.Wait());
    other.join();
}

TEST(ReadWriteLock, ReadersShareWhileAWriterWaits) {
    TIdReadWriteLock lock;
    Event firstIn, secondIn, release;
    std::atomic<bool> writerIn{false};

    lock.BeginRead();
    std::thread reader([&] {
        TIdReadLock read(lock);
        secondIn.Set();
        release.Wait();
    });
    EXPECT_TRUE(secondIn.Wait()) << "a second reader must get in beside the first";
    std::thread writer([&] {
        TIdWriteLock write(lock);
        writerIn = true;
    });
    EXPECT_FALSE(writerIn.load());
    lock.EndRead();
    EXPECT_FALSE(writerIn.load());
    release.Set();
    reader.join();
    writer.join();
    EXPECT_TRUE(writerIn.load());
}

TEST(ReadWriteLock, WritersExcludeReadersUnderLoad) {
    TIdReadWriteLock lock;
    long a = 0, b = 0;
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 == 0) {
                    TIdWriteLock write(lock);
                    ++a;
                    TIdWriteLock again(lock);  // the holder takes it again
                    ++b;
                } else {
                    TIdReadLock read(lock);
                    if (a != b) torn = true;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(torn.load());
    EXPECT_EQ(a, 4000);
    EXPECT_EQ(b, 4000);
}

}  // namespace
