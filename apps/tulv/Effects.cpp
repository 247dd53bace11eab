#include "Effects.h"

#include <cmath>
#include <limits>
#include <memory>

using SoundTools::FilterType;

namespace {

const double kNoValue = std::numeric_limits<double>::quiet_NaN();
const double kTopFrequency = 100000.0; // Hz: sample rates above 200 kHz are not met

// The limiter and gate defaults: a look-ahead long enough to see a transient
// coming, a release slow enough not to pump on the beat.
const double kLimiterLookAhead = 0.005; // s
const double kLimiterRelease = 0.1;     // s
const double kGateRelease = 0.1;        // s
const double kGateWindow = 0.05;        // s

// The automatic gain: how fast it may move from one region's level to the
// next, and how far below the target a quiet passage may stay.
const double kAgcRampSeconds = 3.0;
const double kAgcRangeDb = 20.0;
const double kAgcRmsSeconds = 0.2;
// The noise estimate that tells a quiet passage from the noise between
// pieces: the quietest 2 s per 5 minutes, at most 60 dB under the loudest.
const double kAgcQuietSeconds = 2.0;
const double kAgcSnrDb = 60.0;
// The band limiters of the multiband gain.
const double kBandLookAhead = 0.005; // s
const double kBandRelease = 0.1;     // s

const QStringList kOrders = { "1", "2", "4", "6" };
const QStringList kFftSizes = { "256", "512", "1024", "2048", "4096", "8192", "16384", "32768", "65536" };

// The player's equaliser, read from the player itself so that a preset here
// is the preset there.
class PlayerBands : public SoundPlayer {
public:
    PlayerBands()
        : SoundPlayer(nullptr, nullptr, true)
    {
    }
    void preload() override {}
    void start() override {}
    void stop() override {}
    void endOfData() override {}
    // The equaliser bands after `preset`, without the bass-boost band.
    std::vector<std::shared_ptr<SoundTools::BiquadEqBuilder>> bands(unsigned int preset)
    {
        setEqPreset(preset);
        return { mBands.begin(), mBands.end() - 1 };
    }
};

QStringList presetNames()
{
    PlayerBands player;
    return player.getEqPresets();
}

// Moves the stream earlier by a fixed count of frames: output frame t is
// input frame t + lead. Undoes the lag of a linear-phase filter, so that the
// output lines up with the input frame for frame.
class LeadAlgo : public SoundAlgo {
public:
    explicit LeadAlgo(unsigned int frames)
        : mLead(frames)
    {
    }
    SoundTools::Status process() override
    {
        const StereoBlock block = stereoBlock();
        if (block.frames == 0)
            return SoundTools::Ok;
        if (!block.in || !block.out) {
            setError(QStringLiteral("the block cannot be addressed"), "LeadAlgo::process");
            return SoundTools::Error;
        }
        // One copy per frame; the input overlap holds the lead frames.
        for (int i = 0; i < block.frames; ++i)
            block.out[i] = block.in[i + int(mLead)];
        return SoundTools::Ok;
    }

protected:
    ~LeadAlgo() override = default;
    unsigned int getInOverlap(unsigned int) const override { return mLead; }

private:
    unsigned int mLead;
};

// The FFT filters are causal convolutions with odd, symmetric taps: they
// lag by half their length.
unsigned int fftLag(unsigned int size)
{
    return (SoundAlgoFFTFilter::getTapCount(size) - 1) / 2;
}

std::vector<EffectKind> makeKinds()
{
    const EffectArgument freq = { "FREQ", "frequency, Hz", 1.0, kTopFrequency, 0.0, false, false, true };
    const EffectArgument gainDb = { "GAIN_DB", "gain at the centre or on the shelf, dB", -40.0, 40.0 };
    const EffectArgument f1 = { "F1", "lower edge, Hz", 1.0, kTopFrequency, 0.0, false, false, true };
    const EffectArgument f2 = { "F2", "upper edge, Hz", 1.0, kTopFrequency, 0.0, false, false, true };
    const EffectArgument order = { "ORDER", "Butterworth order (default 2)", 1, 6, 2, true, false, false, kOrders };
    const EffectArgument freqs = { "F1,F2,...", "crossover frequencies, Hz, ascending", 1.0, kTopFrequency,
                                   0.0, false, true, true };
    const EffectFlag fft = { "fft", "SIZE", "apply the filters by FFT blocks of SIZE frames instead", kFftSizes };
    const EffectFlag fftBands = { "fft", "SIZE", "split the bands by FFT blocks of SIZE frames instead", kFftSizes };
    return {
        { "gain", "amplify", { { "DB", "gain, dB", -120.0, 60.0 } }, {}, "gain DB" },
        { "eq", "peaking section of a parametric equaliser (several in a row make one)",
          { freq, { "WIDTH_OCT", "bandwidth, octaves", 0.05, 6.0 }, gainDb }, {}, "equalizer FREQ WIDTH_OCTo GAIN_DB" },
        { "lowshelf", "raise or lower what lies below FREQ",
          { freq, { "SLOPE", "shelf slope S (1: steepest without overshoot)", 0.05, 1.0 }, gainDb }, {},
          "bass GAIN_DB FREQ SLOPEs" },
        { "highshelf", "raise or lower what lies above FREQ",
          { freq, { "SLOPE", "shelf slope S (1: steepest without overshoot)", 0.05, 1.0 }, gainDb }, {},
          "treble GAIN_DB FREQ SLOPEs" },
        { "lowpass", "Butterworth low pass", { freq, order }, {}, "order 2: lowpass -2 FREQ" },
        { "highpass", "Butterworth high pass", { freq, order }, {}, "order 2: highpass -2 FREQ" },
        { "bandpass", "linear-phase FIR band pass (Parks-McClellan), no delay", { f1, f2 }, { fft } },
        { "bandstop", "linear-phase FIR band stop (Parks-McClellan), no delay", { f1, f2 }, { fft } },
        { "crossover", "one band of a 4th-order Butterworth crossover",
          { freq, { "BAND", "the band kept", 0, 1, 0, false, false, false, { "low", "high" } } } },
        { "aweight", "A frequency weighting of sound level meters, 0 dB at 1 kHz", {} },
        { "limit", "look-ahead peak limiter: the gain, then peaks held at 0.98 of full scale",
          { { "DB", "make-up gain, dB", -40.0, 40.0 },
            { "LOOKAHEAD_S", "look-ahead, s (default 0.005)", 0.0001, 1.0, kLimiterLookAhead, true },
            { "RELEASE_S", "release, s (default 0.1)", 0.001, 10.0, kLimiterRelease, true } } },
        { "gate", "noise gate: silence while the level stays under DB",
          { { "DB", "threshold, dBFS", -120.0, 0.0 },
            { "RELEASE_S", "closing time, s (default 0.1)", 0.0001, 10.0, kGateRelease, true },
            { "WINDOW_S", "level window ahead of the frame, s (default 0.05)", 0.001, 2.0, kGateWindow, true } } },
        { "bassboost", "raise the bass and add its harmonics, then limit",
          { { "DB", "boost, dB", 0.0, 30.0 }, { "FREQ", "crossover, Hz (default 100)", 20.0, 1000.0, 100.0, true } },
          { { "integrator", nullptr, "harmonics from a gated sawtooth instead of a rectifier" } } },
        { "multiband-scale", "graphic equaliser on complementary second-order bands",
          { freqs, { "G0,G1,...", "gain of each band from the lowest, dB (one more than F)", -40.0, 40.0, 0.0,
                     false, true } } },
        { "agc", "automatic gain: each passage brought to the target (two passes)",
          { { "TARGET_DB", "target level, dBFS RMS", -60.0, 0.0 } },
          { { "max-gain", "DB", "largest gain, dB (default 20)", {}, 0.0, 60.0, 20.0 } } },
        { "multiband-agc", "automatic gain per band, bands limited (two passes)",
          { freqs, { "TARGET_DB", "target level, dBFS RMS", -60.0, 0.0 } }, { fftBands } },
        { "delay", "delay the sound; the output grows by as much", { { "SECONDS", "delay, s", 0.0, 3600.0 } }, {},
          "delay SECONDS" },
        { "preset", "the player's nine-band equaliser preset",
          { { "NAME", "preset", 0, 0, 0, false, false, false, presetNames() } } },
    };
}

QString number(double value)
{
    return QString::number(value, 'g', 10);
}

QString rangeText(const EffectArgument& argument)
{
    if (!argument.words.isEmpty())
        return argument.words.join(QLatin1Char('|'));
    QString text = number(argument.low) + QStringLiteral(" to ")
                   + (argument.belowNyquist ? QStringLiteral("rate/2") : number(argument.high));
    return text;
}

QString flagText(const EffectFlag& flag)
{
    QString text = QStringLiteral("--") + QLatin1String(flag.name);
    if (flag.valueName)
        text += QLatin1Char(' ') + QLatin1String(flag.valueName);
    return text;
}

// Reads one argument or flag value: a word of `words`, or a number (or a
// list of them) in [low, high]. `what` names it in the error.
bool readValue(const QString& text, const QString& what, const QStringList& words, double low, double high,
               bool list, std::vector<double>& out, QString& error)
{
    out.clear();
    if (!words.isEmpty()) {
        int index = int(words.size()) - 1;
        while (index >= 0 && words.at(index).compare(text, Qt::CaseInsensitive) != 0)
            --index;
        if (index < 0) {
            error = QStringLiteral("%1 must be one of %2, not '%3'").arg(what, words.join(QLatin1Char('|')), text);
            return false;
        }
        bool numeric = false;
        const double value = words.at(index).toDouble(&numeric);
        out.push_back(numeric ? value : double(index));
        return true;
    }
    const QStringList items = list ? text.split(QLatin1Char(',')) : QStringList{ text };
    for (const QString& item : items) {
        bool ok = false;
        const double value = item.toDouble(&ok);
        if (!ok || !std::isfinite(value)) {
            error = QStringLiteral("%1 needs %2, not '%3'").arg(what, list ? QStringLiteral("numbers") : QStringLiteral("a number"), text);
            return false;
        }
        if (value < low || value > high) {
            error = QStringLiteral("%1 must lie between %2 and %3, not %4").arg(what, number(low), number(high), item);
            return false;
        }
        out.push_back(value);
    }
    return true;
}

const EffectKind* findKind(const QString& name)
{
    for (const EffectKind& kind : effectKinds())
        if (name == QLatin1String(kind.name))
            return &kind;
    return nullptr;
}

// Checks that hold between the arguments of one effect.
bool checkTogether(const Effect& effect, QString& error)
{
    const QString name = QLatin1String(effect.kind->name);
    if (name == QLatin1String("bandpass") || name == QLatin1String("bandstop")) {
        if (effect.value(1) <= effect.value(0)) {
            error = QStringLiteral("%1: F2 must lie above F1").arg(name);
            return false;
        }
    } else if (name == QLatin1String("multiband-scale") || name == QLatin1String("multiband-agc")) {
        const std::vector<double>& freqs = effect.values[0];
        for (size_t i = 1; i < freqs.size(); ++i)
            if (freqs[i] <= freqs[i - 1]) {
                error = QStringLiteral("%1: the frequencies F1,F2,... must ascend").arg(name);
                return false;
            }
        if (name == QLatin1String("multiband-scale") && effect.values[1].size() != freqs.size() + 1) {
            error = QStringLiteral("multiband-scale: %1 frequencies need %2 gains, not %3")
                        .arg(freqs.size())
                        .arg(freqs.size() + 1)
                        .arg(effect.values[1].size());
            return false;
        }
    }
    return true;
}

bool isFft(const Effect& effect)
{
    return !effect.kind->flags.empty() && QLatin1String(effect.kind->flags[0].name) == QLatin1String("fft")
           && effect.flags[0] > 0.0;
}

} // namespace

