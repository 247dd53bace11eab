#ifndef TULV_FILTERS_SOUNDALGOFILTERCROSSOVER_H
#define TULV_FILTERS_SOUNDALGOFILTERCROSSOVER_H

#include "tulv/core/SoundAlgoComposite.h"

class SoundAlgoFilter;

// Splits the sound at one frequency into a low band (output 0) and a high
// band (output 1), each a fourth-order Butterworth filter of the same input,
// each 3 dB down at the crossover frequency. The composite is closed once
// built: nothing can be added to it.
class SoundAlgoFilterCrossover : public SoundAlgoComposite {
    Q_OBJECT
public:
    explicit SoundAlgoFilterCrossover(double freq);

    // Both bands in one pass over the block: the same frames as running the
    // two filters one after the other, in about half the time.
    SoundTools::Status process() override;

protected:
    ~SoundAlgoFilterCrossover() override;

private:
    // The members, owned by the composite.
    SoundAlgoFilter* mLow = nullptr;
    SoundAlgoFilter* mHigh = nullptr;
};

#endif
