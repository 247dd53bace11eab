// Progress reports: a redrawn bar on a terminal, plain lines into a pipe,
// nothing with --quiet; never on stdout.

#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace tooltest;

class ToolProgress : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have(QStringLiteral("sox")))
            GTEST_SKIP() << "sox is not available";
        mIn = mDir.filePath(QStringLiteral("in.wav"));
        ASSERT_TRUE(runPeer(QStringLiteral("sox"), { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                                     QStringLiteral("-c"), QStringLiteral("2"), mIn, QStringLiteral("synth"),
                                                     QStringLiteral("120"), QStringLiteral("pinknoise"), QStringLiteral("gain"),
                                                     QStringLiteral("-20") }));
    }
    QTemporaryDir mDir;
    QString mIn;
};

TEST_F(ToolProgress, PlainLinesIntoAPipeAndNothingWhenQuiet)
{
    const ToolRun run = tulv({ QStringLiteral("convert"), mIn, mDir.filePath(QStringLiteral("a.flac")) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_FALSE(run.err.contains(QLatin1Char('\r')));
    // The closing line: label, 100 %, elapsed time and speed.
    const QRegularExpression done(QStringLiteral("^converting 100%  \\d+:\\d\\d elapsed  \\d+x real time$"),
                                  QRegularExpression::MultilineOption);
    EXPECT_TRUE(done.match(run.err).hasMatch()) << run.err.toStdString();

    const ToolRun quiet = tulv({ QStringLiteral("convert"), mIn, mDir.filePath(QStringLiteral("b.flac")), QStringLiteral("--quiet") });
    ASSERT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.err.isEmpty()) << quiet.err.toStdString();
}

TEST_F(ToolProgress, ABarOnATerminal)
{
    if (!have(QStringLiteral("script")))
        GTEST_SKIP() << "no 'script' to give the tool a terminal";
    // script(1) runs the tool on a pseudo-terminal and copies what it shows.
    const QString command = QStringLiteral("'%1' convert '%2' '%3'")
                                .arg(QStringLiteral(TULV_TOOL_PATH), mIn, mDir.filePath(QStringLiteral("c.flac")));
    QString shown;
    ASSERT_TRUE(runPeer(QStringLiteral("script"), { QStringLiteral("-qec"), command, QStringLiteral("/dev/null") }, &shown))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("\rconverting [")));
    EXPECT_TRUE(shown.contains(QStringLiteral("[########################] 100%"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("x real time")));
}