const std::vector<EffectKind>& effectKinds()
{
    static const std::vector<EffectKind> kinds = makeKinds();
    return kinds;
}

QString effectListText()
{
    QString text = QStringLiteral("Effects of 'tulv process', with their arguments (ranges in brackets):\n");
    for (const EffectKind& kind : effectKinds()) {
        QStringList synopsis{ QLatin1String(kind.name) };
        for (const EffectArgument& argument : kind.arguments)
            synopsis << (argument.optional ? QStringLiteral("[%1]").arg(QLatin1String(argument.name))
                                           : QLatin1String(argument.name));
        for (const EffectFlag& flag : kind.flags)
            synopsis << QStringLiteral("[%1]").arg(flagText(flag));
        text += QStringLiteral("\n  %1\n      %2\n").arg(synopsis.join(QLatin1Char(' ')), QLatin1String(kind.summary));
        for (const EffectArgument& argument : kind.arguments)
            text += QStringLiteral("      %1  %2 [%3]\n")
                        .arg(QString::fromLatin1(argument.name).leftJustified(11), QLatin1String(argument.meaning),
                             rangeText(argument));
        for (const EffectFlag& flag : kind.flags)
            text += QStringLiteral("      %1  %2 [%3]\n")
                        .arg(flagText(flag).leftJustified(11), QLatin1String(flag.meaning),
                             flag.words.isEmpty() ? (flag.valueName ? number(flag.low) + QStringLiteral(" to ") + number(flag.high)
                                                                    : QStringLiteral("switch"))
                                                  : flag.words.join(QLatin1Char('|')));
        if (kind.peer)
            text += QStringLiteral("      the same filter as SoX's: %1\n").arg(QLatin1String(kind.peer));
    }
    return text;
}

