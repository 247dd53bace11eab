// tulv split and tulv demo, run as a user would: the demo finds its own
// tracks, a dry run writes nothing, saved regions reproduce the split, and an
// interrupted or killed split leaves no file under a final name.

#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

using namespace tooltest;

namespace {

// The rows of a track table: "    1  00:00:03.012  ..."
QStringList tableRows(const QString& text)
{
    QStringList rows;
    const QRegularExpression row(QStringLiteral("^\\s+\\d+\\s+\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d"));
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (row.match(line).hasMatch())
            rows << line;
    return rows;
}

// One synthetic side shared by the tests of this file (made by the demo).
class ToolSplit : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sDir = new QTemporaryDir();
        sDemo = new ToolRun(tulv({ QStringLiteral("demo"), sDir->path(), QStringLiteral("-q") }));
    }
    static void TearDownTestSuite()
    {
        delete sDemo;
        delete sDir;
    }
    static QString side() { return sDir->filePath(QStringLiteral("side.wav")); }

    static QTemporaryDir* sDir;
    static ToolRun* sDemo;
};

QTemporaryDir* ToolSplit::sDir = nullptr;
ToolRun* ToolSplit::sDemo = nullptr;

} // namespace

TEST_F(ToolSplit, DemoFindsEveryTrackWithinHalfASecond)
{
    ASSERT_FALSE(sDemo->crashed);
    EXPECT_EQ(sDemo->exitCode, 0) << sDemo->out.toStdString() << sDemo->err.toStdString();
    const QStringList rows = tableRows(sDemo->out);
    ASSERT_EQ(rows.size(), 4) << sDemo->out.toStdString();
    // Each row holds the found and the true boundaries and their offsets; the
    // offsets are checked here again from the printed times.
    const QRegularExpression time(QStringLiteral("(\\d\\d):(\\d\\d):(\\d\\d\\.\\d\\d\\d)"));
    for (const QString& line : rows) {
        std::vector<double> seconds;
        auto it = time.globalMatch(line);
        while (it.hasNext()) {
            const auto m = it.next();
            seconds.push_back(m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble());
        }
        ASSERT_EQ(seconds.size(), 4u) << line.toStdString();
        EXPECT_NEAR(seconds[0], seconds[2], 0.5) << line.toStdString();
        EXPECT_NEAR(seconds[1], seconds[3], 0.5) << line.toStdString();
    }
    EXPECT_EQ(filesIn(sDir->path(), QStringLiteral("*-track.wav")),
              QStringList({ QStringLiteral("001-track.wav"), QStringLiteral("002-track.wav"), QStringLiteral("003-track.wav"),
                            QStringLiteral("004-track.wav") }));
    const ToolRun info = tulv({ QStringLiteral("info"), sDir->filePath(QStringLiteral("003-track.wav")) });
    EXPECT_TRUE(info.out.contains(QStringLiteral("title: Demo Side 03"))) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(QStringLiteral("track: 3")));
}

TEST_F(ToolSplit, DryRunPrintsTheTableAndWritesNothing)
{
    QTemporaryDir out;
    const ToolRun run = tulv({ QStringLiteral("split"), side(), out.filePath(QStringLiteral("x.wav")), QStringLiteral("--dry-run"),
                           QStringLiteral("-q") });
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(tableRows(run.out).size(), 4) << run.out.toStdString();
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("Track  Start")));
    EXPECT_TRUE(filesIn(out.path()).isEmpty());
    EXPECT_TRUE(run.err.isEmpty()) << "--quiet: " << run.err.toStdString();
}

