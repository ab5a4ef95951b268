#include "keepalive/run_notifier.h"
#include "support/keepalive_fakes.h"
#include "support/log_capture.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

class RunNotifierTest : public ::testing::Test {
protected:
    void hold(int seconds) {
        fixture.store.setAgentKeepaliveActive(true);
        now = now.addSecs(seconds);
        fixture.store.setAgentKeepaliveActive(false);
    }

    testing::StoreFixture fixture;
    QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000);
    std::shared_ptr<testing::FakeDesktopNotifications> notifications =
        std::make_shared<testing::FakeDesktopNotifications>();
    RunNotifier notifier{fixture.store, notifications, [this] { return now; }};
};

TEST_F(RunNotifierTest, OnlyHoldsOfFiveMinutesOrMoreAreReportedInWholeMinutes) {
    notifier.start();
    EXPECT_EQ(notifications->authorizationRequests, 1);
    const struct {
        int seconds;
        const char* body; // null: nothing posted
    } cases[] = {
        {4 * 60 + 59, nullptr},
        {300, "Perchwell covered a 5-min run while you were away. Come back and check the receipt."},
        {90 * 60 + 40,
         "Perchwell covered a 90-min run while you were away. Come back and check the receipt."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        notifications->posted.clear();
        hold(c.seconds);
        if (c.body == nullptr) {
            EXPECT_TRUE(notifications->posted.empty());
            continue;
        }
        ASSERT_EQ(notifications->posted.size(), 1u);
        EXPECT_EQ(notifications->posted[0].title, "Your run wrapped up");
        EXPECT_EQ(notifications->posted[0].body, c.body);
        EXPECT_TRUE(notifications->posted[0].defaultSound);
    }
}

TEST_F(RunNotifierTest, ExtensionsCountTowardsOneRunTimedFromTheFirstTrue) {
    // Already holding when the application starts: timed from the start.
    fixture.store.setAgentKeepaliveActive(true);
    notifier.start();
    EXPECT_EQ(notifier.heldSince(), now);
    const QDateTime began = now;
    for (int i = 0; i < 3; ++i) {
        now = now.addSecs(200);
        fixture.store.setAgentKeepaliveActive(true);
    }
    EXPECT_EQ(notifier.heldSince(), began);
    now = now.addSecs(10);
    fixture.store.setAgentKeepaliveActive(false);
    ASSERT_EQ(notifications->posted.size(), 1u);
    EXPECT_NE(notifications->posted[0].body.find("a 10-min run"), std::string::npos);
    // Repeated falls post nothing more.
    fixture.store.setAgentKeepaliveActive(false);
    EXPECT_EQ(notifications->posted.size(), 1u);
    EXPECT_NE(notifications->posted[0].identifier, "");
}

TEST_F(RunNotifierTest, AFailedPostIsLogged) {
    testing::LogCapture logs;
    notifications->failWith = "org.freedesktop.DBus.Error.ServiceUnknown: no notification service";
    notifier.start();
    hold(600);
    const auto lines = logs.systemLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "[Perchwell] run notification failed: org.freedesktop.DBus.Error.ServiceUnknown: no "
                        "notification service"),
              lines.end());
}

} // namespace
} // namespace perchwell
