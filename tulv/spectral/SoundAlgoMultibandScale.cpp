#include "tulv/spectral/SoundAlgoMultibandScale.h"

#include "tulv/core/SoundAlgoElementary.h"

#include <QDebug>

FrequencyScaleBuilder::FrequencyScaleBuilder(std::vector<double> gainsDb)
    : gains(std::move(gainsDb))
{
}

void FrequencyScaleBuilder::buildAlgo(SoundAlgoComposite* owner, unsigned int band, const QString& name)
{
    if (!owner)
        return;
    if (band >= gains.size()) {
        qCritical().noquote() << "FrequencyScaleBuilder : no gain for band" << band << name << "of"
                              << gains.size() << "gains";
        return;
    }
    auto* scale = new SoundAlgoScale(gains[band]);
    scale->setId(name);
    owner->pushAlgo(scale);
}

SoundAlgoMultibandScale::SoundAlgoMultibandScale(const std::vector<double>& freqs, const std::vector<double>& gains,
                                                 SoundAlgoComposite::SplitterType splitter)
    : SoundAlgoComposite(QStringLiteral("SoundAlgoMultibandScale"), true)
{
    if (!freqs.empty() && gains.size() < freqs.size() + 1) {
        setBuildError(QStringLiteral("%1 gains for %2 bands").arg(gains.size()).arg(freqs.size() + 1));
        return;
    }
    FrequencyScaleBuilder builder(gains);
    recursiveBuildMultibandTree(freqs, 0, builder, splitter);
}

SoundAlgoMultibandScale::~SoundAlgoMultibandScale() = default;
