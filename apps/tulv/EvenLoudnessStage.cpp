#include "SplitJob.h"

#include <algorithm>

namespace {

// --even-loudness: how fast the gain may move from one track's level to the
// next (it moves in the gaps), how far a quiet track may be raised, and how
// far below the target the output may stay.
const double kAmplifierRampSeconds = 3.0;
const double kAmplifierMaxGainDb = 20.0;
const double kAmplifierRangeDb = 20.0;

} // namespace

SoundAlgo* buildEvenLoudnessStage(RMSStepDetector* detector, double targetDb)
{
    auto* chain = new SoundAlgoComposite();
    chain->pushAlgo(new SoundAlgoRMSAmplifier(targetDb, detector, kAmplifierRampSeconds, 0, kAmplifierRangeDb, kAmplifierMaxGainDb));
    // The gain may lift a peak over full scale: the limiter catches it.
    chain->pushAlgo(buildLimiter(0.0));
    return chain;
}

double evenLoudnessGainDb(double loudestDb, double targetDb)
{
    return std::min(kAmplifierMaxGainDb, targetDb - loudestDb);
}
