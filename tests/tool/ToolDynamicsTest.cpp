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

TEST(ToolDynamics, EvenLoudnessBringsEveryTrackToTheTarget)
{
    QTemporaryDir dir;
    // Tracks 6 dB apart, none with a quiet passage or fade to blur the measure.
    splitsignals::SideSpec spec = splitsignals::typicalSide();
    spec.tracks[0].levelDb = -12.0;
    spec.tracks[1].levelDb = -18.0;
    spec.tracks[1].quietSeconds = 0.0;
    spec.tracks[2].levelDb = -15.0;
    spec.tracks[3].levelDb = -21.0;
    spec.tracks[3].fadeOutSeconds = 0.0;
    const QString side = dir.filePath(QStringLiteral("side.wav"));
    ASSERT_TRUE(splitsignals::writeSideWav(spec, side.toStdString()));

    const double target = -20.0;
    const ToolRun run = tulv({ QStringLiteral("split"), side, dir.filePath(QStringLiteral("even.wav")),
                               QStringLiteral("--even-loudness"), QStringLiteral("--target"), QString::number(target),
                               QStringLiteral("--format"), QStringLiteral("float"), QStringLiteral("-q") });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList files = filesIn(dir.path(), QStringLiteral("*-even.wav"));
    ASSERT_EQ(files.size(), 4) << run.out.toStdString();
    for (const QString& name : files) {
        const Sound track = readSound(dir.filePath(name));
        ASSERT_TRUE(track.ok);
        // Past the first ramp (at most a few seconds) and before the ring-out.
        const size_t from = 2 * 8 * 44100;
        const size_t to = track.samples.size() - 2 * 44100;
        ASSERT_GT(to, from) << name.toStdString();
        EXPECT_NEAR(rmsDb(track.samples, from, to), target, 1.0) << name.toStdString();
        EXPECT_LE(peak(track.samples), 0.981) << name.toStdString();
    }
}
