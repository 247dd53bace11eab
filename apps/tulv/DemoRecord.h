#ifndef TULV_APPS_DEMORECORD_H
#define TULV_APPS_DEMORECORD_H

#include <tulv/tulv.h>

#include <cstdint>
#include <memory>
#include <vector>

// A synthetic record side, computed as it is read: tracks of music-like
// sound (a melody, a bass line and a pad of harmonic notes with envelopes,
// and percussive noise hits) separated by gaps of surface hiss with clicks,
// with lead-in and lead-out noise. It knows where its tracks truly begin and
// end, so a split can be checked. The same layout gives the same frames on
// every run and every machine, at constant memory whatever its length.
class DemoRecordReader : public SoundReader {
public:
    struct TrackShape {
        double seconds = 30.0;  // from the first note to the end of the fade-out
        double levelDb = -16.0; // RMS of the body, dBFS (mean of both channels)
        // A quiet passage (pianissimo), reached over a second; none when 0 long.
        double quietAtSeconds = 0.0; // from the track's start
        double quietSeconds = 0.0;
        double quietLevelDb = -40.0;
        // Linear fades of the amplitude from and to zero at the track's ends.
        double fadeInSeconds = 0.0;
        double fadeOutSeconds = 0.0;
        // Without a fade-out the last notes ring out: 40 dB of decay over this.
        double releaseSeconds = 0.4;
    };
    // A short burst of noise (a thump, a needle drop).
    struct Burst {
        double atSeconds = 0.0; // from the start of the side
        double seconds = 0.5;
        double levelDb = -30.0; // RMS, dBFS
    };
    struct Layout {
        unsigned int sampleRate = 44100;
        double digitalSilenceSeconds = 0.0; // exact zeros before the lead-in
        double leadInSeconds = 2.5;         // surface noise before the first track
        std::vector<TrackShape> tracks;
        std::vector<double> gapSeconds; // after track i; missing entries are 3 s
        double leadOutSeconds = 5.0;
        double surfaceNoiseDb = -58.0; // RMS of the hiss, under the music too
        double clicksPerSecond = 4.0;
        double clickPeakMinDb = -52.0;
        double clickPeakMaxDb = -44.0;
        std::vector<Burst> bursts;
        std::uint64_t seed = 1;
        double channelGain[2] = { 1.0, 1.0 }; // 0: a dead channel
    };
    struct Track {
        double start; // seconds
        double end;   // seconds: the last sound (the end of a fade or ring-out)
    };

    // The demo's side: a plain track, one with a quiet passage 20 dB down, a
    // short one, and one fading out over 10 s; a thump in the last gap.
    static Layout demoSide();

    explicit DemoRecordReader(Layout layout = demoSide());
    ~DemoRecordReader() override;

    SoundTools::Status open(QString) override;
    void close() override {}
    unsigned int getFrameNB() const override { return unsigned(mFrames); }
    unsigned int getSampleRate() const override { return mLayout.sampleRate; }
    void rewind() override;
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Int16; }
    bool getTags(SoundIDTag& tags) override;

    const Layout& layout() const { return mLayout; }
    std::vector<Track> tracks() const;
    // Frames [first, second) of each track's sound.
    std::vector<std::pair<int, int>> spans() const;

protected:
    unsigned int read(unsigned int count, double* dest) override;

private:
    struct TrackPlan {
        int begin, end;           // frames
        double scale;             // linear gain of the body
        int quietBegin, quietEnd; // frames; equal when there is no quiet passage
        double quietDb;           // depth of the quiet passage
        int fadeIn;               // frames
        int fadeBegin;            // frames; == end when the track rings out instead
        int release;              // frames
    };
    struct State;

    Layout mLayout;
    std::vector<TrackPlan> mPlan;
    std::vector<std::pair<int, int>> mBursts; // frames
    int mFrames = 0;
    std::unique_ptr<State> mState;
};

#endif
