#ifndef TULV_SPECTRAL_SOUNDALGOFFTTRANSLATE_H
#define TULV_SPECTRAL_SOUNDALGOFFTTRANSLATE_H

#include "tulv/spectral/SoundAlgoFFT.h"

// Moves every spectrum up (shift > 0) or down by a whole number of bins;
// bins emptied by the move become 0, DC and the top bin stay as they are.
class SoundAlgoFFTTranslate : public SoundAlgoFFT {
public:
    explicit SoundAlgoFFTTranslate(int shift);
    SoundTools::Status process() override;

protected:
    ~SoundAlgoFFTTranslate() override;

private:
    int shift;
};

#endif
