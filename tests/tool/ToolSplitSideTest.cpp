// tulv split on synthesized record sides, each with its own truth: one file
// per track, every boundary within half a second, and nothing lost: the
// files put end to end are the input from the first track's start to the
// last track's end, bit for bit. Each split option changes what it says.

#include "ToolRunner.h"

#include "tests/support/SplitSignals.h"

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
    // What each row holds: its name, the side, the options, the files
    // expected (-1: one per true track), whether each boundary then lies
    // within 0.5 s of the truth, and whether each file is its track's sound
    // only (trimmed); when not, the files end to end are the input between the
    // first start and the last end.
    using Case = std::tuple<const char*, const SideLayout*, QStringList, int, bool, bool>;
    QTemporaryDir dir;
    const QString labels = dir.filePath("labels.txt"), cue = dir.filePath("side.cue"), side = dir.filePath("side.wav");
    const std::vector<Case> cases = {
        { "labels and cue sheet written", &typical, { "--labels", labels, "--cue", cue }, -1, true, false },
        { "labels loaded back", &typical, { "--load-labels", labels }, -1, true, false },
        { "gaps cut where --gap-offset 0 says", &typical, { "--gap-offset", "0" }, -1, true, false },
        { "--trim-gaps", &typical, { "--trim-gaps" }, -1, true, true },
        { "--tracks 3 joins two tracks", &typical, { "--tracks", "3" }, 3, true, false },
        { "--threshold above the quiet passage splits its track", &typical, { "--threshold", "-30" }, 5, true, false },
        { "--min-track 36 leaves the 35 s track to its gaps", &typical, { "--min-track", "36" }, 3, true, false },
        { "--snr 10 takes the passage 20 dB down for a gap", &typical, { "--snr", "10" }, 5, true, false },
        { "--window 3 takes the thump in the last gap for a start", &typical, { "--window", "3" }, -1, false, false },
        { "no lead-in, no lead-out, a fade to the last frame", &bare, {}, -1, true, false },
        { "--min-run longer than the side leaves a loud gap in its run", &loudGap, { "--min-run", "300" }, 3, true,
          false },
        { "a loud gap found by the examination of its run", &loudGap, {}, -1, true, false },
        { "8 kHz, clean gaps", &clean, {}, -1, true, false },
    };
    const SideLayout* written = nullptr;
    for (const auto& [name, layout, options, count, near, trimmed] : cases) {
        SCOPED_TRACE(name);
        const splitsignals::SideTruth truth = splitsignals::truthOf(*layout);
        ASSERT_TRUE(written == layout || splitsignals::writeSideWav(*layout, side.toStdString()));
        written = layout;
        const QString out = dir.filePath("out/side.wav");
        QDir(dir.filePath("out")).removeRecursively(); // the split makes it again
        const ToolRun run = tulv(QStringList { "split", side, out, "-q", "--json" } + options);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QJsonArray tracks = QJsonDocument::fromJson(run.out.toUtf8()).object().value("Tracks").toArray();
        auto start = [&tracks](int k) { return tracks[k].toObject().value("Start").toDouble(); };
        auto end = [&tracks](int k) { return tracks[k].toObject().value("End").toDouble(); };
        const QStringList files = QDir(dir.filePath("out")).entryList({ "*.wav" }, QDir::Files, QDir::Name);
        const int expected = count < 0 ? int(truth.tracks.size()) : count;
        ASSERT_EQ(files.size(), expected) << run.out.toStdString();
        ASSERT_EQ(tracks.size(), expected);
        const double rate = layout->sampleRate;
        double worst = 0.0;
        for (int k = 0; count < 0 && k < expected; ++k)
            worst = std::max({ worst, std::abs(start(k) - truth.tracks[k].begin / rate),
                               std::abs(end(k) - truth.tracks[k].end / rate) });
        EXPECT_EQ(worst <= 0.5, near) << "worst boundary error " << worst << " s " << run.out.toStdString();
        Samples joined;
        for (int k = 0; k < expected; ++k) {
            const Samples part = readSound(dir.filePath("out/" + files[k]));
            joined.insert(joined.end(), part.begin(), part.end());
            // Trimmed, a file is its track's sound; with the gaps all given
            // to the next track, a file starts where the track before it ends.
            const double from = trimmed || k == 0 ? start(k) : end(k - 1);
            if (trimmed || options.contains("--gap-offset")) {
                EXPECT_NEAR(frameCount(part) / rate, end(k) - from, 1.5 / rate) << "file " << k + 1;
            }
        }
        if (!trimmed) {
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
