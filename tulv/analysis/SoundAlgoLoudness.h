#ifndef TULV_ANALYSIS_SOUNDALGOLOUDNESS_H
#define TULV_ANALYSIS_SOUNDALGOLOUDNESS_H

#include "tulv/core/SoundAlgo.h"

#include <limits>
#include <memory>
#include <vector>

// Measures the loudness of the stream that runs through it, as EBU R 128 and
// ITU-R BS.1770 define it (through libebur128): integrated loudness in LUFS,
// loudness range in LU, true peak in dBTP (4x oversampled) and sample peak in
// dBFS. The output is the input unchanged, so the meter can sit anywhere in a
// chain.
//
// A mono recording reaches the graph with its one channel on both sides;
// measured as stereo it would read 3 LU too loud, so `channels` = 1 measures
// the left side alone, as the mono file it came from.
//
// A run over a source of known length is measured exactly; a live source of
// unknown length is measured with 0.1 dB histogram bins (within 0.05 LU) so
// that memory stays fixed however long it plays.
//
// Only the frames of the source count: the zeros the loop pads the end with
// are not measured. The figures are fixed when the run ends and stay readable
// until the next run. Used by the thread that runs the graph, read afterwards.
class SoundAlgoLoudness : public SoundAlgo {
    Q_OBJECT
public:
    // What is reported below the absolute gate (silence, or too short a run):
    // loudness has no finite value there.
    static constexpr double kSilence = -std::numeric_limits<double>::infinity();

    // `channels`: 1 for a mono source, otherwise 2.
    explicit SoundAlgoLoudness(unsigned int channels = 2);

    // LUFS over the whole run, gated; kSilence when no block passed the gate.
    double getIntegratedLoudness() const { return mIntegrated; }
    // LU, spread of the short-term loudness; 0 for a run too short to tell.
    double getLoudnessRange() const { return mRange; }
    // dBTP, the higher channel; kSilence for digital silence.
    double getTruePeak() const { return mTruePeak; }
    // dBFS, the higher channel; kSilence for digital silence.
    double getSamplePeak() const { return mSamplePeak; }
    // Frames of the source measured in the last run.
    unsigned long long getCount() const { return mCount; }

    // The integrated loudness of several runs taken as one programme (the
    // album of a set of tracks), gated over all their blocks together; null
    // entries are skipped. kSilence when nothing passed the gate.
    static double getIntegratedLoudness(const std::vector<const SoundAlgoLoudness*>& meters);

    SoundTools::Status process() override;

protected:
    ~SoundAlgoLoudness() override;

    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;
    void endProcess(int status, unsigned int frameNBProcessed) override;

private:
    class PeakMeter;
    void freeState();

    unsigned int mChannels;
    // The libebur128 meter of the run (its type is an anonymous struct
    // that cannot be declared here); null before the first run. It sees
    // every frame for the loudness and the sample peak; the true peak has a
    // meter of its own, which sees only the frames that can raise it.
    void* mState = nullptr;
    std::unique_ptr<PeakMeter> mPeak;
    // Left samples of one block for a mono measurement; sized at initProcess.
    std::vector<double> mMono;
    unsigned long long mCount = 0;
    double mIntegrated = kSilence; // LUFS
    double mRange = 0.0; // LU
    double mTruePeak = kSilence; // dBTP
    double mSamplePeak = kSilence; // dBFS
    long long mSourceBegin = 0;
    long long mSourceEnd = 0;
};

#endif
