// The tool's front door: help, version, usage errors (exit 2), the one-line
// errors of failed jobs (exit 1) naming the file and the reason.

#include "ToolRunner.h"

using namespace tooltest;

TEST(ToolHelp, ToolAndEverySubcommandHaveHelp)
{
    const ToolRun top = tulv({ "--help" });
    EXPECT_EQ(top.exitCode, 0);
    for (const char* command : { "info", "convert", "split", "demo" }) {
        EXPECT_TRUE(top.out.contains(command)) << command;
        const ToolRun run = tulv({ command, "--help" });
        EXPECT_EQ(run.exitCode, 0) << command;
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("Usage: tulv ") + command)) << command;
        EXPECT_TRUE(run.err.isEmpty()) << command;
    }
    const ToolRun version = tulv({ "--version" });
    EXPECT_TRUE(says(version, 0, "") && version.out.startsWith("tulv ")) << version.out.toStdString();

    // Every default of split comes with its reason ("default X: because ...").
    const QString split = tulv({ "split", "--help" }).out;
    for (const QString& option : words("--min-track --snr --global-snr --quiet-time --min-run --window --target")) {
        const int at = split.indexOf(option);
        ASSERT_GE(at, 0) << option.toStdString();
        const QString entry = split.mid(at, split.indexOf("\n  --", at + 1) - at);
        EXPECT_TRUE(entry.contains("default") && entry.contains(':')) << entry.toStdString();
    }
}

