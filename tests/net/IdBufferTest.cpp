#include "net/IdBuffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "net/IdExceptions.h"

using namespace tarnwick;

namespace {

std::string Pattern(std::size_t size, std::size_t seed = 0) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + seed) % 251);
    return s;
}

std::string Content(const TIdSimpleBuffer& b) { return std::string(b.Memory(), b.Size()); }

}  // namespace

TEST(ManagedBuffer, RemovalAdvancesAPrefixAndCompactsAt32768) {
    TIdManagedBuffer b;
    std::vector<std::size_t> removed;
    b.OnRemove = [&](TIdSimpleBuffer&, std::size_t n) { removed.push_back(n); };
    const std::string data = Pattern(70000);
    b.Append(data.data(), data.size());

    b.Remove(30000);
    EXPECT_EQ(b.ConsumedPrefix(), 30000u);  // no move yet
    EXPECT_EQ(Content(b), data.substr(30000));
    b.Remove(2767);
    EXPECT_EQ(b.ConsumedPrefix(), 32767u);
    b.Remove(1);  // the prefix reaches 32768: the rest moves to the front
    EXPECT_EQ(b.ConsumedPrefix(), 0u);
    EXPECT_EQ(Content(b), data.substr(32768));
    EXPECT_EQ(b.Extract(5), data.substr(32768, 5));
    b.Remove(b.Size());  // all of it: empty, prefix 0
    EXPECT_EQ(b.Size(), 0u);
    EXPECT_EQ(b.ConsumedPrefix(), 0u);
    EXPECT_EQ(removed, (std::vector<std::size_t>{30000, 2767, 1, 5, 37227}));
}

TEST(Buffers, RemovingMoreThanHeldRaisesAndKeepsEverything) {
    TIdSimpleBuffer simple;
    TIdManagedBuffer managed;
    for (TIdSimpleBuffer* b : {&simple, static_cast<TIdSimpleBuffer*>(&managed)}) {
        int notices = 0;
        b->OnRemove = [&](TIdSimpleBuffer&, std::size_t) { ++notices; };
        b->Append("abc", 3);
        try {
            b->Remove(4);
            FAIL() << "removed more than held";
        } catch (const EIdNotEnoughDataInBuffer& e) {
            EXPECT_EQ(e.Message(), "Not enough data in buffer.");
        }
        EXPECT_THROW(b->Extract(4), EIdNotEnoughDataInBuffer);
        EXPECT_EQ(Content(*b), "abc");
        EXPECT_EQ(notices, 0);
    }
}

// Random appends and removals against a plain string: every byte comes out once, in order,
// whatever the prefix, compaction and growth did in between.
TEST(Buffers, ManyAppendsAndRemovalsKeepTheBytesInOrder) {
    for (int managed = 0; managed < 2; ++managed) {
        std::unique_ptr<TIdSimpleBuffer> b = managed ? std::make_unique<TIdManagedBuffer>()
                                                     : std::make_unique<TIdSimpleBuffer>();
        std::mt19937 random(42);
        std::string expected;
        std::size_t produced = 0;
        for (int step = 0; step < 2000; ++step) {
            const std::size_t add = random() % 20000;
            const std::string piece = Pattern(add, produced);
            produced += add;
            b->Append(piece.data(), piece.size());
            expected += piece;
            const std::size_t take = random() % (b->Size() + 1);
            ASSERT_EQ(b->Extract(take), expected.substr(0, take)) << "step " << step;
            expected.erase(0, take);
            ASSERT_EQ(Content(*b), expected) << "step " << step;
        }
    }
}

