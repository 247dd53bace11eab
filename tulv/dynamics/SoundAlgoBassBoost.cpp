#include "tulv/dynamics/SoundAlgoBassBoost.h"

#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/dynamics/SoundAlgoFWIntegrator.h"
#include "tulv/dynamics/SoundAlgoLimiter.h"
#include "tulv/dynamics/SoundAlgoNoiseGate.h"
#include "tulv/filters/OrderFilterBuilders.h"
#include "tulv/filters/SoundAlgoFilter.h"

#include <memory>

namespace {

// The share of the level given back as make-up gain after the high band has
// been lowered by the whole level.
constexpr double kMakeUpShare = 0.6;
// The limiter reacts within 5 ms and lets go over 10 ms: fast enough for the
// attacks of bass notes.
constexpr double kLimiterLookAhead = 0.005; // s
constexpr double kLimiterRelease = 0.01; // s
// The sawtooth is only synthesised while the low band is audible: below
// -35 dB over 0.1 s the gate shuts it within 5 ms.
constexpr double kGateThreshold = -35.0; // dB
constexpr double kGateRelease = 0.005; // s
constexpr double kGateWindow = 0.1; // s
// The low shelf sits a quarter below the crossover.
constexpr double kShelfRatio = 0.75;

SoundAlgo* order4(SoundTools::FilterType type, double frequency)
{
    return new SoundAlgoFilter(std::make_shared<SoundTools::Order4FilterBuilder>(type, frequency));
}

} // namespace

SoundAlgoBassBoost::SoundAlgoBassBoost(double level, double crossover, double harmonicsLowPass,
                                       double harmonicsFactor, bool integrator)
{
    auto* bands = new SoundAlgoComposite(QStringLiteral("BassBoost"));

    bands->pushAlgo(order4(SoundTools::LowPass, crossover));
    if (integrator) {
        auto* harmonics = new SoundAlgoComposite();
        harmonics->pushAlgo(new SoundAlgoNoiseGate(kGateThreshold, kGateRelease, kGateWindow));
        harmonics->pushAlgo(new SoundAlgoFWIntegrator(harmonicsFactor));
        harmonics->addNewBranch();
        harmonics->pushAlgo(new SoundAlgoBypass());
        bands->pushAlgo(harmonics);
        bands->pushAlgo(new SoundAlgoAdd(2, true));
    } else {
        bands->pushAlgo(new SoundAlgoAbs(true, harmonicsFactor));
    }
    bands->pushAlgo(order4(SoundTools::LowPass, harmonicsLowPass));
    bands->pushAlgo(order4(SoundTools::LowShelf, kShelfRatio * crossover));

    bands->addNewBranch();
    bands->pushAlgo(order4(SoundTools::HighPass, crossover));
    bands->pushAlgo(new SoundAlgoScale(-level));

    pushAlgo(bands);
    pushAlgo(new SoundAlgoAdd(2, true));
    pushAlgo(new SoundAlgoLimiter(kMakeUpShare * level, kLimiterLookAhead, kLimiterRelease, nullptr));
}

SoundAlgoBassBoost* SoundAlgoBassBoost::buildIntegrator(double level, double frequency)
{
    return new SoundAlgoBassBoost(level, frequency, 2.0 * frequency, 0.1, true);
}

SoundAlgoBassBoost* SoundAlgoBassBoost::buildRectifier(double level, double frequency)
{
    return new SoundAlgoBassBoost(level, frequency, 2.0 * frequency, 0.5, false);
}
