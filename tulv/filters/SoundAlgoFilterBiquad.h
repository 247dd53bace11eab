#ifndef TULV_FILTERS_SOUNDALGOFILTERBIQUAD_H
#define TULV_FILTERS_SOUNDALGOFILTERBIQUAD_H

#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/SoundAlgoFilter.h"

// A parametric equaliser: a cascade of biquad sections whose frequency,
// level and width can be changed section by section, also while a run goes
// on (the changed section restarts from silence).
class SoundAlgoFilterBiquad : public SoundAlgoFilter {
    Q_OBJECT
public:
    SoundAlgoFilterBiquad();
    SoundAlgoFilterBiquad(SoundTools::FilterType type, double freq, double width, double gain);

    using SoundAlgoFilter::pushFilter;
    void pushFilter(SoundTools::FilterType type, double freq, double width, double gain);

    // Each changes section i's design and rebuilds it at once; an index out
    // of range or a section not designed by a BiquadEqBuilder is ignored.
    void SetFreq(unsigned int i, double freq);
    void SetLevel(unsigned int i, double gainDb);
    void SetWidth(unsigned int i, double width);

protected:
    ~SoundAlgoFilterBiquad() override;

private:
    SoundTools::BiquadEqBuilder* section(unsigned int i) const;
};

#endif
