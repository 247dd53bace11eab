// tulv split on synthesized record sides, each with its own truth: one file
// per track, every boundary within half a second, and nothing lost: the
// files put end to end are the input from the first track's start to the
// last track's end, bit for bit. Each split option changes what it says.

#include "ToolRunner.h"

#include "tests/support/SplitSignals.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <string>

using namespace tooltest;

TEST(ToolSplitSide, FilesHoldTheWholeSideBetweenTheFirstAndLastTrack)
{
    using splitsignals::SideLayout;
    struct Case {
        std::string name;
        std::function<void(SideLayout&)> side;
        QStringList options;
        int files;          // -1: one per true track
        bool near = true;   // with a file per true track: each boundary within 0.5 s
        bool whole = true;  // the files end to end are the input between first start and last end
        bool trimmed = false; // each file is its track's sound only
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString labels = dir.filePath("labels.txt"), cue = dir.filePath("side.cue");
    const std::vector<Case> cases = {
        { "typical side, labels and cue sheet written", [](SideLayout&) {}, { "--labels", labels, "--cue", cue }, -1 },
        { "labels loaded back", [](SideLayout&) {}, { "--load-labels", labels }, -1 },
        { "no lead-in, no lead-out, a fade to the last frame",
          [](SideLayout& side) {
              side.leadInSeconds = 0.0;
              side.leadOutSeconds = 0.0;
              side.tracks.back().fadeOutSeconds = 15.0;
          },
          {}, -1 },
        { "gaps cut where --gap-offset 0 says", [](SideLayout&) {}, { "--gap-offset", "0" }, -1 },
        { "--trim-gaps", [](SideLayout&) {}, { "--trim-gaps" }, -1, true, false, true },
        { "--tracks 3 joins two tracks", [](SideLayout&) {}, { "--tracks", "3" }, 3 },
        { "--threshold above the quiet passage splits its track", [](SideLayout&) {}, { "--threshold", "-30" }, 5 },
        { "--min-track 36 leaves the 35 s track to its gaps", [](SideLayout&) {}, { "--min-track", "36" }, 3 },
        { "--snr 10 takes the passage 20 dB down for a gap", [](SideLayout&) {}, { "--snr", "10" }, 5 },
        { "--min-run longer than the side leaves a loud gap in its run",
          [](SideLayout& side) { side.bursts.push_back({ 42.8, 2.4, -48.0 }); }, { "--min-run", "300" }, 3 },
        { "a loud gap found by the examination of its run",
          [](SideLayout& side) { side.bursts.push_back({ 42.8, 2.4, -48.0 }); }, {}, -1 },
        { "--window 3 takes the thump in the last gap for the last track's start", [](SideLayout&) {},
          { "--window", "3" }, -1, false },
        { "8 kHz, clean gaps",
          [](SideLayout& side) {
              side.sampleRate = 8000;
              side.surfaceNoiseDb = -74.0;
              side.clicksPerSecond = 0.0;
          },
          {}, -1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SideLayout layout = splitsignals::typicalSide();
        c.side(layout);
        const splitsignals::SideTruth truth = splitsignals::truthOf(layout);
        const QString side = dir.filePath("side.wav");
        ASSERT_TRUE(splitsignals::writeSideWav(layout, side.toStdString()));
        QDir(dir.filePath("out")).removeRecursively();
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        const ToolRun run = tulv(QStringList { "split", side, dir.filePath("out/side.wav"), "-q", "--json" } + c.options);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonArray tracks = QJsonDocument::fromJson(run.out.toUtf8()).object().value("Tracks").toArray();
        auto start = [&tracks](int k) { return tracks[k].toObject().value("Start").toDouble(); };
        auto end = [&tracks](int k) { return tracks[k].toObject().value("End").toDouble(); };
        const QStringList files = QDir(dir.filePath("out")).entryList({ "*.wav" }, QDir::Files, QDir::Name);
        const int expected = c.files < 0 ? int(truth.tracks.size()) : c.files;
        ASSERT_EQ(files.size(), expected) << run.out.toStdString();
        ASSERT_EQ(tracks.size(), expected);
        const double rate = layout.sampleRate;
        double worst = 0.0;
        for (int k = 0; c.files < 0 && k < expected; ++k)
            worst = std::max({ worst, std::abs(start(k) - truth.tracks[k].begin / rate),
                               std::abs(end(k) - truth.tracks[k].end / rate) });
        EXPECT_EQ(worst <= 0.5, c.near) << "worst boundary error " << worst << " s " << run.out.toStdString();
        Samples joined;
        for (int k = 0; k < expected; ++k) {
            const Samples part = readSound(dir.filePath("out/" + files[k]));
            joined.insert(joined.end(), part.begin(), part.end());
            // Trimmed, a file is its track's sound; with the gaps all given
            // to the next track, a file starts where the track before it ends.
            const double from = c.trimmed || k == 0 ? start(k) : end(k - 1);
            if (c.trimmed || c.options.contains("--gap-offset")) {
                EXPECT_NEAR(frameCount(part) / rate, end(k) - from, 1.5 / rate) << "file " << k + 1;
            }
        }
        if (c.whole) {
            const size_t first = size_t(std::llround(start(0) * rate));
            ASSERT_EQ(joined.size(), 2 * (size_t(std::llround(end(expected - 1) * rate)) - first));
            EXPECT_TRUE(std::equal(joined.begin(), joined.end(), readSound(side).begin() + 2 * first));
        }
    }
    // The cue sheet of the first row: one INDEX 01 per track, at its start
    // (minutes, seconds and 75ths).
    QFile sheet(cue);
    ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
    const splitsignals::SideTruth truth = splitsignals::truthOf(splitsignals::typicalSide());
    size_t index = 0;
    const QRegularExpression entry("INDEX 01 (\\d+):(\\d\\d):(\\d\\d)");
    for (auto it = entry.globalMatch(QString::fromUtf8(sheet.readAll())); it.hasNext(); ++index) {
        const auto m = it.next();
        const double start = m.captured(1).toInt() * 60 + m.captured(2).toInt() + m.captured(3).toInt() / 75.0;
        ASSERT_LT(index, truth.tracks.size());
        EXPECT_NEAR(start, truth.tracks[index].begin / 44100.0, 0.5) << "cue track " << index + 1;
    }
    EXPECT_EQ(index, truth.tracks.size());
}

TEST(ToolSplitSide, NoTrackWithoutMusicFailsAndSaysWhy)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* name;
        QStringList sox; // what sox makes (the hiss ends on a few frames far quieter than the rest)
    };
    const Case cases[] = {
        { "digital silence", { "trim", "0", "30" } },
        { "dithered silence", { "trim", "0", "30", "dither" } },
        { "hiss only", { "synth", "30", "pinknoise", "vol", "0.005" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString in = dir.filePath("in.wav");
        ASSERT_TRUE(runTool("sox", QStringList { "-n", "-r", "44100", "-c", "2", "-b", "16", in } + c.sox));
        for (const bool dry : { true, false }) {
            const ToolRun run = tulv(QStringList { "split", in, dir.filePath("out.wav"), "-q" } + (dry ? QStringList { "--dry-run" } : QStringList {}));
            EXPECT_EQ(run.exitCode, 1) << (dry ? "dry run: " : "") << run.out.toStdString();
            EXPECT_TRUE(run.err.contains("no track found")) << run.err.toStdString();
        }
        EXPECT_FALSE(QFile::exists(dir.filePath("001-out.wav")));
    }
}
