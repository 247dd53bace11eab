// The tool's front door: help, version, usage errors (exit 2) and the one-line
// errors of failed jobs (exit 1), each naming the file and the reason.

#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

using namespace tooltest;

namespace {

// A two-second stereo tone written by sox, the peer the tool must agree with.
QString makeTone(const QTemporaryDir& dir, const QString& name = QStringLiteral("tone.wav"))
{
    const QString path = dir.filePath(name);
    if (!runPeer(QStringLiteral("sox"), { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                          QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                                          QStringLiteral("16"), path, QStringLiteral("synth"), QStringLiteral("2"),
                                          QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("gain"),
                                          QStringLiteral("-6") }))
        return QString();
    return path;
}

void expectOneLine(const ToolRun& run, const QString& text)
{
    EXPECT_TRUE(run.err.contains(text)) << "stderr: " << run.err.toStdString();
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << "stderr: " << run.err.toStdString();
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("tulv: "))) << run.err.toStdString();
}

} // namespace

TEST(ToolHelp, ToolAndEverySubcommandHaveHelp)
{
    const ToolRun top = tulv({ QStringLiteral("--help") });
    EXPECT_EQ(top.exitCode, 0);
    for (const char* command : { "info", "convert", "split", "demo" }) {
        EXPECT_TRUE(top.out.contains(QLatin1String(command))) << command;
        const ToolRun run = tulv({ QLatin1String(command), QStringLiteral("--help") });
        EXPECT_EQ(run.exitCode, 0) << command;
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: tulv %1").arg(QLatin1String(command)))) << command;
        EXPECT_TRUE(run.err.isEmpty()) << command;
    }
    const ToolRun version = tulv({ QStringLiteral("--version") });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("tulv "))) << version.out.toStdString();
}

TEST(ToolHelp, SplitHelpGivesTheReasonForEveryDefault)
{
    const ToolRun run = tulv({ QStringLiteral("split"), QStringLiteral("--help") });
    for (const char* option : { "--min-track", "--snr", "--global-snr", "--quiet-time", "--min-run", "--window", "--target" }) {
        const int at = run.out.indexOf(QLatin1String(option));
        ASSERT_GE(at, 0) << option;
        const QString entry = run.out.mid(at, run.out.indexOf(QStringLiteral("\n  --"), at + 1) - at);
        EXPECT_TRUE(entry.contains(QStringLiteral("default"))) << option;
        EXPECT_TRUE(entry.contains(QLatin1Char(':'))) << option << ": the default comes without its reason";
    }
}

TEST(ToolUsage, MistakesOnTheCommandLineExitWithTwo)
{
    struct Case {
        QStringList arguments;
        const char* message;
    };
    const std::vector<Case> cases = {
        { {}, "Usage: tulv" },
        { { "frobnicate" }, "unknown command 'frobnicate'" },
        { { "info" }, "info: no file given" },
        { { "convert", "a.wav" }, "convert: needs IN and OUT" },
        { { "convert", "a.wav", "b.flac", "c.flac" }, "convert: takes exactly IN and OUT" },
        { { "convert", "a.wav", "b.flac", "--frob" }, "unknown option '--frob'" },
        { { "convert", "a.wav", "b.flac", "--gain" }, "option '--gain' needs a value" },
        { { "convert", "a.wav", "b.flac", "--gain", "loud" }, "option '--gain' needs a number, not 'loud'" },
        { { "convert", "a.wav", "b.flac", "--gain=3", "--gain=4" }, "option '--gain' given more than once" },
        { { "convert", "a.wav", "b.flac", "--format", "int12" }, "unknown sample format 'int12'" },
        { { "convert", "a.wav", "b.flac", "--bitrate", "128" }, "--bitrate applies to MP3 output only" },
        { { "convert", "a.wav", "b.mp3", "--bitrate", "1000" }, "option '--bitrate' must lie between 8 and 320" },
        { { "convert", "a.wav", "b.flac", "--start", "5", "--end", "2" }, "--end must lie after --start" },
        { { "convert", "a.wav", "b.flac", "--tag", "mood=calm" }, "unknown tag 'mood'" },
        { { "convert", "a.wav", "b.flac", "--tag", "year=soon" }, "tag 'year' needs a whole number" },
        { { "convert", "a.wav", "b" }, "OUT needs an extension" },
        { { "split", "a.wav" }, "split: needs IN and OUT" },
        { { "split", "a.wav", "b.flac", "--target", "-14" }, "--target needs --even-loudness" },
        { { "split", "a.wav", "b.flac", "--tag", "track=3" }, "unknown tag 'track'" },
        { { "split", "a.wav", "b.flac", "--min-track", "-1" }, "option '--min-track' must lie between" },
        { { "demo", "a", "b" }, "demo: takes at most one directory" },
        { { "info", "--quiet" }, "unknown option '--quiet'" },
    };
    for (const Case& c : cases) {
        const ToolRun run = tulv(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.message)))
            << c.arguments.join(' ').toStdString() << " gave: " << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << c.arguments.join(' ').toStdString();
    }
}

