#include "core/Component.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace tarnwick;

namespace {

// Counts its own destruction and records the order in which owned components go.
class Probe : public TComponent {
public:
    Probe(TComponent* owner, std::vector<std::string>* gone, std::string name)
        : TComponent(owner), gone_(gone) {
        SetName(std::move(name));
    }
    ~Probe() override { gone_->push_back(Name()); }

private:
    std::vector<std::string>* gone_;
};

}  // namespace

TEST(Component, OwnerFindsOwnedByNameIgnoringCase) {
    std::vector<std::string> gone;
    TComponent window;
    auto& client = CreateComponent<Probe>(window, &gone, "TCPClient");
    EXPECT_EQ(client.Owner(), &window);
    EXPECT_EQ(window.FindComponent("tcpclient"), &client);
    EXPECT_EQ(window.FindComponent("IdHTTP"), nullptr);
    EXPECT_EQ(window.FindComponent(""), nullptr);
    EXPECT_EQ(window.ComponentCount(), 1u);
}

TEST(Component, OwnerFreesWhatItOwnsLastFirst) {
    std::vector<std::string> gone;
    {
        TComponent window;
        CreateComponent<Probe>(window, &gone, "a");
        CreateComponent<Probe>(window, &gone, "b");
        EXPECT_TRUE(gone.empty());
    }
    EXPECT_EQ(gone, (std::vector<std::string>{"b", "a"}));
}

TEST(Component, FreeComponentDestroysAtOnceAndRemoveHandsBack) {
    std::vector<std::string> gone;
    TComponent window;
    auto& a = CreateComponent<Probe>(window, &gone, "a");
    auto& b = CreateComponent<Probe>(window, &gone, "b");
    window.FreeComponent(a);
    EXPECT_EQ(gone, std::vector<std::string>{"a"});
    auto back = window.RemoveComponent(b);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(window.ComponentCount(), 0u);
    EXPECT_EQ(window.RemoveComponent(b), nullptr);  // no longer owned
    back.reset();
    EXPECT_EQ(gone, (std::vector<std::string>{"a", "b"}));
}

// One thread walks the owned components while another creates, names and frees them: the walk
// never sees a half-made or destroyed component (run under ThreadSanitizer to see races).
TEST(Component, WalkDoesNotOverlapInsertAndFree) {
    std::vector<std::string> gone;
    TComponent window;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 2000; ++i) {
            auto& c = CreateComponent<Probe>(window, &gone, "IdHTTP1");
            c.SetName("IdHTTP");
            window.FreeComponent(c);
        }
        done = true;
    });
    int strangers = 0;
    while (!done) {
        window.ForEachComponent([&](TComponent& c) {
            const std::string name = c.Name();
            if (c.Owner() != &window || (name != "IdHTTP" && name != "IdHTTP1")) ++strangers;
        });
    }
    worker.join();
    EXPECT_EQ(strangers, 0);
    EXPECT_EQ(gone.size(), 2000u);
    EXPECT_EQ(window.ComponentCount(), 0u);
}
