// The multiband tree of SoundAlgoComposite. It is built from the filter
// algorithms, which sit above the core, so it lives here beside them: the
// core declares the operation and never includes a filter header.
#include "tulv/core/SoundAlgoComposite.h"

#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/OrderFilterBuilders.h"
#include "tulv/filters/SoundAlgoFilterCrossover.h"
#include "tulv/filters/SoundAlgoFilterSplit.h"

#include <cmath>

namespace {

// The upper label of the top band: the band names are the same whatever the
// sample rate of the run.
constexpr int kTopBandLabel = 22050;
// Octaves of the complementary biquad split: a gentle low pass whose
// complement is the high band.
constexpr double kBiquadSplitWidth = 1.9;

QString bandName(int low, int high)
{
    return QStringLiteral("[%1-%2]").arg(low).arg(high);
}

// Why `freqs` and `type` cannot make a tree, or an empty string.
QString treeFault(const std::vector<double>& freqs, unsigned int index, int type)
{
    if (type < SoundAlgoComposite::SplitOrder1 || type > SoundAlgoComposite::SplitCrossover)
        return QStringLiteral("unknown splitter type %1").arg(type);
    if (!freqs.empty() && index >= freqs.size())
        return QStringLiteral("band %1 is past the %2 crossover frequencies").arg(index).arg(freqs.size());
    return QString();
}

SoundAlgo* makeSplitter(double freq, SoundAlgoComposite::SplitterType type)
{
    switch (type) {
    case SoundAlgoComposite::SplitOrder1:
        return new SoundAlgoFilterSplit(std::make_shared<SoundTools::Order1FilterBuilder>(SoundTools::LowPass, freq));
    case SoundAlgoComposite::SplitBiquad:
        return new SoundAlgoFilterSplit(
            std::make_shared<SoundTools::BiquadEqBuilder>(SoundTools::LowPass, freq, kBiquadSplitWidth, 0.0));
    case SoundAlgoComposite::SplitCrossover:
        return new SoundAlgoFilterCrossover(freq);
    }
    return nullptr;
}

} // namespace

QString SoundAlgoComposite::multibandFrequencyFault(const std::vector<double>& freqs)
{
    if (freqs.empty())
        return QStringLiteral("a multiband algorithm needs at least one crossover frequency");
    for (size_t i = 0; i < freqs.size(); ++i) {
        // A band below zero or between two equal frequencies would be empty,
        // and a split at NaN would filter nothing it could name.
        if (!std::isfinite(freqs[i]) || freqs[i] <= 0.0)
            return QStringLiteral("crossover frequency %1 Hz is not above 0").arg(freqs[i]);
        if (i > 0 && !(freqs[i] > freqs[i - 1]))
            return QStringLiteral("crossover frequencies must ascend: %1 Hz follows %2 Hz")
                .arg(freqs[i])
                .arg(freqs[i - 1]);
    }
    return QString();
}

void SoundAlgoComposite::buildMultibandTree(const std::vector<double>& freqs, FrequencyAlgoBuilder& builder,
                                            SplitterType type)
{
    recursiveBuildMultibandTree(freqs, 0, builder, type);
}

void SoundAlgoComposite::recursiveBuildMultibandTree(const std::vector<double>& freqs, unsigned int index,
                                                     FrequencyAlgoBuilder& builder, SplitterType type)
{
    // Checked before anything is pushed, so that a refused tree leaves the
    // composite as it was.
    QString fault = treeFault(freqs, index, type);
    if (fault.isEmpty())
        fault = multibandFrequencyFault(freqs);
    if (!fault.isEmpty()) {
        setBuildError(fault);
        return;
    }
    const int f = static_cast<int>(freqs[index]);
    const int fp = index == 0 ? 0 : static_cast<int>(freqs[index - 1]);
    const QString name = bandName(fp, f);

    SoundAlgo* splitter = makeSplitter(freqs[index], type);
    splitter->setId(name);
    pushAlgo(splitter);
    // The splitter's two outputs feed one branch each: the band, then the rest.
    auto* sub = new SoundAlgoComposite(name, false);
    pushAlgo(sub);
    auto* add = new SoundAlgoAdd(2, true, nullptr);
    add->setId(name);
    pushAlgo(add);

    builder.buildAlgo(sub, index, name);
    if (sub->isEmpty())
        setBuildError(QStringLiteral("band %1 %2 was given nothing to process").arg(index).arg(name));
    sub->addNewBranch();
    if (index + 1 < freqs.size()) {
        sub->recursiveBuildMultibandTree(freqs, index + 1, builder, type);
    } else {
        builder.buildAlgo(sub, index + 1, bandName(f, kTopBandLabel));
        if (sub->mBranches.size() < 2 || sub->mBranches.back().empty())
            setBuildError(QStringLiteral("band %1 %2 was given nothing to process")
                              .arg(index + 1)
                              .arg(bandName(f, kTopBandLabel)));
    }
    // A failure deeper in the tree is this tree's failure too.
    // (already logged where it happened).
    if (sub->hasBuildError() && !hasBuildError())
        mBuildError = sub->mBuildError;
}
