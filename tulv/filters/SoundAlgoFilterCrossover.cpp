#include "tulv/filters/SoundAlgoFilterCrossover.h"

#include "tulv/filters/OrderFilterBuilders.h"
#include "tulv/filters/SoundAlgoFilter.h"

SoundAlgoFilterCrossover::SoundAlgoFilterCrossover(double freq)
    : SoundAlgoComposite(QString(), true)
{
    pushAlgo(new SoundAlgoFilter(std::make_shared<SoundTools::Order4FilterBuilder>(SoundTools::LowPass, freq)));
    addNewBranch();
    pushAlgo(new SoundAlgoFilter(std::make_shared<SoundTools::Order4FilterBuilder>(SoundTools::HighPass, freq)));
    setReadOnly();
}

SoundAlgoFilterCrossover::~SoundAlgoFilterCrossover() = default;
