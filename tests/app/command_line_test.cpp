// The kalvor command line: usage errors before anything runs, the check
// address range, and help text that names the program, its exit statuses,
// its settings file and the environment that matters.
#include "app/CommandLine.h"
#include "app/ProgramEnd.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace kalvor;

namespace {

CommandLine parse(QStringList args)
{
    args.prepend(QStringLiteral("/usr/local/bin/kalvor"));
    return parseCommandLine(args);
}

std::string str(const QString& s) { return s.toStdString(); }

} // namespace

TEST(CommandLine, UsageErrorsNameTheProblemAndShowTheUsageLine)
{
    const QStringList bad[] = {{"--bogus"}, {"--check=5000"}, {"--check=F8"}, {"--check=3E8"}, {"--check=-300"},
                               {"--check=zz"}, {"--port-trace="}, {"extra"}};
    for (const QStringList& args : bad) {
        const CommandLine c = parse(args);
        EXPECT_EQ(c.action, CommandLine::Action::UsageError) << str(args.join(' '));
        EXPECT_TRUE(c.text.contains(QStringLiteral("\nUsage: kalvor [options]\n"))) << str(c.text);
    }
}

TEST(CommandLine, CheckAddressesAtTheEndsOfTheCardRangeAndQtOptionsPass)
{
    const CommandLine low = parse({"--check=100"});
    ASSERT_EQ(low.action, CommandLine::Action::Run);
    EXPECT_EQ(low.options.checkAddress, std::optional<int>(0x100));
    EXPECT_FALSE(low.wantsWindow());
    EXPECT_EQ(parse({"--check=&H3E0"}).options.checkAddress, std::optional<int>(0x3E0));
    EXPECT_EQ(parse({"--check=0x300"}).options.checkAddress, std::optional<int>(0x300));
    EXPECT_EQ(parse({"--check"}).options.checkAddress, std::nullopt);

    const CommandLine run = parse({"--simulate=lamp=0.5", "-platform", "offscreen", "--port-trace", "t.trace"});
    ASSERT_EQ(run.action, CommandLine::Action::Run) << str(run.text);
    EXPECT_TRUE(run.wantsWindow());
    EXPECT_EQ(str(run.options.simulateText), "lamp=0.5");
    EXPECT_EQ(str(run.options.portTrace), "t.trace");
}

TEST(CommandLine, HelpNamesKalvorAndEndsWithStatusesSettingsAndEnvironment)
{
    const CommandLine help = parse({"--help"});
    ASSERT_EQ(help.action, CommandLine::Action::Help);
    EXPECT_TRUE(help.text.startsWith(QStringLiteral("Usage: kalvor [options]\n"))) << str(help.text);
    EXPECT_FALSE(help.text.contains(QStringLiteral("-platform"))) << "Qt's options only in --help-all";
    const qsizetype statuses = help.text.indexOf(QStringLiteral("\nExit status:\n"));
    const qsizetype settings = help.text.indexOf(QStringLiteral("\nSettings file:\n"));
    const qsizetype environment = help.text.indexOf(QStringLiteral("\nEnvironment:\n"));
    EXPECT_TRUE(statuses > 0 && statuses < settings && settings < environment) << str(help.text);
    for (const ExitStatus& e : exitStatuses())
        EXPECT_TRUE(help.text.contains(QStringLiteral("%1  %2\n").arg(e.status).arg(QLatin1String(e.meaning))))
            << e.status;
    EXPECT_TRUE(help.text.indexOf(QStringLiteral("XDG_CONFIG_HOME"), environment) > 0);
    EXPECT_TRUE(help.text.indexOf(QStringLiteral("XDG_RUNTIME_DIR"), environment) > 0);

    EXPECT_TRUE(parse({"--help-all"}).text.contains(QStringLiteral("-platform <NAME[:OPTIONS]>")));
    // A release (1.1.0) or a build between releases (1.1.0~12.gabc1234, 1.1.0+3.gabc1234).
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^kalvor \\d+\\.\\d+\\.\\d+([~+][0-9A-Za-z.]+)?\n$"))
                    .match(parse({"--version"}).text)
                    .hasMatch())
        << str(parse({"--version"}).text);
}

TEST(CommandLine, ReadmeListsEveryExitStatus)
{
    QFile readme(QStringLiteral(KALVOR_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll()).simplified();
    for (const ExitStatus& e : exitStatuses())
        EXPECT_TRUE(text.contains(QStringLiteral("%1 %2").arg(e.status).arg(QLatin1String(e.meaning))))
            << e.status << " " << e.meaning;
}
