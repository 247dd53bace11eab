// tulv process against SoX's effects of the same definition, against runs of
// the library's own algorithms over the same file, and on bad chains.

#include "ToolRunner.h"

using namespace tooltest;

namespace {

SoundAlgo* chainOf(std::initializer_list<SoundAlgo*> algos)
{
    auto* chain = new SoundAlgoComposite();
    for (SoundAlgo* algo : algos)
        chain->pushAlgo(algo);
    return chain;
}

// The frame of the loudest sample.
size_t loudest(const Samples& samples)
{
    auto louder = [](double a, double b) { return std::fabs(a) < std::fabs(b); };
    return size_t(std::max_element(samples.begin(), samples.end(), louder) - samples.begin()) / 2;
}

} // namespace

class ToolProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        mIn = path("in.wav");
        // Two independent noises: every band has sound, a swapped channel shows.
        ASSERT_TRUE(sox("-n -r 44100 -c 2 -b 32 -e floating-point %1 synth 2 pinknoise whitenoise vol 0.3", mIn));
    }
    QString path(const char* name) const { return mDir.filePath(name); }
    // `in` (by default the noise) through the effects of `chain`, as the tool writes it.
    Samples process(const char* chain, const QString& in = QString())
    {
        const QStringList arguments = { "process", in.isEmpty() ? mIn : in, path("out.wav"), "-q" };
        const ToolRun run = tulv(arguments + words(chain));
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return readSound(path("out.wav"));
    }

    QTemporaryDir mDir;
    QString mIn;
};

TEST_F(ToolProcess, AgreesWithSoxOnTheSameFilters)
{
    const std::pair<const char*, const char*> cases[] = {
        { "gain -7.5", "gain -7.5" },
        { "eq 1000 1.5 6 eq 80 0.5 -9", "equalizer 1000 1.5o 6 equalizer 80 0.5o -9" },
        { "lowshelf 150 0.6 5", "bass 5 150 0.6s" },
        { "highshelf 6000 1 -4", "treble -4 6000 1s" },
        { "lowpass 2000", "lowpass -2 2000" },
        { "highpass 300 2", "highpass -2 300" },
        { "delay 0.25 eq 500 1 3", "delay 0.25 0.25 equalizer 500 1o 3" },
        // The player's nine bands, 1.9 octaves wide, at the Rock gains.
        { "preset rock", "equalizer 60 1.9o 4 equalizer 120 1.9o 3 equalizer 250 1.9o 2 equalizer 500 1.9o 0 "
                         "equalizer 1000 1.9o -1 equalizer 2000 1.9o 0 equalizer 4000 1.9o 2 equalizer 8000 1.9o 3 "
                         "equalizer 15000 1.9o 4" },
    };
    for (const auto& [ours, theirs] : cases) {
        SCOPED_TRACE(ours);
        ASSERT_TRUE(sox(QString("%1 -e floating-point %2 ") + theirs, mIn, path("sox.wav")));
        EXPECT_LT(maxDifference(process(ours), readSound(path("sox.wav"))), 1e-6);
    }
}

TEST_F(ToolProcess, EqualsTheLibraryAlgorithmLinedUpWithTheInput)
{
    // The effects, the library's algorithm, and whether it is linear-phase: the
    // library's own run then lags the input by the centre tap, which the tool takes off.
    const std::tuple<const char*, std::function<SoundAlgo*()>, bool> cases[] = {
        { "bandstop 2000 5000", [] { return new SoundAlgoEqFIR(SoundTools::BandStop, 2000, 5000); }, true },
        { "bandpass 500 4000 --fft 4096", [] { return new SoundAlgoEqFFT(SoundTools::BandPass, 500, 4000, 4096); },
          true },
        { "crossover 700 high",
          [] { return chainOf({ new SoundAlgoFilterCrossover(700), new SoundAlgoSelectChannel(1, 2) }); }, false },
        { "bassboost 9 80 --integrator", [] { return SoundAlgoBassBoost::buildIntegrator(9, 80); }, false },
        { "multiband-scale 250,3000 4,-2,1",
          [] { return new SoundAlgoMultibandScale({ 250, 3000 }, { 4, -2, 1 }, SoundAlgoComposite::SplitBiquad); },
          false },
        // A chain is the composition of its effects.
        { "gain 12 limit 3 0.002 0.05 gate -30",
          [] {
              return chainOf({ new SoundAlgoScale(12), new SoundAlgoLimiter(3, 0.002, 0.05),
                               new SoundAlgoNoiseGate(-30, 0.1, 0.05) });
          },
          false },
    };
    // A click at frame 5000: a linear-phase filter answers with its centre
    // tap, its largest, exactly there when the output lines up.
    Samples click(2 * 22050, 0.0);
    click[2 * 5000] = click[2 * 5000 + 1] = 0.5;
    ASSERT_TRUE(writeFile(path("click.wav"), click, 44100, SoundTools::Float32));
    for (const auto& [chain, make, linearPhase] : cases) {
        SCOPED_TRACE(chain);
        size_t lead = 0;
        if (linearPhase) {
            EXPECT_EQ(loudest(process(chain, path("click.wav"))), 5000u);
            const AlgoRef<SoundAlgo> clicked(make());
            lead = loudest(runThrough(*clicked, click)) - 5000;
        }
        const Samples ours = process(chain);
        const AlgoRef<SoundAlgo> algo(make());
        Samples library = runThrough(*algo, readSound(mIn));
        // The tool writes float samples, as its input holds them.
        std::transform(library.begin(), library.end(), library.begin(), [](double x) { return double(float(x)); });
        ASSERT_EQ(frameCount(ours), frameCount(library));
        const Samples lined(library.begin() + 2 * lead, library.end());
        EXPECT_EQ(maxDifference({ ours.begin(), ours.end() - 2 * lead }, lined), 0.0);
    }
}

TEST_F(ToolProcess, RefusesABadChainBeforeWritingAnything)
{
    const std::pair<const char*, const char*> cases[] = {
        { "reverb 3", "unknown effect 'reverb'" },
        { "eq 1000 1", "eq: needs GAIN_DB" },
        { "eq 1000 9 3", "eq: WIDTH_OCT must lie between 0.05 and 6, not 9" },
        { "lowpass 1000 3", "lowpass: ORDER must be one of 1|2|4|6, not '3'" },
        { "bandpass 1000 500", "bandpass: F2 must lie above F1" },
        { "multiband-scale 200,100 0,0,0", "must ascend" },
        { "gain 3 preset nope", "preset: NAME must be one of Flat|" },
        { "highshelf 30000 1 3", "highshelf: FREQ must lie below half the sample rate (22050 Hz), not 30000" },
        { "", "needs at least one effect" },
    };
    for (const auto& [chain, message] : cases) {
        SCOPED_TRACE(message);
        const ToolRun run = tulv(QStringList{ "process", mIn, path("bad.wav") } + words(chain));
        EXPECT_TRUE(says(run, 2, message));
        EXPECT_EQ(run.err.count('\n'), 1);
        EXPECT_FALSE(QFileInfo::exists(path("bad.wav")));
    }
}
