#include "platform/linux/xdg_autostart_login_item.h"
#include "support/temp_home.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::readFile;
using testing::writeFile;

TEST(XdgAutostartLoginItemTest, RegisterWritesAnEntryAndUnregisterRemovesIt) {
    testing::TempHome home;
    XdgAutostartLoginItem item(XdgAutostartLoginItem::defaultEntryPath(), "/opt/per chwell/bin/perchwell");
    EXPECT_EQ(item.entryPath(), home.path() + "/.config/autostart/perchwell.desktop");
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(item.registerItem());
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    EXPECT_NE(readFile(item.entryPath()).find("Exec=\"/opt/per chwell/bin/perchwell\"\n"), std::string::npos);
    ASSERT_TRUE(item.unregisterItem());
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    // Unregistering what is not there is no failure.
    EXPECT_TRUE(item.unregisterItem());
}

TEST(XdgAutostartLoginItemTest, EntriesThatHideThemselvesDoNotCount) {
    testing::TempHome home;
    XdgAutostartLoginItem item(home.path() + "/autostart/perchwell.desktop", "/usr/bin/perchwell");
    const struct {
        std::string extra;
        LoginItemStatus expected;
    } cases[] = {
        {"", LoginItemStatus::enabled},
        {"Hidden=true\n", LoginItemStatus::notRegistered},
        {"Hidden=false\n", LoginItemStatus::enabled},
        {"X-GNOME-Autostart-enabled=false\n", LoginItemStatus::notRegistered},
    };
    for (const auto& c : cases) {
        writeFile(item.entryPath(), "[Desktop Entry]\nType=Application\nExec=perchwell\n" + c.extra);
        EXPECT_EQ(item.status(), c.expected) << c.extra;
    }
}

TEST(XdgAutostartLoginItemTest, FailuresCarryAReadableMessage) {
    testing::TempHome home;
    writeFile(home.path() + "/blocker", "not a directory");
    XdgAutostartLoginItem item(home.path() + "/blocker/autostart/perchwell.desktop", "/usr/bin/perchwell");
    const auto result = item.registerItem();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.find("autostart"), std::string::npos);
}

TEST(XdgAutostartLoginItemTest, ExecQuotingEscapesReservedCharacters) {
    EXPECT_NE(XdgAutostartLoginItem::entryText("/a/$x\"y").find("Exec=\"/a/\\$x\\\"y\"\n"),
              std::string::npos);
}

} // namespace
} // namespace perchwell
