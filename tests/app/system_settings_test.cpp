// The program with a system-wide settings file: its Port is the address the
// technician's check tests when the user has none, and a user's own Port wins.
#include "faults/FaultSupport.h"

#include "app/ProgramEnd.h"

#include <gtest/gtest.h>

using namespace kalvor;
using namespace kalvor::faulttest;

TEST(SystemSettings, CheckTestsTheSystemPortUnlessTheUserHasOne)
{
    if (!isBuilt("kalvor"))
        GTEST_SKIP() << "kalvor is not built in " KALVOR_BIN_DIR;
    Sandbox box{QByteArray()};
    ASSERT_TRUE(box.isValid());
    box.writeSystemSettings("[Properties]\nPort=512\n");
    const QByteArray systemBefore = Sandbox::readAll(box.systemConfPath());
    {
        Child check(box, "kalvor", {"--simulate=address=200", "--check"}, "system");
        EXPECT_EQ(check.waitExit(20000), std::optional<int>(exitcode::Ok)) << text(check.standardError());
        EXPECT_TRUE(check.standardOutput().trimmed().endsWith(" at 200")) << text(check.standardOutput());
    }
    box.writeSettings(kPort768);
    {
        Child check(box, "kalvor", {"--simulate=address=200", "--check"}, "user");
        EXPECT_EQ(check.waitExit(20000), std::optional<int>(exitcode::HeadTestFailed)) << text(check.standardError());
        EXPECT_TRUE(check.standardError().contains("&H300")) << text(check.standardError());
    }
    EXPECT_EQ(text(Sandbox::readAll(box.systemConfPath())), text(systemBefore));
}
