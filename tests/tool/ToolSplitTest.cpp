// tulv split and tulv demo, run as a user would: the demo finds its own
// tracks, a dry run prints the split's table and writes nothing, saved
// regions reproduce the split, an interrupted or killed split leaves no file
// under a final name, and --even-loudness evens the tracks out without
// flattening them.

#include "ToolRunner.h"

#include "tests/support/SplitSignals.h"

using namespace tooltest;

namespace {

// The demo's run and the side it made, shared by the tests of this file.
struct Demo {
    QTemporaryDir dir;
    ToolRun run = tulv({ "demo", dir.path(), "-q" });
    QString side() const { return dir.filePath("side.wav"); }
};
const Demo& demo()
{
    static const Demo made;
    return made;
}

// Splits with the progress report silenced.
ToolRun split(const QString& in, const QString& out, const QStringList& options = {})
{
    return tulv(QStringList { "split", in, out, "-q" } + options);
}

} // namespace

TEST(ToolSplit, DemoMatchesItsTruthAndSavedRegionsReproduceTheSplit)
{
    const ToolRun& run = demo().run;
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    // Each row of the table: found start and end, true start and end (and
    // their offsets, checked here again from the printed times).
    const QRegularExpression time("(\\d\\d):(\\d\\d):(\\d\\d\\.\\d\\d\\d)");
    int rows = 0;
    for (const QString& line : run.out.split('\n')) {
        std::vector<double> times;
        for (auto it = time.globalMatch(line); it.hasNext();) {
            const auto m = it.next();
            times.push_back(m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble());
        }
        if (times.empty())
            continue;
        ++rows;
        ASSERT_EQ(times.size(), 4u) << line.toStdString();
        EXPECT_NEAR(times[0], times[2], 0.5) << line.toStdString();
        EXPECT_NEAR(times[1], times[3], 0.5) << line.toStdString();
    }
    EXPECT_EQ(rows, 4) << run.out.toStdString();
    EXPECT_EQ(filesIn(demo().dir.path(), "*-track.wav").size(), 4);
    const QString info = tulv({ "info", demo().dir.filePath("003-track.wav") }).out;
    EXPECT_TRUE(info.contains("title: Demo Side 03") && info.contains("track: 3")) << info.toStdString();

    QTemporaryDir out;
    const QString regions = out.filePath("regions.json");
    const ToolRun saved = split(demo().side(), out.filePath("a.flac"), { "--save-regions", regions });
    ASSERT_EQ(saved.exitCode, 0);
    ASSERT_EQ(split(demo().side(), out.filePath("01 b.wav"), { "--load-regions", regions }).exitCode, 0);
    const QStringList a = filesIn(out.path(), "*a.flac"), b = filesIn(out.path(), "*b.wav");
    ASSERT_EQ(a, QStringList({ "001-a.flac", "002-a.flac", "003-a.flac", "004-a.flac" }));
    ASSERT_EQ(b, QStringList({ "01 b.wav", "02 b.wav", "03 b.wav", "04 b.wav" }));
    // A dry run prints the table of the real split, without its file names,
    // and writes nothing.
    const ToolRun dry = split(demo().side(), out.filePath("x.wav"), { "--dry-run" });
    EXPECT_EQ(dry.exitCode, 0);
    EXPECT_TRUE(dry.err.isEmpty()) << dry.err.toStdString();
    const QStringList dryLines = dry.out.split('\n'), savedLines = saved.out.split('\n');
    ASSERT_GE(dryLines.size(), 5) << dry.out.toStdString();
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(savedLines.value(i).startsWith(dryLines[i])) << dry.out.toStdString() << saved.out.toStdString();
    EXPECT_TRUE(filesIn(out.path(), "*x.wav").isEmpty());

    // To MP3 at a chosen rate and to Ogg, tagged: the same tracks, the MP3s
    // exactly as long as the WAV tracks.
    const QStringList tagged { "--load-regions", regions, "--tag", "artist=Somebody" };
    ASSERT_EQ(split(demo().side(), out.filePath("c.mp3"), tagged + QStringList { "--bitrate", "128" }).exitCode, 0);
    ASSERT_EQ(split(demo().side(), out.filePath("d.ogg"), tagged).exitCode, 0);
    const QStringList mp3 = filesIn(out.path(), "*c.mp3"), ogg = filesIn(out.path(), "*d.ogg");
    ASSERT_TRUE(mp3.size() == 4 && ogg.size() == 4) << mp3.join(' ').toStdString() << ogg.join(' ').toStdString();
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const size_t frames = frameCount(readSound(out.filePath(b[i])));
        EXPECT_EQ(readSound(out.filePath(a[i])), readSound(out.filePath(b[i])));
        for (const QString& coded : { out.filePath(mp3[i]), out.filePath(ogg[i]) }) {
            EXPECT_EQ(frameCount(readSound(coded)), frames) << coded.toStdString();
            EXPECT_TRUE(tulv({ "info", coded }).out.contains("artist: Somebody")) << coded.toStdString();
        }
        EXPECT_NEAR(QFileInfo(out.filePath(mp3[i])).size() * 8.0 / 1000.0 / (frames / 44100.0), 128.0, 8.0) << "kbit/s";
    }

    // Regions edited by hand: the gap after track 1 marked as sound joins
    // tracks 1 and 2.
    QJsonObject object = QJsonDocument::fromJson(readBytes(regions)).object();
    QJsonArray list = object.value("Regions").toArray();
    for (QJsonValueRef item : list) {
        QJsonObject region = item.toObject();
        const double begin = region.value("BeginSample").toDouble() / 44100;
        region.insert("IsNoise", region.value("IsNoise").toBool() && (begin < 42.0 || begin >= 45.49));
        item = region;
    }
    object.insert("Regions", list);
    const QString edited = out.filePath("edited.json");
    ASSERT_TRUE(writeBytes(edited, QJsonDocument(object).toJson()));
    ASSERT_EQ(split(demo().side(), out.filePath("e.wav"), { "--load-regions", edited }).exitCode, 0);
    const QStringList e = filesIn(out.path(), "*e.wav");
    ASSERT_EQ(e.size(), 3);
    EXPECT_EQ(frameCount(readSound(out.filePath(e[0]))),
              frameCount(readSound(out.filePath(b[0]))) + frameCount(readSound(out.filePath(b[1]))));

    // Regions of this side do not fit a recording of a few seconds, and
    // broken JSON is no regions at all.
    const QString shorter = out.filePath("short.wav"), broken = out.filePath("broken.json");
    ASSERT_TRUE(sox("%1 %2 trim 0 5", demo().side(), shorter));
    EXPECT_TRUE(says(split(shorter, out.filePath("d.wav"), { "--load-regions", regions }), 1,
                     "the regions cover 189.5 s, the recording only 5.0 s"));
    ASSERT_TRUE(writeBytes(broken, "{ \"Class\": \"RMSStepDetector\", "));
    EXPECT_TRUE(says(split(demo().side(), out.filePath("c.wav"), { "--load-regions", broken }), 1,
                     "tulv: cannot load regions from '" + broken + "': not valid JSON"));
    EXPECT_TRUE(filesIn(out.path(), "*[cd].wav").isEmpty()) << "a refused split wrote tracks";
}