bool parseEffects(const QStringList& tokens, std::vector<Effect>& effects, QString& error)
{
    effects.clear();
    int i = 0;
    while (i < tokens.size()) {
        const QString name = tokens.at(i++);
        Effect effect;
        effect.kind = findKind(name);
        if (!effect.kind) {
            error = QStringLiteral("unknown effect '%1'").arg(name);
            return false;
        }
        const EffectKind& kind = *effect.kind;
        for (const EffectFlag& flag : kind.flags)
            effect.flags.push_back(flag.valueName ? flag.fallback : 0.0);
        QStringList given;
        for (; i < tokens.size() && !findKind(tokens.at(i)); ++i) {
            const QString token = tokens.at(i);
            if (!token.startsWith(QLatin1String("--"))) {
                given << token;
                continue;
            }
            const QString flagName = token.mid(2).section(QLatin1Char('='), 0, 0);
            size_t f = 0;
            while (f < kind.flags.size() && flagName != QLatin1String(kind.flags[f].name))
                ++f;
            if (f == kind.flags.size()) {
                error = QStringLiteral("%1: unknown option '%2'").arg(name, token);
                return false;
            }
            const EffectFlag& flag = kind.flags[f];
            if (!flag.valueName) {
                effect.flags[f] = 1.0;
                continue;
            }
            QString text = token.section(QLatin1Char('='), 1);
            if (!token.contains(QLatin1Char('='))) {
                if (i + 1 >= tokens.size()) {
                    error = QStringLiteral("%1: option '--%2' needs %3").arg(name, flagName, QLatin1String(flag.valueName));
                    return false;
                }
                text = tokens.at(++i);
            }
            std::vector<double> value;
            if (!readValue(text, QStringLiteral("%1: --%2").arg(name, flagName), flag.words, flag.low, flag.high, false,
                           value, error))
                return false;
            effect.flags[f] = value.front();
        }
        if (given.size() > int(kind.arguments.size())) {
            error = QStringLiteral("%1: too many arguments ('%2')").arg(name, given.at(int(kind.arguments.size())));
            return false;
        }
        for (size_t a = 0; a < kind.arguments.size(); ++a) {
            const EffectArgument& argument = kind.arguments[a];
            std::vector<double> value;
            if (int(a) >= given.size()) {
                if (!argument.optional) {
                    error = QStringLiteral("%1: needs %2 (%3)").arg(name, QLatin1String(argument.name), QLatin1String(argument.meaning));
                    return false;
                }
                value.push_back(argument.fallback);
            } else if (!readValue(given.at(int(a)), QStringLiteral("%1: %2").arg(name, QLatin1String(argument.name)),
                                  argument.words, argument.low, argument.high, argument.list, value, error)) {
                return false;
            }
            effect.values.push_back(value);
        }
        if (!checkTogether(effect, error))
            return false;
        effects.push_back(effect);
    }
    if (effects.empty()) {
        error = QStringLiteral("needs at least one effect");
        return false;
    }
    return true;
}

