#ifndef TULV_TESTS_SUPPORT_SPLITSIGNALS_H
#define TULV_TESTS_SUPPORT_SPLITSIGNALS_H

// Synthesized record sides for track splitting: tracks of music-like sound
// (a melody, a bass line and a pad of harmonic tones with envelopes, and
// percussive noise bursts) separated by gaps of surface noise with clicks,
// with lead-in and lead-out noise, and the true boundaries of every track.
//
// A side is a pure function of its description: the same SideSpec always
// gives the same samples, whether rendered whole (synthesizeSide) or block by
// block (SideSynth, SideReader), so a long side costs no memory.

#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/io/SoundReader.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace splitsignals {

struct TrackSpec {
    double seconds = 30.0;  // from the first note to the end of the fade-out
    double levelDb = -16.0; // RMS of the body, dBFS (mean of both channels)
    // A quiet passage inside the track (pianissimo); none when its length is 0.
    double quietAtSeconds = 0.0; // from the track's start
    double quietSeconds = 0.0;
    double quietLevelDb = -40.0; // RMS during the passage, dBFS
    // Linear fades of the amplitude from and to zero at the ends of the track.
    double fadeInSeconds = 0.0;
    double fadeOutSeconds = 0.0;
    // Without a fade-out the last notes ring out: 40 dB of decay over this.
    double releaseSeconds = 0.4;
};

// A short burst of noise (a thump, a needle drop) at an absolute time.
struct BurstSpec {
    double atSeconds = 0.0;
    double seconds = 0.5;
    double levelDb = -30.0; // RMS, dBFS
};

struct SideSpec {
    unsigned int sampleRate = 44100;
    double digitalSilenceSeconds = 0.0; // exact zeros before the lead-in
    double leadInSeconds = 2.5;         // surface noise before the first track
    std::vector<TrackSpec> tracks;
    // Surface noise between track i and track i+1; missing entries are 3 s.
    std::vector<double> gapSeconds;
    double leadOutSeconds = 5.0;
    double surfaceNoiseDb = -58.0; // RMS of the hiss, under the music too
    double clicksPerSecond = 4.0;
    double clickPeakMinDb = -52.0;
    double clickPeakMaxDb = -44.0;
    std::vector<BurstSpec> bursts;
    uint64_t seed = 1;
    double channelGain[2] = { 1.0, 1.0 }; // 0: a dead channel
};

// Frame ranges [begin, end), absolute.
struct Span {
    int begin = 0;
    int end = 0;
};

struct SideTruth {
    int frames = 0;
    std::vector<Span> tracks; // first note to last sound (the end of a fade)
    std::vector<Span> quietPassages;
    std::vector<Span> bursts;
};

// The side as a stream: renders consecutive frames on demand.
class SideSynth {
public:
    explicit SideSynth(SideSpec layout);
    ~SideSynth();
    SideSynth(const SideSynth&) = delete;
    SideSynth& operator=(const SideSynth&) = delete;

    const SideSpec& layout() const { return mSpec; }
    const SideTruth& truth() const { return mTruth; }
    // Renders the next `count` frames (interleaved stereo) and returns how
    // many there were before the end of the side.
    unsigned int render(unsigned int count, double* interleaved);
    void restart();
    int position() const { return mPosition; }

private:
    struct State;
    SideSpec mSpec;
    SideTruth mTruth;
    std::unique_ptr<State> mState;
    int mPosition = 0;
};

struct Side {
    SideSpec layout;
    SideTruth truth;
    std::vector<double> samples; // interleaved stereo
};

// Renders the whole side in memory.
Side synthesizeSide(const SideSpec& layout);

// Four tracks: a plain one, one with a quiet passage 20 dB down, one followed
// by a gap holding a short noise burst, and a last one ending in a slow
// fade-out into the lead-out noise.
SideSpec typicalSide();

// Reads a side without holding it: any length at constant memory.
class SideReader : public SoundReader {
public:
    explicit SideReader(const SideSpec& layout);

    SoundTools::Status open(QString fileName) override;
    void close() override {}
    unsigned int getFrameNB() const override { return static_cast<unsigned int>(mSynth.truth().frames); }
    unsigned int getSampleRate() const override { return mSynth.layout().sampleRate; }
    void rewind() override;
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Float64; }
    const SideTruth& truth() const { return mSynth.truth(); }

protected:
    unsigned int read(unsigned int count, double* dest) override;

private:
    SideSynth mSynth;
};

// Writes interleaved frames to a 16-bit PCM WAV file chunk by chunk, without
// the library's writers (for preparing inputs and for peer tools).
class WavFileSink {
public:
    WavFileSink(const std::string& path, unsigned int sampleRate);
    ~WavFileSink();
    bool ok() const { return mFile != nullptr; }
    void write(const double* interleaved, unsigned int frames);
    void finish();

private:
    std::FILE* mFile = nullptr;
    unsigned int mRate;
    uint64_t mFrames = 0;
    std::vector<int16_t> mScratch;
};

// Renders a side to a 16-bit WAV file at constant memory.
bool writeSideWav(const SideSpec& layout, const std::string& path);

// Owning handle for algorithms, which are released rather than deleted.
struct ReleaseAlgo {
    void operator()(SoundAlgo* algo) const;
};
using DetectorPtr = std::unique_ptr<RMSStepDetector, ReleaseAlgo>;

// A detector holding `regions`, built through its JSON form as a host would
// restore one.
DetectorPtr detectorFromRegions(const std::vector<RMSStepDetector::Region>& regions, unsigned int sampleRate,
                                bool realTimeMode = false, double noiseThresholdDb = -40.0);

// The settings of a track split, with the values that suit a record side.
struct SplitSettings {
    double noiseThresholdDb = -40.0; // detector's first classification, relative
    double rmsSeconds = 0.2;
    double quietSeconds = 2.0;        // global noise estimate: quiet time per 5 minutes
    double globalSnrDb = 60.0;        // floor of the global estimate
    double minRunSeconds = 20.0;      // longer runs are judged against their loudest
    double runSnrDb = 30.0;           //   region minus this
    double minTrackSeconds = 5.0;     // shorter runs of sound make no file
};

// The first pass and the region analysis of a track split: the detector
// over `reader`, then the classification of SoundTrackFinder.
DetectorPtr analyseSide(SoundReader& reader, const SplitSettings& settings = SplitSettings());

// Runs of signal regions as frame spans, in order, leaving out runs shorter
// than `minSeconds`: the files a split would write.
std::vector<Span> soundRuns(const RMSStepDetector& detector, double minSeconds);

} // namespace splitsignals

#endif