TEST(ToolSplit, InterruptedSplitLeavesNothingAndAKilledOneNoFinalName)
{
    // Four sides in a row, so the second pass lasts long enough to be caught.
    QTemporaryDir out;
    const QString longer = out.filePath("long.wav"), side = demo().side();
    ASSERT_TRUE(sox("%1 %1 %1 %1 %2", side, longer));
    const QStringList arguments { "split", longer, out.filePath("side.wav") };
    // Ready once the second pass has created its first track file.
    auto writingTracks = [&out]() {
        for (const QString& scratch : QDir(out.path()).entryList({ ".split.tulv-*" }, QDir::Dirs | QDir::Hidden))
            if (!filesIn(out.filePath(scratch)).isEmpty())
                return true;
        return false;
    };

    const ToolRun stopped = tulv(arguments, writingTracks, SIGINT);
    EXPECT_FALSE(stopped.crashed);
    EXPECT_TRUE(says(stopped, 128 + SIGINT, "interrupted; no track written"));
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
    EXPECT_EQ(QDir(out.path()).entryList(all), QStringList({ "long.wav" }));

    const ToolRun killed = tulv(arguments, writingTracks, SIGKILL);
    // Whatever a killed process leaves is hidden scratch, never a track
    // name; a split that finished before the signal came leaves its tracks.
    const int tracks = filesIn(out.path(), "*-side.wav").size();
    EXPECT_EQ(filesIn(out.path()).size(), tracks + 1) << filesIn(out.path()).join(' ').toStdString();
    EXPECT_TRUE(killed.exitCode == 0 || tracks == 0) << killed.exitCode;
}