TEST(ToolErrors, EveryMistakeAndFailureHasItsMessageAndExitCode)
{
    const std::pair<const char*, const char*> cases[] = {
        { "", "Usage: tulv" },
        { "frobnicate", "unknown command 'frobnicate'" },
        { "info", "info: no file given" },
        { "convert a.wav", "convert: needs IN and OUT" },
        { "convert a.wav b.flac c.flac", "convert: takes IN and OUT, or IN... DIR --to EXT" },
        { "convert a.wav b.flac --frob", "unknown option '--frob'" },
        { "convert a.wav b.flac --gain", "option '--gain' needs a value" },
        { "convert a.wav b.flac --gain loud", "option '--gain' needs a number, not 'loud'" },
        { "convert a.wav b.flac --gain=3 --gain=4", "option '--gain' given more than once" },
        { "convert a.wav b.flac --format int12", "unknown sample format 'int12'" },
        { "convert a.wav b.flac --bitrate 128", "--bitrate applies to MP3 output only" },
        { "convert a.wav b.mp3 --bitrate 1000", "option '--bitrate' must lie between 8 and 320" },
        { "convert a.wav b.flac --start 5 --end 2", "--end must lie after --start" },
        { "convert a.wav b.flac --tag cover=x.png", "'--tag cover=' only removes the cover" },
        { "convert a.wav b.flac --tag year=soon", "tag 'year' needs a year or a date" },
        { "convert a.wav b.flac --tag track=3/x", "tag 'track' needs a number or n/total" },
        { "convert a.wav b", "no extension to choose the format by in 'b' (tulv writes .wav, .flac" },
        { "convert a.wav b.falc", "unknown output type '.falc'" },
        { "convert a.wav b.mp3 --bitrate 100", "MP3 has no bit rate of 100 kbit/s (it has 8, 16, 24" },
        { "convert a.wav b.flac --format float", "FLAC cannot hold float samples (it holds int16, int24)" },
        { "convert a.wav b.flac --cover none.png", "cannot read the cover 'none.png'" },
        { "split a.wav", "split: needs IN and OUT" },
        { "split a.wav b.flac --target -14", "--target needs --even-loudness" },
        { "split a.wav b.flac --tag track=3", "the track tag is set for each file by the split" },
        { "split a.wav b.flac --min-track -1", "option '--min-track' must lie between" },
        { "demo a b", "demo: takes at most one directory" },
        { "convert a.wav b.flac -qx", "unknown option '-x'" },
        { "convert a.wav b.flac --quiet=yes", "option '--quiet' takes no value" },
        { "--frob info", "unknown option '--frob'" },
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(arguments);
        const ToolRun run = tulv(words(arguments));
        EXPECT_TRUE(says(run, 2, message));
        EXPECT_TRUE(run.out.isEmpty());
    }

    QTemporaryDir dir;
    const QString tone = makeSignal(dir.filePath("tone.wav"), 2.0);
    ASSERT_FALSE(tone.isEmpty()) << "sox failed";
    const QString corrupt = dir.filePath("side-a.flac"), notes = dir.filePath("notes.txt");
    ASSERT_TRUE(writeBytes(corrupt, "this is not a FLAC file, just some words in it\n") && writeBytes(notes, "x"));
    const QString mono = dir.filePath("mono.flac"), low = dir.filePath("low.wav"), lowMp3 = dir.filePath("low.mp3");
    ASSERT_TRUE(sox("%1 -c 1 %2", tone, mono) && sox("%1 -r 22050 %2", tone, low));
    const QString missing = dir.filePath("missing.wav"), out = dir.filePath("out.wav");
    const QString nowhere = dir.filePath("no/such/dir/out.flac");
    const QString noSuchFile = QString("tulv: cannot open '%1': No such file or directory").arg(missing);
    const QString no320 = "MP3 at 22050 Hz has no bit rate of 320 kbit/s (the nearest is 160)";

    auto fails = [](const QStringList& arguments, const QString& message) {
        const ToolRun run = tulv(arguments);
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_TRUE(says(run, 1, message) && run.err.startsWith("tulv: "));
        EXPECT_EQ(run.err.count('\n'), 1);
        // A reader's failure is told in libsndfile's words, not a generic one.
        EXPECT_FALSE(run.err.contains("not a readable sound file"));
        return run;
    };
    fails({ "info", missing }, noSuchFile);
    fails({ "convert", missing, out }, noSuchFile);
    fails({ "split", missing, out }, noSuchFile);
    fails({ "convert", corrupt, out }, QString("tulv: cannot open '%1': ").arg(corrupt));
    fails({ "info", notes }, QString("cannot open '%1': unknown file type '.txt'").arg(notes));
    fails({ "convert", low, lowMp3, "--bitrate", "320" }, no320);
    fails({ "split", low, lowMp3, "--bitrate", "320", "-q" }, no320);
    fails({ "info", dir.path() }, QString("cannot open '%1': Is a directory").arg(dir.path()));
    fails({ "convert", tone, nowhere },
          QString("cannot write '%1': directory '%2' does not exist").arg(nowhere, QFileInfo(nowhere).path()));
    // Places even root cannot write: a file where a directory should be, /proc.
    fails({ "split", tone, notes + "/out.flac", "-q" }, "cannot create directory '" + notes + "': a file stands there");
    fails({ "convert", tone, "/proc/out.wav", "-q" }, "cannot write '/proc/out.wav'");
    fails({ "split", tone, "/proc/tulv/out.wav", "-q" }, "cannot create directory '/proc/tulv'");
    fails({ "convert", tone, out, "--start", "10" }, "lies beyond its end");

    // info goes on after a bad file, describes the next (a mono file is said
    // to be mono) and fails at the end; as JSON, one object per readable file.
    const ToolRun info = fails({ "info", missing, mono }, noSuchFile);
    for (const char* shown : { "container:      FLAC", "channels:       1", "44100 Hz", "88200", "00:00:02.000" })
        EXPECT_TRUE(info.out.contains(shown)) << shown << " in " << info.out.toStdString();
    const QString json = fails({ "info", "--json", missing, mono }, noSuchFile).out;
    const QJsonArray described = QJsonDocument::fromJson(json.toUtf8()).array();
    ASSERT_EQ(described.size(), 1);
    EXPECT_EQ(described[0].toObject().value("channels").toInt(), 1);
    EXPECT_EQ(described[0].toObject().value("frames").toInt(), 88200);
    EXPECT_EQ(described[0].toObject().value("container").toString(), "FLAC");

    EXPECT_EQ(filesIn(dir.path()), QStringList({ "low.wav", "mono.flac", "notes.txt", "side-a.flac", "tone.wav" }))
        << "a failed job left a file behind";
}
