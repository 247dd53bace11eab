#include "DemoRecord.h"

#include "MusicSynth.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace musicsynth;

constexpr double kHissDb = -58.0;          // RMS of the surface hiss, under the music too
constexpr double kClicksPerSecond = 4.0;   // crackle
constexpr double kClickPeakMinDb = -52.0;
constexpr double kClickPeakMaxDb = -44.0;
constexpr double kReleaseSeconds = 0.4;    // last notes ring out: 40 dB over this
constexpr double kLeadInSeconds = 2.5;
constexpr double kLeadOutSeconds = 5.0;
constexpr std::uint64_t kSeed = 1;

double fromDb(double db)
{
    return dbToAmplitude(db);
}

int frames(double seconds)
{
    return toFrames(seconds, DemoRecordReader::kRate);
}

std::uint64_t trackSeed(size_t track)
{
    return musicsynth::trackSeed(kSeed, track);
}

double bodyPower(std::uint64_t seed)
{
    return musicsynth::bodyPower(seed, DemoRecordReader::kRate);
}

struct TrackSpec {
    double seconds;
    double levelDb;       // RMS of the body
    double quietAt;       // seconds from the track's start
    double quietSeconds;  // 0: no quiet passage
    double quietLevelDb;
    double fadeSeconds;   // 0: the last notes ring out
    double gapAfter;      // seconds of surface noise before the next track
};

// A plain track, one with a quiet passage, a short one, and one that fades
// into the lead-out; a thump lies in the middle of the last gap.
const TrackSpec kTracks[] = {
    { 40.0, -16.0, 0.0, 0.0, 0.0, 0.0, 3.0 },
    { 50.0, -14.0, 20.0, 5.0, -34.0, 0.0, 4.0 },
    { 35.0, -18.0, 0.0, 0.0, 0.0, 0.0, 5.0 },
    { 45.0, -15.0, 0.0, 0.0, 0.0, 10.0, 0.0 },
};
constexpr double kThumbInGap = 2.2; // seconds into the last gap
constexpr double kThumbSeconds = 0.5;
constexpr double kThumbDb = -30.0;

} // namespace

struct DemoRecordReader::State {
    Random noise { kSeed ^ 0xA5A5ull };
    Random clicks { kSeed ^ 0x5A5Aull };
    Random thump { kSeed ^ 0x3C3Cull };
    double hissLeft = 0.0, hissRight = 0.0;
    int nextClick = 0;
    int clickStart = -1;
    double clickAmplitude = 0.0;
    size_t track = 0;
    std::unique_ptr<Body> body;
};

DemoRecordReader::DemoRecordReader()
{
    double t = kLeadInSeconds;
    size_t i = 0;
    for (const TrackSpec& shape : kTracks) {
        TrackPlan plan;
        plan.begin = frames(t);
        plan.end = frames(t + shape.seconds);
        plan.scale = fromDb(shape.levelDb) / std::sqrt(bodyPower(trackSeed(i)));
        plan.quietBegin = frames(t + shape.quietAt);
        plan.quietEnd = frames(t + shape.quietAt + shape.quietSeconds);
        plan.quietDb = shape.quietLevelDb - shape.levelDb;
        plan.fadeBegin = plan.end - frames(shape.fadeSeconds);
        mPlan.push_back(plan);
        if (i + 2 == sizeof(kTracks) / sizeof(kTracks[0])) {
            mBurstBegin = frames(t + shape.seconds + kThumbInGap);
            mBurstEnd = mBurstBegin + frames(kThumbSeconds);
        }
        t += shape.seconds + shape.gapAfter;
        ++i;
    }
    mFrames = frames(t + kLeadOutSeconds);
    rewind();
}

DemoRecordReader::~DemoRecordReader() = default;

SoundTools::Status DemoRecordReader::open(QString)
{
    rewind();
    return SoundTools::Ok;
}

std::vector<DemoRecordReader::Track> DemoRecordReader::tracks() const
{
    std::vector<Track> list;
    for (const TrackPlan& plan : mPlan)
        list.push_back({ double(plan.begin) / kRate, double(plan.end) / kRate });
    return list;
}

