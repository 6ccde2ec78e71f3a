// The PortIo wrappers: the range guard and the access trace.
#include "hw/HeadLink.h"
#include "hw/SafePortIo.h"
#include "hw/TracingPortIo.h"
#include "support/RecordingPort.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kalvor;
using kalvor::test::PortAccess;
using kalvor::test::RecordingPort;

TEST(SafePortIo, PortsOutsideTheCardRangeNeverReachTheBus)
{
    RecordingPort inner(0x12);
    SafePortIo safe(inner);
    for (int port : {0x0, 0x3, 0xFF, 0x3E4, 0x8002, 0xFFFE}) {
        EXPECT_EQ(safe.readPort(static_cast<std::uint16_t>(port)), 0xFF) << std::hex << port;
        safe.writePort(static_cast<std::uint16_t>(port), 0x22);
    }
    EXPECT_TRUE(inner.accesses().empty());
    EXPECT_EQ(safe.refusals(), 12u);
}

TEST(SafePortIo, BasesThatAreNoCardAddressAreRefusedThroughTheHeadOperations)
{
    for (int base : {0, 1, 32767, -5}) {
        RecordingPort inner(0x00);
        SafePortIo safe(inner);
        ReaderState state;
        state.base = static_cast<std::int16_t>(base);
        state.Control = 0x02;
        HeadLink head(state, safe);
        head.LedOn();
        EXPECT_FALSE(head.present()) << base; // 0xFF reads as "no dosimeter"
        head.clearControlRegister();
        EXPECT_TRUE(inner.accesses().empty()) << base;
    }
}

TEST(SafePortIo, CardPortsPassThroughBothWays)
{
    RecordingPort inner;
    inner.setRead(0x100, 0x5A);
    inner.setRead(0x3E3, 0xA5);
    SafePortIo safe(inner);
    EXPECT_EQ(safe.readPort(0x100), 0x5A);
    EXPECT_EQ(safe.readPort(0x3E3), 0xA5);
    safe.writePort(0x303, 0x22);
    EXPECT_EQ(inner.accesses(), (std::vector{PortAccess::read(0x100, 0x5A), PortAccess::read(0x3E3, 0xA5),
                                             PortAccess::write(0x303, 0x22)}));
    EXPECT_EQ(safe.refusals(), 0u);
}

namespace {
QByteArrayList traceLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
} // namespace

TEST(TracingPortIo, OneLinePerAccessInOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    RecordingPort inner;
    inner.setRead(0x302, 0x81);
    {
        TracingPortIo trace(inner, path.toStdString());
        ASSERT_TRUE(trace.ok());
        EXPECT_EQ(trace.readPort(0x302), 0x81);
        trace.writePort(0x303, 0x22);
        trace.writePort(0x301, 0x01);
    }
    EXPECT_EQ(traceLines(path), (QByteArrayList{"R 302 81", "W 303 22", "W 301 01"}));
    EXPECT_EQ(inner.accesses().size(), 3u);
}

TEST(TracingPortIo, FileIsCompleteAfterFlushAndAfterDestruction)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    RecordingPort inner(0x00);
    const int n = 20000; // well beyond any buffer
    {
        TracingPortIo trace(inner, path.toStdString());
        for (int i = 0; i < n; ++i)
            trace.writePort(0x303, static_cast<std::uint8_t>(i));
        trace.flush();
        const auto lines = traceLines(path);
        ASSERT_EQ(lines.size(), n);
        EXPECT_EQ(lines.last(), "W 303 1F"); // 19999 = 0x4E1F
        trace.readPort(0x302);
    }
    const auto lines = traceLines(path);
    ASSERT_EQ(lines.size(), n + 1);
    EXPECT_EQ(lines.last(), "R 302 00");
}

TEST(TracingPortIo, UnwritableFileStillPassesAccessesThrough)
{
    RecordingPort inner;
    inner.setRead(0x302, 0x81);
    TracingPortIo trace(inner, "/nonexistent-dir/trace.txt");
    EXPECT_FALSE(trace.ok());
    EXPECT_EQ(trace.readPort(0x302), 0x81);
    trace.writePort(0x303, 0x22);
    EXPECT_EQ(inner.accesses().size(), 2u);
}

TEST(TracingPortIo, FifoWithoutAReaderIsRefusedAtOnce)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("trace.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    RecordingPort inner;
    TracingPortIo trace(inner, QFile::encodeName(fifo).toStdString());
    EXPECT_FALSE(trace.ok());
    EXPECT_FALSE(trace.openError().isEmpty());
}