bool checkEffects(const std::vector<Effect>& effects, unsigned int sampleRate, QString& error)
{
    const double nyquist = sampleRate / 2.0;
    for (const Effect& effect : effects) {
        const QString name = QLatin1String(effect.kind->name);
        for (size_t a = 0; a < effect.kind->arguments.size(); ++a) {
            const EffectArgument& argument = effect.kind->arguments[a];
            for (double value : effect.values[a])
                if (argument.belowNyquist && value >= nyquist) {
                    error = QStringLiteral("%1: %2 must lie below half the sample rate (%3 Hz), not %4")
                                .arg(name, QLatin1String(argument.name), number(nyquist), number(value));
                    return false;
                }
        }
        if (name == QLatin1String("bassboost") && 2.0 * effect.value(1) >= nyquist) {
            error = QStringLiteral("bassboost: FREQ must lie below a quarter of the sample rate (%1 Hz), not %2")
                        .arg(number(nyquist / 2.0), number(effect.value(1)));
            return false;
        }
        if ((name == QLatin1String("bandpass") || name == QLatin1String("bandstop")) && !isFft(effect)) {
            AlgoRef<SoundAlgoEqFIR> probe(new SoundAlgoEqFIR(name == QLatin1String("bandpass") ? SoundTools::BandPass
                                                                                                : SoundTools::BandStop,
                                                             effect.value(0), effect.value(1)));
            if (probe->getLength(sampleRate) == 0) {
                error = QStringLiteral("%1: a FIR filter from %2 to %3 Hz cannot be designed at %4 Hz (too narrow or too close to 0 Hz)")
                            .arg(name, number(effect.value(0)), number(effect.value(1)), QString::number(sampleRate));
                return false;
            }
        }
        if (name == QLatin1String("multiband-agc") && isFft(effect)) {
            const std::vector<double>& freqs = effect.values[0];
            for (size_t i = 1; i < freqs.size(); ++i)
                if (freqs[i] - freqs[i - 1] <= 150.0) {
                    error = QStringLiteral("multiband-agc: with --fft the frequencies must lie more than 150 Hz apart");
                    return false;
                }
        }
    }
    return true;
}

