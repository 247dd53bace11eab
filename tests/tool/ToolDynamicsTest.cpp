// The tool's dynamics options: a conversion through the limiter keeps every
// peak under the ceiling asked for and leaves quieter material untouched; a
// split with --even-loudness brings tracks of different levels to the target.

#include "ToolRunner.h"

#include "tests/support/SplitSignals.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>

using namespace tooltest;

namespace {

double peak(const std::vector<double>& samples, size_t from = 0, size_t to = SIZE_MAX)
{
    double value = 0.0;
    for (size_t i = from; i < std::min(to, samples.size()); ++i)
        value = std::max(value, std::fabs(samples[i]));
    return value;
}

double rmsDb(const std::vector<double>& samples, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; ++i)
        sum += samples[i] * samples[i];
    return 10.0 * std::log10(sum / double(to - from));
}

} // namespace

TEST(ToolDynamics, LimitedConversionStaysUnderItsCeiling)
{
    QTemporaryDir dir;
    if (!have(QStringLiteral("sox")))
        GTEST_SKIP() << "sox is not available";
    // Tones at -8 dBFS peak with isolated full-scale clicks every half second.
    const QString in = dir.filePath(QStringLiteral("in.wav"));
    ASSERT_TRUE(runPeer(QStringLiteral("sox"),
                        { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-b"),
                          QStringLiteral("24"), in, QStringLiteral("synth"), QStringLiteral("4"), QStringLiteral("sine"),
                          QStringLiteral("440"), QStringLiteral("sine"), QStringLiteral("997"), QStringLiteral("channels"),
                          QStringLiteral("2"), QStringLiteral("gain"), QStringLiteral("-8") }));
    const Sound source = readSound(in);
    ASSERT_TRUE(source.ok);

    // +12 dB would put the peaks 4 dB over full scale; -1 dBFS is the ceiling.
    const QString out = dir.filePath(QStringLiteral("limited.wav"));
    const ToolRun run = tulv({ QStringLiteral("convert"), in, out, QStringLiteral("--gain"), QStringLiteral("12"),
                               QStringLiteral("--limit"), QStringLiteral("-1"), QStringLiteral("--format"),
                               QStringLiteral("double"), QStringLiteral("-q") });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const Sound limited = readSound(out);
    ASSERT_EQ(limited.frames(), source.frames());
    EXPECT_LE(peak(limited.samples), std::pow(10.0, -1.0 / 20.0) * (1.0 + 1e-9));
    // And it is limited, not silenced: the peaks sit at the ceiling.
    EXPECT_GT(peak(limited.samples), std::pow(10.0, -1.5 / 20.0));

    // Below the ceiling, the limiter changes nothing.
    const QString through = dir.filePath(QStringLiteral("through.wav"));
    ASSERT_EQ(tulv({ QStringLiteral("convert"), in, through, QStringLiteral("--limit"), QStringLiteral("-1"),
                     QStringLiteral("--format"), QStringLiteral("double"), QStringLiteral("-q") })
                  .exitCode,
              0);
    const Sound same = readSound(through);
    ASSERT_EQ(same.frames(), source.frames());
    double worst = 0.0;
    for (size_t i = 0; i < same.samples.size(); ++i)
        worst = std::max(worst, std::fabs(same.samples[i] - source.samples[i]));
    EXPECT_LT(worst, 1e-12);
}

TEST(ToolDynamics, EvenLoudnessBringsEveryTrackToTheTargetAndKeepsItsDynamics)
{
    QTemporaryDir dir;
    // Tracks 3 to 6 dB apart; the second has a passage 20 dB down, the last
    // fades out over 10 s.
    splitsignals::SideSpec spec = splitsignals::typicalSide();
    spec.tracks[0].levelDb = -12.0;
    spec.tracks[1].levelDb = -18.0;
    spec.tracks[1].quietLevelDb = -38.0;
    spec.tracks[2].levelDb = -15.0;
    spec.tracks[3].levelDb = -21.0;
    ASSERT_EQ(spec.tracks[1].quietAtSeconds, 20.0);
    ASSERT_EQ(spec.tracks[3].fadeOutSeconds, 10.0);
    const QString side = dir.filePath(QStringLiteral("side.wav"));
    ASSERT_TRUE(splitsignals::writeSideWav(spec, side.toStdString()));

    const double target = -20.0;
    const ToolRun run = tulv({ QStringLiteral("split"), side, dir.filePath(QStringLiteral("even.wav")),
                               QStringLiteral("--even-loudness"), QStringLiteral("--target"), QString::number(target),
                               QStringLiteral("--format"), QStringLiteral("float"), QStringLiteral("-q") });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList files = filesIn(dir.path(), QStringLiteral("*-even.wav"));
    ASSERT_EQ(files.size(), 4) << run.out.toStdString();
    std::vector<Sound> tracks;
    for (const QString& name : files) {
        tracks.push_back(readSound(dir.filePath(name)));
        ASSERT_TRUE(tracks.back().ok);
        EXPECT_LE(peak(tracks.back().samples), 0.981) << name.toStdString();
    }
    auto at = [](double seconds) { return size_t(2 * seconds * 44100); };
    // The body of every track, past the ramp into its level, is at the target.
    const double body[] = { rmsDb(tracks[0].samples, at(4), at(36)), rmsDb(tracks[1].samples, at(4), at(18)),
                            rmsDb(tracks[2].samples, at(4), at(31)), rmsDb(tracks[3].samples, at(4), at(30)) };
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(body[k], target, 1.0) << "track " << k + 1;
    // The quiet passage is still 20 dB down, and the fade still fades.
    EXPECT_NEAR(rmsDb(tracks[1].samples, at(21.5), at(23.5)), body[1] - 20.0, 1.5);
    const std::vector<double>& last = tracks[3].samples;
    EXPECT_LT(rmsDb(last, last.size() - at(3), last.size()), body[3] - 10.0);
}
