#include "tulv/playback/SoundPlayer.h"

#include "tulv/core/SoundAlgoComposite.h"

namespace {
const double kBandFreqs[] = { 60, 120, 250, 500, 1000, 2000, 4000, 8000, 15000 };
constexpr double kBandWidth = 1.9; // octaves: neighbouring bands overlap a little
constexpr double kBassBoostFreq = 150.0;
constexpr double kBassBoostWidth = 0.5;
constexpr double kBassBoostGain = 8.0;

std::shared_ptr<SoundTools::BiquadEqBuilder> newBassBoost()
{
    auto b = std::make_shared<SoundTools::BiquadEqBuilder>(SoundTools::BandEq, kBassBoostFreq, kBassBoostWidth,
                                                            kBassBoostGain);
    b->setQ(0.0);
    return b;
}
} // namespace

SoundPlayer::SoundPlayer(std::shared_ptr<SoundReader> reader, SoundAlgo* algorithm, bool defaultEqualizer)
    : mEqualizer(new SoundAlgoFilter())
{
    if (reader)
        mDevice = new SoundAlgoDevice(std::move(reader), algorithm);
    if (defaultEqualizer)
        buildDefaultEqualizer();
}

SoundPlayer::~SoundPlayer()
{
    delete mDevice;
    mEqualizer->release();
}

void SoundPlayer::buildDefaultEqualizer()
{
    std::vector<std::shared_ptr<SoundTools::BiquadEqBuilder>> bands;
    for (double hz : kBandFreqs) {
        auto b = std::make_shared<SoundTools::BiquadEqBuilder>(SoundTools::BandEq, hz, kBandWidth, 0.0);
        b->setQ(0.0);
        bands.push_back(b);
    }
    setEqualizer(bands);
    mPresets = {
        { QStringLiteral("Flat"), { 0, 0, 0, 0, 0, 0, 0, 0, 0 } },
        { QStringLiteral("Standard"), { 4, 4, 2, 0, 0, 0, 2, 4, 4 } },
        { QStringLiteral("Treble"), { 0, 0, 0, 0, 0, 0, 3, 4, 5 } },
        { QStringLiteral("Bass"), { 4, 5, 4, 2, 0, 0, 0, 0, 0 } },
        { QStringLiteral("Classical"), { 4, 3, 3, -1, -1, 0, 2, 3, 4 } },
        { QStringLiteral("Dance"), { 6, 5, 0, 1, 3, 5, 4, 3, 0 } },
        { QStringLiteral("Electronic"), { 5, 2, 0, -2, 3, 1, 2, 3, 4 } },
        { QStringLiteral("Folk"), { 4, 3, 1, 2, 2, 3, 3.5, 3, 2 } },
        { QStringLiteral("Hip_Hop"), { 5, 2, 3, -1, -1, 1, 0, 2, 3 } },
        { QStringLiteral("Jazz"), { 3, 2, 2.5, -1, -1, 0, 1, 3, 4 } },
        { QStringLiteral("Loudness"), { 5, 4, 3, -1, -1, -1, 3, 4, 5 } },
        { QStringLiteral("Metal"), { 5, 3, 1, 0, 2, 0, 1, 3, 5 } },
        { QStringLiteral("Pop"), { -1, 0, 2, 4, 4, 2, 0, -1, -2 } },
        { QStringLiteral("Rock"), { 4, 3, 2, 0, -1, 0, 2, 3, 4 } },
    };
    rebuildFilter();
}

void SoundPlayer::setEqualizer(const std::vector<std::shared_ptr<SoundTools::BiquadEqBuilder>>& bands)
{
    mBands = bands;
    mBands.push_back(newBassBoost());
}

int SoundPlayer::lastFilterRank() const
{
    return static_cast<int>(mBands.size()) - (mBassBoostOn ? 1 : 2);
}

std::shared_ptr<SoundTools::Filter> SoundPlayer::makeFilter(unsigned int band)
{
    if (static_cast<int>(band) == lastFilterRank())
        return mBands[band]->buildClipFilter(sampleRate(), mOutputGain);
    return mBands[band]->buildFilter(sampleRate());
}

void SoundPlayer::buildFilter(unsigned int band)
{
    if (band < mBands.size())
        mEqualizer->addFilter(makeFilter(band));
}

void SoundPlayer::rebuildFilter()
{
    mEqualizer->clearFilters();
    if (mBands.empty())
        return;
    const size_t first = mEqOn ? 0 : mBands.size() - 1;
    const size_t end = mBassBoostOn ? mBands.size() : mBands.size() - 1;
    for (size_t band = first; band < end; ++band)
        buildFilter(static_cast<unsigned int>(band));
}

