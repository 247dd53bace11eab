#ifndef TULV_PLAYBACK_SOUNDPLAYER_H
#define TULV_PLAYBACK_SOUNDPLAYER_H

#include "tulv/dynamics/SoundAlgoAmpliInterface.h"
#include "tulv/dynamics/SoundAlgoNoiseGate.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/SoundAlgoFilter.h"
#include "tulv/playback/SoundAlgoDevice.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

// The player a host drives: a processing device for one reader and one
// algorithm, and a graphic equaliser (bands, then always one bass-boost
// band) with named presets, run as post-processing. The last active filter
// is a clip filter that carries the output gain and lowers it when the
// output would clip. Setters run on the host's thread; filters are swapped
// under the equaliser's lock while the post-processing thread filters.
class SoundPlayer : public QObject {
    Q_OBJECT
public:
    struct Preset {
        QString name;
        std::vector<double> gains; // dB, one per band, in band order
    };

    // A null reader gives a player without device (for its equaliser only).
    SoundPlayer(std::shared_ptr<SoundReader> reader, SoundAlgo* algorithm, bool defaultEqualizer);
    ~SoundPlayer() override;

    virtual void preload() = 0;
    virtual void start() = 0;
    virtual void stop() = 0;

    virtual void switchEq(bool on);
    virtual void setEqLevel(unsigned int band, double gainDb);
    virtual void setEqFreq(unsigned int band, double hz);
    // In octaves.
    virtual void setEqWidth(unsigned int band, double width);
    // Bands without the bass-boost band.
    virtual unsigned int getEqBandNumber();
    // The ± range in dB offered to a user interface.
    virtual double getEqBandRange() { return 8.0; }
    virtual double getEqBandFreq(unsigned int band);
    virtual double getEqBandLevel(unsigned int band);
    virtual bool hasEqualizer();
    virtual bool hasBassBoost();
    virtual void switchBassBoost(bool on);
    virtual QStringList getEqPresets();
    // Linear.
    virtual void setEqGain(double gain);
    // The gain the last filter applies now, clip avoidance included.
    virtual double getEqGain();
    // An index beyond the presets, or a preset with fewer gains than bands,
    // is ignored.
    virtual void setEqPreset(unsigned int index);

    void buildDefaultEqualizer();
    void setEqualizer(const std::vector<std::shared_ptr<SoundTools::BiquadEqBuilder>>& bands);
    void setEqualizerPresets(const std::vector<Preset>& presets) { mPresets = presets; }
    void setAmplifier(SoundAlgoAmpliInterface* amplifier) { mAmplifier = amplifier; }
    void setNoiseGate(SoundAlgoNoiseGate* gate) { mGate = gate; }
    void setAmpLevel(double levelDb);
    void setGateLevel(double threshold);
    // Takes over the caller's reference; the equaliser runs in front of it.
    // Call once, with null when the host has no post-processing of its own.
    void setPostProcessingChain(SoundAlgo* chain);

    SoundAlgoDevice* getDevice() const { return mDevice; }
    SoundReader* getReader() const { return mDevice ? mDevice->getReader() : nullptr; }
    bool isStopped() const { return mStopped.load(); }

Q_SIGNALS:
    // For hosts; the library does not emit it.
    void playingStarting();
    void playerLoaded();
    void playingStarted();
    void playingHasFinished(bool complete);
    void playingProgress(double seconds);

public Q_SLOTS:
    virtual void endOfData() = 0;

protected:
    int lastFilterRank() const;
    void buildFilter(unsigned int band);
    void rebuildFilter();
    void replaceFilter(unsigned int band, bool resetGain);
    unsigned int sampleRate() const { return mDevice ? mDevice->getSampleRate() : 44100; }
    std::shared_ptr<SoundTools::Filter> makeFilter(unsigned int band);

    int mNotifyCount = 0;
    SoundAlgoDevice* mDevice = nullptr;
    std::atomic<bool> mStopped { true };
    bool mEqOn = false;
    bool mBassBoostOn = false;
    double mOutputGain = 1.0;
    std::vector<Preset> mPresets;
    SoundAlgoAmpliInterface* mAmplifier = nullptr;
    SoundAlgoNoiseGate* mGate = nullptr;
    SoundAlgoFilter* mEqualizer;
    std::vector<std::shared_ptr<SoundTools::BiquadEqBuilder>> mBands;
};

#endif
