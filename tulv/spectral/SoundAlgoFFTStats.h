#ifndef TULV_SPECTRAL_SOUNDALGOFFTSTATS_H
#define TULV_SPECTRAL_SOUNDALGOFFTSTATS_H

#include "tulv/spectral/SoundAlgoFFT.h"

#include <QJsonObject>

#include <vector>

// The long-term average power spectrum of a stream: the mean over all
// spectra of both channels of (re/N)² + (im/N)² per bin. Transparent: the
// spectra pass through unchanged. The sums become means when the run ends
// and are not cleared by another run: one object measures one stream.
class SoundAlgoFFTStats : public SoundAlgoFFT {
public:
    SoundAlgoFFTStats();

    // k·fs/N per bin.
    std::vector<double> getFrequencies() const;
    // 20·log10 of the root of each bin's mean power; −100 dB for silence.
    std::vector<double> getStats() const;
    // Levels of edges.size() + 1 bands, in dB relative to the loudest band:
    // band i holds the bins at or below edges[i] (Hz, ascending) that no
    // earlier band took, the last one every bin above the last edge.
    std::vector<double> getStats(const std::vector<double>& edges) const;
    double getStatCount() const { return statCount; }

    // Null unless "Class" is "SoundAlgoFFTStats" and the object holds values.
    static SoundAlgoFFTStats* createFromJSon(QJsonObject object);

    SoundTools::Status process() override;
    void writeToJSon(QJsonObject& object) const override;

protected:
    ~SoundAlgoFFTStats() override;

    SoundTools::Status onInitInputBuffer() override;
    void endProcess(int status, unsigned int frameNBProcessed) override;
    bool readFromJSon(QJsonObject& object) override;

private:
    std::vector<double> powerSums;
    double statCount = 0.0;
};

#endif
