#include "SplitJob.h"

namespace {

// --even-loudness: how fast the gain may move between regions, how far a
// quiet region may be raised, and how deep below the target a region may
// stay (a deliberate quiet passage is not dragged up to full level).
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
