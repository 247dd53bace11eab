#ifndef TULV_DYNAMICS_SOUNDRMSSLOPEDETECTOR_H
#define TULV_DYNAMICS_SOUNDRMSSLOPEDETECTOR_H

#include <vector>

// Finds sustained rises and falls of level (crescendi, fade-ins, fade-outs)
// from one pair of window mean squares per window length. A slope goes on
// while each new value keeps within half a percent of the direction; it ends
// once it has stalled for the minimum slope length, and is kept only when it
// lasted longer than that.
class SoundRMSSlopeDetector {
public:
    // A rise or fall between two absolute frame positions.
    struct Region {
        int start = 0;
        int end = 0;
    };

    explicit SoundRMSSlopeDetector(double minSlopeTime = 1.0);

    // Sizes the minimum slope for `sampleRate` and forgets every slope.
    void init(unsigned int sampleRate);
    // Forgets every slope and the one in progress; the sizes stay.
    void reset();
    // One pair of window mean squares taken at absolute frame `position`.
    void addValue(double power0, double power1, int position);
    // The slope covering `position` (the one in progress included), or null.
    // Meant for increasing positions: the search resumes where it stopped.
    const Region* find(int position);

    double getMinSlopeTime() const { return mMinSlopeTime; }
    void setMinSlopeTime(double seconds) { mMinSlopeTime = seconds; }
    const std::vector<Region>& getSlopes() const { return mSlopes; }

private:
    enum State { Empty = 0, Anchored = 1, Rising = 2, Falling = 3 };

    double mMinSlopeTime; // seconds
    int mState = Empty;
    double mAnchor[2] = { 0.0, 0.0 }; // mean squares where the slope began
    double mLast[2] = { 0.0, 0.0 };   // mean squares of the last value that followed the slope
    int mMinSlopeLength = 44100;      // frames
    int mLastPosition = 0;
    int mAnchorPosition = 0;
    int mSampleRate = 44100;
    unsigned int mCursor = 0;
    Region mCached;
    std::vector<Region> mSlopes;
    int mStallTotal = 0; // frames
    int mStallStart = 0; // 0: no stall
};

#endif