bool needsAnalysis(const Effect& effect)
{
    const QString name = QLatin1String(effect.kind->name);
    return name == QLatin1String("agc") || name == QLatin1String("multiband-agc");
}

RMSStepDetector* newAnalysisDetector()
{
    return new RMSStepDetector(-40.0, kAgcRmsSeconds, 1.0, RMSStepDetector::NoOutput, false);
}

void finishAnalysis(RMSStepDetector& detector)
{
    detector.applyNoise(detector.estimateNoise(kAgcQuietSeconds, kAgcSnrDb));
}

namespace {

std::shared_ptr<SoundTools::FilterBuilder> butterworth(FilterType type, double freq, int order)
{
    switch (order) {
    case 1:
        return std::make_shared<SoundTools::Order1FilterBuilder>(type, freq);
    case 4:
        return std::make_shared<SoundTools::Order4FilterBuilder>(type, freq);
    case 6:
        return std::make_shared<SoundTools::Order6FilterBuilder>(type, freq);
    default: {
        // The bilinear design with the Butterworth Q: the maximally flat
        // second-order section, with its corner prewarped to FREQ.
        auto section = std::make_shared<SoundTools::BiquadEqBuilder>(type);
        section->setFreq(freq).setQ(M_SQRT1_2);
        return section;
    }
    }
}

// Appends the library algorithms of one effect, and what lines a
// linear-phase filter's output up with its input.
void pushEffect(SoundAlgoComposite& chain, const Effect& effect, RMSStepDetector* detector, unsigned int sampleRate)
{
    const QString name = QLatin1String(effect.kind->name);
    if (name == QLatin1String("gain")) {
        chain.pushAlgo(new SoundAlgoScale(effect.value(0)));
    } else if (name == QLatin1String("lowshelf") || name == QLatin1String("highshelf")) {
        chain.pushAlgo(new SoundAlgoFilterBiquad(name == QLatin1String("lowshelf") ? SoundTools::LowShelf : SoundTools::HighShelf,
                                                 effect.value(0), effect.value(1), effect.value(2)));
    } else if (name == QLatin1String("lowpass") || name == QLatin1String("highpass")) {
        chain.pushAlgo(new SoundAlgoFilter(butterworth(name == QLatin1String("lowpass") ? SoundTools::LowPass : SoundTools::HighPass,
                                                       effect.value(0), int(effect.value(1)))));
    } else if (name == QLatin1String("bandpass") || name == QLatin1String("bandstop")) {
        const FilterType type = name == QLatin1String("bandpass") ? SoundTools::BandPass : SoundTools::BandStop;
        if (isFft(effect)) {
            const unsigned int size = unsigned(effect.flags[0]);
            chain.pushAlgo(new SoundAlgoEqFFT(type, effect.value(0), effect.value(1), size));
            chain.pushAlgo(new LeadAlgo(fftLag(size)));
        } else {
            // The filter declares its (L - 1)/2 frames of delay, and a
            // declared delay is a real one at the end of the chain.
            auto* filter = new SoundAlgoEqFIR(type, effect.value(0), effect.value(1));
            chain.pushAlgo(filter);
            chain.pushAlgo(new LeadAlgo((filter->getLength(sampleRate) - 1) / 2));
        }
    } else if (name == QLatin1String("crossover")) {
        chain.pushAlgo(new SoundAlgoFilterCrossover(effect.value(0)));
        chain.pushAlgo(new SoundAlgoSelectChannel(int(effect.value(1)), 2));
    } else if (name == QLatin1String("aweight")) {
        chain.pushAlgo(new SoundAlgoFilter(std::make_shared<SoundTools::WeightingFilterBuilder>()));
    } else if (name == QLatin1String("limit")) {
        chain.pushAlgo(new SoundAlgoLimiter(effect.value(0), effect.value(1), effect.value(2)));
    } else if (name == QLatin1String("gate")) {
        chain.pushAlgo(new SoundAlgoNoiseGate(effect.value(0), effect.value(1), effect.value(2)));
    } else if (name == QLatin1String("bassboost")) {
        chain.pushAlgo(effect.flags[0] > 0.0 ? SoundAlgoBassBoost::buildIntegrator(effect.value(0), effect.value(1))
                                             : SoundAlgoBassBoost::buildRectifier(effect.value(0), effect.value(1)));
    } else if (name == QLatin1String("multiband-scale")) {
        chain.pushAlgo(new SoundAlgoMultibandScale(effect.values[0], effect.values[1], SoundAlgoComposite::SplitBiquad));
    } else if (name == QLatin1String("agc")) {
        chain.pushAlgo(new SoundAlgoRMSAmplifier(effect.value(0), detector, kAgcRampSeconds, 0, kAgcRangeDb, effect.flags[0]));
    } else if (name == QLatin1String("multiband-agc")) {
        if (isFft(effect)) {
            const unsigned int size = unsigned(effect.flags[0]);
            chain.pushAlgo(new SoundAlgoFFTMultibandAmplifier(effect.values[0], effect.value(1), kBandLookAhead,
                                                              kBandRelease, detector, size, true));
            chain.pushAlgo(new LeadAlgo(fftLag(size)));
        } else {
            chain.pushAlgo(new SoundAlgoFilterMultibandAmplifier(effect.values[0], effect.value(1), kBandLookAhead,
                                                                 kBandRelease, kAgcRampSeconds, detector,
                                                                 SoundAlgoComposite::SplitBiquad, 0, kAgcRangeDb, {}));
        }
    } else if (name == QLatin1String("delay")) {
        chain.pushAlgo(new SoundAlgoDelay(effect.value(0), false));
    } else if (name == QLatin1String("preset")) {
        auto* equaliser = new SoundAlgoFilterBiquad();
        PlayerBands player;
        for (const auto& band : player.bands(unsigned(effect.value(0)))) {
            auto section = std::make_shared<SoundTools::BiquadEqBuilder>(band->type(), band->freq(), band->width(), band->gain());
            section->setQ(band->Q());
            equaliser->pushFilter(section);
        }
        chain.pushAlgo(equaliser);
    }
}

} // namespace

