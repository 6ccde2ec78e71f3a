// Why port access failed decides the remedy the user is given.
#include "hw/PortAccessFailure.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace kalvor;

TEST(PortAccessFailure, EachCauseGetsItsOwnRemedy)
{
    PortAccessFacts noDevice{"/dev/port", ENOENT, true, QString()};
    PortAccessFacts noCapability{"ioperm", EPERM, false, QStringLiteral("[none] integrity confidentiality")};
    PortAccessFacts lockedDown{"ioperm", EPERM, true, QStringLiteral("none [integrity] confidentiality")};
    PortAccessFacts lockedDownDevice{"/dev/port", EPERM, true, QStringLiteral("none integrity [confidentiality]")};
    EXPECT_EQ(portAccessCause(noDevice), PortAccessCause::NoDevPort);
    EXPECT_EQ(portAccessCause(noCapability), PortAccessCause::NoCapability);
    EXPECT_EQ(portAccessCause(lockedDown), PortAccessCause::KernelRefused);
    EXPECT_EQ(portAccessCause(lockedDownDevice), PortAccessCause::KernelRefused);

    const QString device = portAccessReport(noDevice);
    const QString capability = portAccessReport(noCapability);
    const QString lockdown = portAccessReport(lockedDown);
    EXPECT_TRUE(device.contains(QStringLiteral("CONFIG_DEVPORT"))) << device.toStdString();
    EXPECT_TRUE(capability.contains(QStringLiteral("setcap cap_sys_rawio+ep"))) << capability.toStdString();
    EXPECT_TRUE(lockdown.contains(QStringLiteral("\"integrity\""))) << lockdown.toStdString();
    EXPECT_TRUE(lockdown.contains(QStringLiteral("Secure Boot"))) << lockdown.toStdString();
    EXPECT_TRUE(portAccessReport(lockedDownDevice).contains(QStringLiteral("\"confidentiality\"")));
    // Granting the capability again is no remedy for the two others.
    EXPECT_FALSE(lockdown.contains(QStringLiteral("setcap")));
    EXPECT_FALSE(device.contains(QStringLiteral("setcap")));

    PortAccessFacts notLocked = lockedDown;
    notLocked.lockdown = QStringLiteral("[none] integrity confidentiality");
    EXPECT_FALSE(portAccessReport(notLocked).contains(QStringLiteral("Secure Boot")));
}