TEST(ToolSplit, NeverWritesOverTheInputOrFilesItWasNotToldToReplace)
{
    QTemporaryDir out;
    const QString side = out.filePath("01 Side.wav"), tracks = out.filePath("new/folder/side.flac");
    ASSERT_TRUE(QFile::copy(demo().side(), side));
    // Neither tracks nor regions are written over the input.
    EXPECT_TRUE(says(split(side, side), 1, "track 1 would be written over the input"));
    EXPECT_TRUE(says(split(side, out.filePath("x.wav"), { "--save-regions", side }), 1, "it is the input"));
    EXPECT_EQ(readSound(side), readSound(demo().side()));

    // The folder is made; a second run refuses to replace, or with --force
    // names what an earlier run left beyond its tracks.
    ASSERT_EQ(split(side, tracks).exitCode, 0);
    EXPECT_EQ(filesIn(out.filePath("new/folder")).size(), 4);
    EXPECT_TRUE(says(split(side, tracks), 1, "001-side.flac' exists; use --force"));
    ASSERT_TRUE(QFile::copy(out.filePath("new/folder/001-side.flac"), out.filePath("new/folder/007-side.flac")));
    EXPECT_TRUE(says(split(side, tracks, { "--force" }), 0, "older files of the same pattern were left in '"
                         + out.filePath("new/folder") + "': 007-side.flac"));

    // A move that fails part-way (a directory where track 3 goes) takes the
    // first tracks back and puts back the files they replaced.
    const QString failing = out.filePath("failing");
    ASSERT_TRUE(QDir().mkpath(failing + "/003-side.wav"));
    ASSERT_TRUE(writeBytes(failing + "/001-side.wav", "old"));
    EXPECT_TRUE(says(split(side, failing + "/side.wav", { "--force" }), 1, "no track written"));
    EXPECT_EQ(QDir(failing).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({ "001-side.wav", "003-side.wav" }));
    EXPECT_EQ(readBytes(failing + "/001-side.wav"), "old");

    // Two splits into one folder at once: each that succeeds has its own
    // four tracks; one that does not says why.
    const QString shared = out.filePath("shared");
    QProcess runs[2];
    for (int i = 0; i < 2; ++i)
        runs[i].start(TULV_TOOL_PATH, { "split", side, shared + (i ? "/b.wav" : "/a.wav"), "-q" });
    int succeeded = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(runs[i].waitForFinished(120000));
        const bool done = runs[i].exitCode() == 0;
        succeeded += done;
        EXPECT_TRUE(done || runs[i].readAllStandardError().contains("another split is writing into"));
        EXPECT_EQ(filesIn(shared, i ? "*b.wav" : "*a.wav").size(), done ? 4 : 0);
    }
    EXPECT_GE(succeeded, 1);
}

TEST(ToolSplit, EvenLoudnessBringsEveryTrackToTheTargetAndKeepsItsDynamics)
{
    QTemporaryDir dir;
    // Tracks 3 to 9 dB apart; the second has a passage 20 dB down, the last
    // fades out over 10 s.
    splitsignals::SideLayout layout = splitsignals::typicalSide();
    const double levels[] = { -12.0, -18.0, -15.0, -21.0 };
    for (int k = 0; k < 4; ++k)
        layout.tracks[k].levelDb = levels[k];
    layout.tracks[1].quietLevelDb = -38.0;
    const QString side = dir.filePath("side.wav");
    ASSERT_TRUE(splitsignals::writeSideWav(layout, side.toStdString()));

    // Each gap goes to the track before it: every file starts where its
    // track does, so the times below are those of the tracks.
    const QStringList options = { "--even-loudness", "--target", "-20", "--format", "float", "--gap-offset", "1" };
    const ToolRun run = split(side, dir.filePath("even.wav"), options);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList files = filesIn(dir.path(), "*-even.wav");
    ASSERT_EQ(files.size(), 4) << run.out.toStdString();
    auto at = [](double seconds) { return size_t(2 * seconds * 44100); };
    // The body of every track, past the ramp into its level, is at the
    // target, and no peak passes the limiter.
    const double bodyEnd[] = { 36.0, 18.0, 31.0, 30.0 };
    std::vector<std::vector<double>> tracks;
    std::vector<double> body;
    for (int k = 0; k < 4; ++k) {
        tracks.push_back(readSound(dir.filePath(files[k])));
        body.push_back(rmsDb(tracks[k], at(4), at(bodyEnd[k])));
        EXPECT_NEAR(body[k], -20.0, 1.0) << files[k].toStdString();
        EXPECT_LE(peakOf(tracks[k]), 0.981) << files[k].toStdString();
    }
    // The quiet passage is still 20 dB down, and the fade still fades.
    EXPECT_NEAR(rmsDb(tracks[1], at(21.5), at(23.5)), body[1] - 20.0, 1.5);
    EXPECT_LT(rmsDb(tracks[3], tracks[3].size() - at(3)), body[3] - 10.0);
}