TEST(ToolErrors, UnreadableInputsNameTheFileAndTheReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile text(dir.filePath(QStringLiteral("side-a.flac")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is not a FLAC file, just some words in it\n");
    text.close();
    QFile notes(dir.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("x");
    notes.close();

    const QString missing = dir.filePath(QStringLiteral("missing.wav"));
    for (const QString& command : { QStringLiteral("info"), QStringLiteral("convert"), QStringLiteral("split") }) {
        QStringList arguments { command, missing };
        if (command != QLatin1String("info"))
            arguments << dir.filePath(QStringLiteral("out.wav"));
        const ToolRun run = tulv(arguments);
        EXPECT_EQ(run.exitCode, 1) << command.toStdString();
        expectOneLine(run, QStringLiteral("tulv: cannot open '%1': No such file or directory").arg(missing));
    }

    const ToolRun corrupt = tulv({ QStringLiteral("convert"), text.fileName(), dir.filePath(QStringLiteral("out.wav")) });
    EXPECT_EQ(corrupt.exitCode, 1);
    expectOneLine(corrupt, QStringLiteral("tulv: cannot open '%1': ").arg(text.fileName()));
    // The reason is libsndfile's, not a generic one.
    EXPECT_FALSE(corrupt.err.contains(QStringLiteral("not a readable sound file"))) << corrupt.err.toStdString();

    const ToolRun unknown = tulv({ QStringLiteral("info"), notes.fileName() });
    EXPECT_EQ(unknown.exitCode, 1);
    expectOneLine(unknown, QStringLiteral("cannot open '%1': unknown file type '.txt'").arg(notes.fileName()));

    const ToolRun directory = tulv({ QStringLiteral("info"), dir.path() });
    EXPECT_EQ(directory.exitCode, 1);
    expectOneLine(directory, QStringLiteral("cannot open '%1': Is a directory").arg(dir.path()));

    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "a failed job left a file behind";
}

TEST(ToolErrors, InfoGoesOnAfterABadFileAndFailsAtTheEnd)
{
    QTemporaryDir dir;
    const QString tone = makeTone(dir);
    if (tone.isEmpty())
        GTEST_SKIP() << "sox is not available";
    const QString missing = dir.filePath(QStringLiteral("gone.flac"));
    const ToolRun run = tulv({ QStringLiteral("info"), missing, tone });
    EXPECT_EQ(run.exitCode, 1);
    expectOneLine(run, QStringLiteral("cannot open '%1'").arg(missing));
    EXPECT_TRUE(run.out.contains(tone));
    EXPECT_TRUE(run.out.contains(QStringLiteral("44100 Hz")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("00:00:02.000")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("88200")));

    // A mono file is read as two equal channels, and said to be mono.
    const QString mono = dir.filePath(QStringLiteral("mono.flac"));
    ASSERT_TRUE(runPeer(QStringLiteral("sox"), { tone, QStringLiteral("-c"), QStringLiteral("1"), mono }));
    const ToolRun info = tulv({ QStringLiteral("info"), mono });
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_TRUE(info.out.contains(QStringLiteral("channels:       1"))) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(QStringLiteral("container:      FLAC")));
}

TEST(ToolErrors, UnwritableOutputsFailBeforeAnyWork)
{
    QTemporaryDir dir;
    const QString tone = makeTone(dir);
    if (tone.isEmpty())
        GTEST_SKIP() << "sox is not available";
    const QString nowhere = dir.filePath(QStringLiteral("no/such/dir/out.flac"));
    const ToolRun convert = tulv({ QStringLiteral("convert"), tone, nowhere });
    EXPECT_EQ(convert.exitCode, 1);
    expectOneLine(convert, QStringLiteral("cannot write '%1': directory '%2' does not exist")
                               .arg(nowhere, dir.filePath(QStringLiteral("no/such/dir"))));
    const ToolRun split = tulv({ QStringLiteral("split"), tone, nowhere, QStringLiteral("-q") });
    EXPECT_EQ(split.exitCode, 1);
    expectOneLine(split, QStringLiteral("cannot write '%1'").arg(nowhere));
}

TEST(ToolErrors, ReadOnlyDirectoryIsRefusedUpFront)
{
    QTemporaryDir dir;
    const QString tone = makeTone(dir);
    if (tone.isEmpty())
        GTEST_SKIP() << "sox is not available";
    // Root ignores permissions: then there is nothing to refuse.
    QDir(dir.path()).mkdir(QStringLiteral("locked"));
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (QFileInfo(locked).isWritable() && access(QFile::encodeName(locked).constData(), W_OK) == 0)
        GTEST_SKIP() << "running with permissions that ignore a read-only directory";
    const ToolRun refused = tulv({ QStringLiteral("convert"), tone, locked + QStringLiteral("/out.wav") });
    EXPECT_EQ(refused.exitCode, 1);
    expectOneLine(refused, QStringLiteral("is not writable"));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
