#ifndef TULV_APPS_DEMORECORD_H
#define TULV_APPS_DEMORECORD_H

#include <tulv/tulv.h>

#include <cstdint>
#include <memory>
#include <vector>

// A synthetic record side, computed as it is read: four tracks of
// music-like sound (a melody, a bass line and a pad of harmonic notes with
// envelopes, and percussive noise hits), one with a quiet passage 20 dB down
// and one ending in a slow fade-out, separated by gaps of surface hiss with
// clicks, a short thump in the last gap, and lead-in and lead-out noise. It
// knows where its tracks truly begin and end, so a split can be checked.
// The same frames come out on every run and every machine.
class DemoRecordReader : public SoundReader {
public:
    struct Track {
        double start; // seconds
        double end;   // seconds: the last sound (the end of a fade or ring-out)
    };

    DemoRecordReader();
    ~DemoRecordReader() override;

    SoundTools::Status open(QString) override;
    void close() override {}
    unsigned int getFrameNB() const override { return unsigned(mFrames); }
    unsigned int getSampleRate() const override { return kRate; }
    void rewind() override;
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Int16; }
    bool getTags(SoundIDTag& tags) override;

    std::vector<Track> tracks() const;

    static constexpr unsigned int kRate = 44100;

protected:
    unsigned int read(unsigned int count, double* dest) override;

private:
    struct TrackPlan {
        int begin, end;          // frames
        double scale;            // linear gain of the body
        int quietBegin, quietEnd; // frames; equal when there is no quiet passage
        double quietDb;          // depth of the quiet passage
        int fadeBegin;           // frames; == end when the track rings out instead
    };
    struct State;

    std::vector<TrackPlan> mPlan;
    int mBurstBegin = 0, mBurstEnd = 0; // frames
    int mFrames = 0;
    std::unique_ptr<State> mState;
};

#endif
