#ifndef TULV_FILTERS_SOUNDALGOFILTERSPLIT_H
#define TULV_FILTERS_SOUNDALGOFILTERSPLIT_H

#include "tulv/filters/SoundAlgoFilter.h"

// A filter with a second output carrying the complementary band: output 0
// is the filtered sound, output 1 the input (times the last stage's gain)
// minus output 0, so the two add up to the input.
class SoundAlgoFilterSplit : public SoundAlgoFilter {
    Q_OBJECT
public:
    SoundAlgoFilterSplit();
    explicit SoundAlgoFilterSplit(std::shared_ptr<SoundTools::FilterBuilder> builder);

    SoundTools::Status process() override;

protected:
    ~SoundAlgoFilterSplit() override;
    unsigned int getOutputNumber() const override { return 2; }
};

#endif