bool DemoRecordReader::getTags(SoundIDTag& tags)
{
    tags.title = "Demo Side";
    tags.artist = "tulv";
    tags.album = "Synthetic Records";
    tags.year = "2026";
    return true;
}

void DemoRecordReader::rewind()
{
    mOffset = 0;
    resetAtEnd();
    mState = std::make_unique<State>();
    mState->nextClick = frames(-std::log(1.0 - mState->clicks.uniform()) / kClicksPerSecond);
}

unsigned int DemoRecordReader::read(unsigned int count, double* out)
{
    State& s = *mState;
    // Uniform noise holds a third of full-scale power and the one-pole
    // low-pass below keeps a third of that: the hiss needs three times its level.
    const double hissScale = 3.0 * fromDb(kHissDb);
    const int startRamp = frames(0.01);
    const int quietRamp = frames(1.0);
    const int release = frames(kReleaseSeconds);
    const int thumpRamp = frames(0.005);
    const int first = mOffset;
    const unsigned int n = unsigned(std::clamp(mFrames - first, 0, int(count)));
    // Per frame: a few oscillator rotations and random draws, no allocation.
    for (unsigned int i = 0; i < n; ++i) {
        const int p = first + int(i);
        s.hissLeft = 0.5 * s.hissLeft + 0.5 * s.noise.bipolar();
        s.hissRight = 0.5 * s.hissRight + 0.5 * s.noise.bipolar();
        double left = hissScale * s.hissLeft;
        double right = hissScale * s.hissRight;
        // Clicks: a decaying alternation of about a millisecond, at random times.
        if (p == s.nextClick) {
            s.clickStart = p;
            s.clickAmplitude = fromDb(s.clicks.between(kClickPeakMinDb, kClickPeakMaxDb));
            s.nextClick = p + 1 + frames(-std::log(1.0 - s.clicks.uniform()) / kClicksPerSecond);
        }
        if (s.clickStart >= 0) {
            const int k = p - s.clickStart;
            if (k < 48) {
                const double v = s.clickAmplitude * std::exp(-k / 6.0) * (k % 2 ? -1.0 : 1.0);
                left += v;
                right += 0.8 * v;
            } else {
                s.clickStart = -1;
            }
        }
        while (s.track < mPlan.size() && p >= mPlan[s.track].end) {
            ++s.track;
            s.body.reset();
        }
        if (s.track < mPlan.size() && p >= mPlan[s.track].begin) {
            const TrackPlan& plan = mPlan[s.track];
            if (!s.body)
                s.body = std::make_unique<Body>(trackSeed(s.track), DemoRecordReader::kRate);
            double l, r;
            s.body->next(l, r);
            double gain = plan.scale;
            const int k = p - plan.begin;
            if (k < startRamp)
                gain *= double(k) / startRamp;
            if (p >= plan.quietBegin && p < plan.quietEnd) {
                // Into and out of the quiet passage over a second each.
                const double edge = std::min({ 1.0, double(p - plan.quietBegin) / quietRamp, double(plan.quietEnd - p) / quietRamp });
                gain *= fromDb(plan.quietDb * edge);
            }
            if (plan.fadeBegin < plan.end) {
                if (p >= plan.fadeBegin)
                    gain *= double(plan.end - p) / (plan.end - plan.fadeBegin);
            } else if (plan.end - p < release) {
                gain *= fromDb(-40.0 * (1.0 - double(plan.end - p) / release));
            }
            left += gain * l;
            right += gain * r;
        }
        if (p >= mBurstBegin && p < mBurstEnd) {
            double gain = std::sqrt(3.0) * fromDb(kThumbDb);
            const int edge = std::min(p - mBurstBegin, mBurstEnd - p);
            if (edge < thumpRamp)
                gain *= double(edge) / thumpRamp;
            left += gain * s.thump.bipolar();
            right += gain * s.thump.bipolar();
        }
        out[2 * i] = left;
        out[2 * i + 1] = right;
    }
    return n;
}