SoundAlgoComposite* buildChain(const std::vector<Effect>& effects, size_t count,
                               const std::vector<RMSStepDetector*>& detectors, unsigned int sampleRate, QString& error)
{
    if (!checkEffects(effects, sampleRate, error))
        return nullptr;
    auto* chain = new SoundAlgoComposite();
    for (size_t i = 0; i < count && i < effects.size(); ++i) {
        const Effect& effect = effects[i];
        if (QLatin1String(effect.kind->name) != QLatin1String("eq")) {
            pushEffect(*chain, effect, i < detectors.size() ? detectors[i] : nullptr, sampleRate);
            continue;
        }
        // Sections in a row make one parametric equaliser: one pass over
        // the block for all of them.
        auto* equaliser = new SoundAlgoFilterBiquad();
        for (; i < count && QLatin1String(effects[i].kind->name) == QLatin1String("eq"); ++i)
            equaliser->pushFilter(SoundTools::BandEq, effects[i].value(0), effects[i].value(1), effects[i].value(2));
        --i;
        chain->pushAlgo(equaliser);
    }
    return chain;
}

unsigned int chainTail(const std::vector<Effect>& effects, unsigned int sampleRate)
{
    unsigned int frames = 0;
    for (const Effect& effect : effects)
        if (QLatin1String(effect.kind->name) == QLatin1String("delay"))
            frames += unsigned(std::floor(sampleRate * effect.value(0) + 0.5));
    return frames;
}
