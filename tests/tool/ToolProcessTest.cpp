// tulv process against SoX's effects of the same definition, against runs of
// the library's own algorithms over the same file, and on bad chains.

#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace tooltest;

namespace {

// The centre tap of the FIR design of a band stop.
size_t firCentre(double f1, double f2)
{
    const AlgoRef<SoundAlgoEqFIR> filter(new SoundAlgoEqFIR(SoundTools::BandStop, f1, f2));
    return (filter->getLength(44100) - 1) / 2;
}

} // namespace

class ToolProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDir.isValid());
        mIn = path("in.wav");
        // Two independent noises: every band has sound, a swapped channel shows.
        ASSERT_TRUE(runTool("sox", { "-n", "-r", "44100", "-c", "2", "-b", "32", "-e", "floating-point", mIn, "synth",
                                     "2", "pinknoise", "whitenoise", "vol", "0.3" }));
    }
    QString path(const char* name) const { return mDir.filePath(name); }
    Samples process(const QStringList& chain)
    {
        const ToolRun run = tulv(QStringList{ "process", mIn, path("out.wav"), "-q" } + chain);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return readSound(path("out.wav"));
    }

    QTemporaryDir mDir;
    QString mIn;
};

TEST_F(ToolProcess, AgreesWithSoxOnTheSameFilters)
{
    struct Case {
        QStringList ours, sox;
    };
    const Case cases[] = {
        { { "gain", "-7.5" }, { "gain", "-7.5" } },
        { { "eq", "1000", "1.5", "6", "eq", "80", "0.5", "-9" }, { "equalizer", "1000", "1.5o", "6", "equalizer", "80", "0.5o", "-9" } },
        { { "lowshelf", "150", "0.6", "5" }, { "bass", "5", "150", "0.6s" } },
        { { "highshelf", "6000", "1", "-4" }, { "treble", "-4", "6000", "1s" } },
        { { "lowpass", "2000" }, { "lowpass", "-2", "2000" } },
        { { "highpass", "300", "2" }, { "highpass", "-2", "300" } },
        { { "delay", "0.25", "eq", "500", "1", "3" }, { "delay", "0.25", "0.25", "equalizer", "500", "1o", "3" } },
        // The player's nine bands, 1.9 octaves wide, at the Rock gains.
        { { "preset", "rock" },
          { "equalizer", "60", "1.9o", "4", "equalizer", "120", "1.9o", "3", "equalizer", "250", "1.9o", "2", "equalizer", "500",
            "1.9o", "0", "equalizer", "1000", "1.9o", "-1", "equalizer", "2000", "1.9o", "0", "equalizer", "4000", "1.9o", "2",
            "equalizer", "8000", "1.9o", "3", "equalizer", "15000", "1.9o", "4" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ours.join(' ').toStdString());
        const Samples ours = process(c.ours);
        ASSERT_TRUE(runTool("sox", QStringList{ mIn, "-e", "floating-point", path("sox.wav") } + c.sox));
        const Samples theirs = readSound(path("sox.wav"));
        EXPECT_LT(maxDifference(ours, theirs), 1e-6);
    }
}

TEST_F(ToolProcess, EqualsTheLibraryAlgorithmLinedUpWithTheInput)
{
    using Make = std::function<SoundAlgo*()>;
    struct Case {
        QStringList chain;
        Make make;
        size_t lead; // frames by which the library's own run lags the input (linear phase: its centre tap)
    };
    const Case cases[] = {
        { { "bandstop", "2000", "5000" }, [] { return new SoundAlgoEqFIR(SoundTools::BandStop, 2000, 5000); },
          firCentre(2000, 5000) },
        { { "bandpass", "500", "4000", "--fft", "4096" },
          [] { return new SoundAlgoEqFFT(SoundTools::BandPass, 500, 4000, 4096); },
          (SoundAlgoFFTFilter::getTapCount(4096) - 1) / 2 },
        { { "crossover", "700", "high" },
          [] {
              auto* chain = new SoundAlgoComposite();
              chain->pushAlgo(new SoundAlgoFilterCrossover(700));
              chain->pushAlgo(new SoundAlgoSelectChannel(1, 2));
              return chain;
          },
          0 },
        { { "bassboost", "9", "80", "--integrator" }, [] { return SoundAlgoBassBoost::buildIntegrator(9, 80); }, 0 },
        { { "multiband-scale", "250,3000", "4,-2,1" },
          [] { return new SoundAlgoMultibandScale({ 250, 3000 }, { 4, -2, 1 }, SoundAlgoComposite::SplitBiquad); }, 0 },
        // A chain is the composition of its effects.
        { { "gain", "12", "limit", "3", "0.002", "0.05", "gate", "-30" },
          [] {
              auto* chain = new SoundAlgoComposite();
              chain->pushAlgo(new SoundAlgoScale(12));
              chain->pushAlgo(new SoundAlgoLimiter(3, 0.002, 0.05));
              chain->pushAlgo(new SoundAlgoNoiseGate(-30, 0.1, 0.05));
              return chain;
          },
          0 },
    };
    // A click at frame 5000: a linear-phase filter answers with its centre
    // tap, its largest, exactly there when the output lines up.
    Samples click(2 * 22050, 0.0);
    click[2 * 5000] = click[2 * 5000 + 1] = 0.5;
    ASSERT_TRUE(writeFile(path("click.wav"), click, 44100, SoundTools::Float32));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chain.join(' ').toStdString());
        if (c.lead > 0) {
            ASSERT_EQ(tulv(QStringList{ "process", path("click.wav"), path("out.wav"), "-q" } + c.chain).exitCode, 0);
            const std::vector<double> answer = readSound(path("out.wav"));
            const auto loudest = std::max_element(answer.begin(), answer.end(),
                                                  [](double a, double b) { return std::fabs(a) < std::fabs(b); });
            EXPECT_EQ(loudest - answer.begin(), 2 * 5000);
        }
        const Samples ours = process(c.chain);
        const AlgoRef<SoundAlgo> algo(c.make());
        Samples library = runThrough(*algo, readSound(mIn));
        // The tool writes float samples, as its input holds them.
        for (double& x : library)
            x = float(x);
        ASSERT_EQ(frameCount(ours), frameCount(library));
        EXPECT_EQ(maxDifference({ ours.begin(), ours.end() - 2 * c.lead }, { library.begin() + 2 * c.lead, library.end() }), 0.0);
    }
}

TEST_F(ToolProcess, RefusesABadChainBeforeWritingAnything)
{
    struct Case {
        QStringList chain;
        const char* says;
    };
    const Case cases[] = {
        { { "reverb", "3" }, "unknown effect 'reverb'" },
        { { "eq", "1000", "1" }, "eq: needs GAIN_DB" },
        { { "eq", "1000", "9", "3" }, "eq: WIDTH_OCT must lie between 0.05 and 6, not 9" },
        { { "lowpass", "1000", "3" }, "lowpass: ORDER must be one of 1|2|4|6, not '3'" },
        { { "bandpass", "1000", "500" }, "bandpass: F2 must lie above F1" },
        { { "multiband-scale", "200,100", "0,0,0" }, "must ascend" },
        { { "gain", "3", "preset", "nope" }, "preset: NAME must be one of Flat|" },
        { { "highshelf", "30000", "1", "3" }, "highshelf: FREQ must lie below half the sample rate (22050 Hz), not 30000" },
        { {}, "needs at least one effect" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const ToolRun run = tulv(QStringList{ "process", mIn, path("bad.wav") } + c.chain);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains(QLatin1String(c.says))) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1);
        EXPECT_FALSE(QFileInfo::exists(path("bad.wav")));
    }
}