void SoundPlayer::replaceFilter(unsigned int band, bool resetGain)
{
    if (!mEqOn || static_cast<int>(band) > lastFilterRank())
        return;
    if (static_cast<int>(band) == lastFilterRank()) {
        if (resetGain)
            mOutputGain = 1.0;
        mEqualizer->setFilter(band, makeFilter(band));
        return;
    }
    mEqualizer->setFilter(band, makeFilter(band));
    if (resetGain) {
        // A lower band may have let the clip filter lower the gain for peaks
        // that are gone now: the gain starts again from unity.
        mEqualizer->resetFilterGain(static_cast<unsigned int>(lastFilterRank()));
        mOutputGain = 1.0;
    }
}

void SoundPlayer::switchEq(bool on)
{
    mEqOn = on;
    rebuildFilter();
}

void SoundPlayer::switchBassBoost(bool on)
{
    mBassBoostOn = on;
    rebuildFilter();
}

void SoundPlayer::setEqLevel(unsigned int band, double gainDb)
{
    if (band >= mBands.size())
        return;
    const bool lower = gainDb < mBands[band]->gain();
    mBands[band]->setGain(gainDb);
    replaceFilter(band, lower);
}

void SoundPlayer::setEqFreq(unsigned int band, double hz)
{
    if (band >= mBands.size())
        return;
    mBands[band]->setFreq(hz);
    replaceFilter(band, true);
}

void SoundPlayer::setEqWidth(unsigned int band, double width)
{
    if (band >= mBands.size())
        return;
    mBands[band]->setWidth(width);
    replaceFilter(band, true);
}

unsigned int SoundPlayer::getEqBandNumber()
{
    return mBands.empty() ? 0 : static_cast<unsigned int>(mBands.size() - 1);
}

double SoundPlayer::getEqBandFreq(unsigned int band)
{
    return band < mBands.size() ? mBands[band]->freq() : 0.0;
}

double SoundPlayer::getEqBandLevel(unsigned int band)
{
    return band < mBands.size() ? mBands[band]->gain() : 0.0;
}

bool SoundPlayer::hasEqualizer()
{
    return mBands.size() > 1;
}

bool SoundPlayer::hasBassBoost()
{
    return !mBands.empty();
}

QStringList SoundPlayer::getEqPresets()
{
    QStringList names;
    for (const Preset& p : mPresets)
        names << p.name;
    return names;
}

void SoundPlayer::setEqPreset(unsigned int index)
{
    if (mBands.size() <= 1 || index >= mPresets.size() || mPresets[index].gains.size() < mBands.size() - 1)
        return;
    for (size_t band = 0; band + 1 < mBands.size(); ++band)
        mBands[band]->setGain(mPresets[index].gains[band]);
    switchEq(mEqualizer->hasFilters());
}

void SoundPlayer::setEqGain(double gain)
{
    if (mBands.empty())
        return;
    mOutputGain = gain;
    if (mEqOn && lastFilterRank() >= 0)
        mEqualizer->setFilter(static_cast<unsigned int>(lastFilterRank()), makeFilter(lastFilterRank()));
}

double SoundPlayer::getEqGain()
{
    if (mBands.empty())
        return mOutputGain;
    const int last = lastFilterRank();
    // Without the equaliser the chain holds at most the bass-boost filter.
    const int index = mEqOn ? last : 0;
    if (last < 0 || !mEqualizer->hasFilters())
        return 1.0;
    return mEqualizer->getFilterGain(static_cast<unsigned int>(index));
}

void SoundPlayer::setAmpLevel(double levelDb)
{
    if (!mDevice || !mAmplifier)
        return;
    mDevice->lockAlgo();
    mAmplifier->setLevel(levelDb);
    mDevice->unlockAlgo();
}

void SoundPlayer::setGateLevel(double threshold)
{
    if (!mDevice || !mGate)
        return;
    mDevice->lockAlgo();
    mGate->SetThreshold(threshold);
    mDevice->unlockAlgo();
}

void SoundPlayer::setPostProcessingChain(SoundAlgo* chain)
{
    if (!mDevice) {
        if (chain)
            chain->release();
        return;
    }
    mEqualizer->addRef();
    if (!chain) {
        mDevice->setPostProcessingChain(mEqualizer);
        return;
    }
    SoundAlgoComposite* composite = dynamic_cast<SoundAlgoComposite*>(chain);
    if (!composite) {
        composite = new SoundAlgoComposite(QStringLiteral("PostProcessing"), true);
        composite->pushAlgo(chain);
    }
    composite->pushAlgoFront(mEqualizer);
    mDevice->setPostProcessingChain(composite);
}