TEST_F(ToolSplit, SavedRegionsReproduceTheSplit)
{
    QTemporaryDir out;
    const QString regions = out.filePath(QStringLiteral("regions.json"));
    const ToolRun first = tulv({ QStringLiteral("split"), side(), out.filePath(QStringLiteral("a.flac")), QStringLiteral("--save-regions"),
                             regions, QStringLiteral("-q") });
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    ASSERT_TRUE(QFile::exists(regions));
    const ToolRun second = tulv({ QStringLiteral("split"), side(), out.filePath(QStringLiteral("01 b.wav")), QStringLiteral("--load-regions"),
                              regions, QStringLiteral("-q") });
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    const QStringList a = filesIn(out.path(), QStringLiteral("*a.flac"));
    const QStringList b = filesIn(out.path(), QStringLiteral("*b.wav"));
    ASSERT_EQ(a.size(), 4);
    ASSERT_EQ(b, QStringList({ QStringLiteral("01 b.wav"), QStringLiteral("02 b.wav"), QStringLiteral("03 b.wav"),
                               QStringLiteral("04 b.wav") }));
    for (int i = 0; i < 4; ++i) {
        const Sound flac = readSound(out.filePath(a.at(i)));
        const Sound wav = readSound(out.filePath(b.at(i)));
        ASSERT_TRUE(flac.ok && wav.ok);
        EXPECT_EQ(flac.samples, wav.samples) << "track " << i + 1;
    }
    // The table of the second run is the first one's.
    EXPECT_EQ(tableRows(first.out).size(), 4);

    // Regions of this side do not fit a recording of a few seconds.
    const QString shorter = out.filePath(QStringLiteral("short.wav"));
    if (runPeer(QStringLiteral("sox"), { side(), shorter, QStringLiteral("trim"), QStringLiteral("0"), QStringLiteral("5") })) {
        const ToolRun mismatch = tulv({ QStringLiteral("split"), shorter, out.filePath(QStringLiteral("d.wav")),
                                        QStringLiteral("--load-regions"), regions, QStringLiteral("-q") });
        EXPECT_EQ(mismatch.exitCode, 1);
        EXPECT_TRUE(mismatch.err.contains(QStringLiteral("the regions cover 189.5 s, the recording only 5.0 s")))
            << mismatch.err.toStdString();
    }

    QFile broken(out.filePath(QStringLiteral("broken.json")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("{ \"Class\": \"RMSStepDetector\", ");
    broken.close();
    const ToolRun bad = tulv({ QStringLiteral("split"), side(), out.filePath(QStringLiteral("c.wav")), QStringLiteral("--load-regions"),
                           broken.fileName(), QStringLiteral("-q") });
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.startsWith(QStringLiteral("tulv: cannot load regions from '%1': not valid JSON").arg(broken.fileName())))
        << bad.err.toStdString();
}

TEST_F(ToolSplit, InterruptedSplitLeavesNothingAndAKilledOneNoFinalName)
{
    // Four sides in a row, so the second pass lasts long enough to be caught.
    QTemporaryDir out;
    const QString longer = out.filePath(QStringLiteral("long.wav"));
    if (!runPeer(QStringLiteral("sox"), { side(), side(), side(), side(), longer }))
        GTEST_SKIP() << "sox is not available";
    const QString target = out.filePath(QStringLiteral("side.wav"));
    // Ready once the second pass has created its first track file.
    auto writingTracks = [&out]() {
        for (const QString& scratch : QDir(out.path()).entryList({ QStringLiteral(".tulv-split-*") }, QDir::Dirs | QDir::Hidden))
            if (!QDir(out.filePath(scratch)).entryList(QDir::Files | QDir::Hidden).isEmpty())
                return true;
        return false;
    };

    const ToolRun stopped = tulvInterrupted({ QStringLiteral("split"), longer, target }, writingTracks, SIGINT);
    EXPECT_FALSE(stopped.crashed);
    EXPECT_EQ(stopped.exitCode, 128 + SIGINT) << stopped.err.toStdString();
    EXPECT_TRUE(stopped.err.contains(QStringLiteral("interrupted; no track written"))) << stopped.err.toStdString();
    EXPECT_EQ(filesIn(out.path()), QStringList({ QStringLiteral("long.wav") }));
    EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList({ QStringLiteral("long.wav") }));

    const ToolRun killed = tulvInterrupted({ QStringLiteral("split"), longer, target }, writingTracks, SIGKILL);
    EXPECT_EQ(killed.exitCode, 128 + SIGKILL);
    // Whatever a killed process leaves is hidden scratch, never a track name.
    EXPECT_TRUE(filesIn(out.path(), QStringLiteral("*side.wav")).isEmpty()) << filesIn(out.path()).join(' ').toStdString();
}
