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

using namespace tooltest;

TEST(ToolSplitSide, FilesHoldTheWholeSideBetweenTheFirstAndLastTrack)
{
    using splitsignals::SideLayout;
    // The typical side and three variants of it: one with no lead-in, no
    // lead-out and a fade to the last frame, one with a burst in a gap, one
    // at 8 kHz with clean gaps.
    const SideLayout typical = splitsignals::typicalSide();
    SideLayout bare = typical, loudGap = typical, clean = typical;
    bare.leadInSeconds = bare.leadOutSeconds = 0.0;
    bare.tracks.back().fadeOutSeconds = 15.0;
    loudGap.bursts.push_back({ 42.8, 2.4, -48.0 });
    clean.sampleRate = 8000;
    clean.surfaceNoiseDb = -74.0;
    clean.clicksPerSecond = 0.0;
    struct Case {
        const char* name;
        const SideLayout* layout;
        QStringList options;
        int files;            // -1: one per true track
        bool near = true;     // with a file per true track: each boundary within 0.5 s
        bool whole = true;    // the files end to end are the input between first start and last end
        bool trimmed = false; // each file is its track's sound only
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString labels = dir.filePath("labels.txt"), cue = dir.filePath("side.cue"), side = dir.filePath("side.wav");
    const std::vector<Case> cases = {
        { "typical side, labels and cue sheet written", &typical, { "--labels", labels, "--cue", cue }, -1 },
        { "labels loaded back", &typical, { "--load-labels", labels }, -1 },
        { "gaps cut where --gap-offset 0 says", &typical, { "--gap-offset", "0" }, -1 },
        { "--trim-gaps", &typical, { "--trim-gaps" }, -1, true, false, true },
        { "--tracks 3 joins two tracks", &typical, { "--tracks", "3" }, 3 },
        { "--threshold above the quiet passage splits its track", &typical, { "--threshold", "-30" }, 5 },
        { "--min-track 36 leaves the 35 s track to its gaps", &typical, { "--min-track", "36" }, 3 },
        { "--snr 10 takes the passage 20 dB down for a gap", &typical, { "--snr", "10" }, 5 },
        { "--window 3 takes the thump in the last gap for the last start", &typical, { "--window", "3" }, -1, false },
        { "no lead-in, no lead-out, a fade to the last frame", &bare, {}, -1 },
        { "--min-run longer than the side leaves a loud gap in its run", &loudGap, { "--min-run", "300" }, 3 },
        { "a loud gap found by the examination of its run", &loudGap, {}, -1 },
        { "8 kHz, clean gaps", &clean, {}, -1 },
    };
    const SideLayout* written = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const splitsignals::SideTruth truth = splitsignals::truthOf(*c.layout);
        ASSERT_TRUE(written == c.layout || splitsignals::writeSideWav(*c.layout, side.toStdString()));
        written = c.layout;
        const QString out = dir.filePath("out/side.wav");
        QDir(dir.filePath("out")).removeRecursively();
        ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
        const ToolRun run = tulv(QStringList { "split", side, out, "-q", "--json" } + c.options);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonArray tracks = QJsonDocument::fromJson(run.out.toUtf8()).object().value("Tracks").toArray();
        auto start = [&tracks](int k) { return tracks[k].toObject().value("Start").toDouble(); };
        auto end = [&tracks](int k) { return tracks[k].toObject().value("End").toDouble(); };
        const QStringList files = QDir(dir.filePath("out")).entryList({ "*.wav" }, QDir::Files, QDir::Name);
        const int expected = c.files < 0 ? int(truth.tracks.size()) : c.files;
        ASSERT_EQ(files.size(), expected) << run.out.toStdString();
        ASSERT_EQ(tracks.size(), expected);
        const double rate = c.layout->sampleRate;
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
    const splitsignals::SideTruth truth = splitsignals::truthOf(typical);
    size_t index = 0;
    const QRegularExpression entry("INDEX 01 (\\d+):(\\d\\d):(\\d\\d)");
    for (auto it = entry.globalMatch(QString::fromUtf8(readBytes(cue))); it.hasNext(); ++index) {
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
    // Digital silence, dithered silence, hiss only (which ends on a few
    // frames far quieter than the rest).
    const QString in = dir.filePath("in.wav"), out = dir.filePath("out.wav");
    for (const char* made : { "trim 0 30", "trim 0 30 dither", "synth 30 pinknoise vol 0.005" }) {
        SCOPED_TRACE(made);
        ASSERT_TRUE(sox(QString("-n -r 44100 -c 2 -b 16 %1 ") + made, in));
        for (const char* dry : { "--dry-run", "" })
            EXPECT_TRUE(says(tulv(QStringList { "split", in, out, "-q" } + words(dry)), 1, "no track found")) << dry;
        EXPECT_FALSE(QFile::exists(dir.filePath("001-out.wav")));
    }
}
