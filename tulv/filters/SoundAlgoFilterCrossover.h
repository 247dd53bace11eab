#ifndef TULV_FILTERS_SOUNDALGOFILTERCROSSOVER_H
#define TULV_FILTERS_SOUNDALGOFILTERCROSSOVER_H

#include "tulv/core/SoundAlgoComposite.h"

// Splits the sound at one frequency into a low band (output 0) and a high
// band (output 1), each a fourth-order Butterworth filter of the same input,
// each 3 dB down at the crossover frequency. The composite is closed once
// built: nothing can be added to it.
class SoundAlgoFilterCrossover : public SoundAlgoComposite {
    Q_OBJECT
public:
    explicit SoundAlgoFilterCrossover(double freq);

protected:
    ~SoundAlgoFilterCrossover() override;
};

#endif
