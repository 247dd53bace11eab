#include "DemoRecord.h"

#include "MusicSynth.h"

#include <algorithm>
#include <cmath>

using namespace musicsynth;

struct DemoRecordReader::State {
    Random noise;
    Random clicks;
    Random bursts;
    double hissLeft = 0.0, hissRight = 0.0;
    int nextClick = 0;
    int clickStart = -1;
    double clickAmplitude = 0.0;
    size_t track = 0;
    std::unique_ptr<Body> body;

    explicit State(std::uint64_t seed)
        : noise(seed ^ 0xA5A5ull)
        , clicks(seed ^ 0x5A5Aull)
        , bursts(seed ^ 0x3C3Cull)
    {
    }
};

DemoRecordReader::Layout DemoRecordReader::demoSide()
{
    Layout side;
    auto shape = [](double seconds, double levelDb) {
        TrackShape track;
        track.seconds = seconds;
        track.levelDb = levelDb;
        return track;
    };
    side.tracks = { shape(40.0, -16.0), shape(50.0, -14.0), shape(35.0, -18.0), shape(45.0, -15.0) };
    side.tracks[1].quietAtSeconds = 20.0;
    side.tracks[1].quietSeconds = 5.0;
    side.tracks[1].quietLevelDb = -34.0;
    side.tracks[3].fadeOutSeconds = 10.0;
    side.gapSeconds = { 3.0, 4.0, 5.0 };
    // In the middle of the last gap: a thump too short to be a track.
    side.bursts = { { side.leadInSeconds + 40.0 + 3.0 + 50.0 + 4.0 + 35.0 + 2.2, 0.5, -30.0 } };
    return side;
}

DemoRecordReader::DemoRecordReader(Layout layout)
    : mLayout(std::move(layout))
{
    const unsigned int rate = mLayout.sampleRate;
    double t = mLayout.digitalSilenceSeconds + mLayout.leadInSeconds;
    for (size_t i = 0; i < mLayout.tracks.size(); ++i) {
        const TrackShape& shape = mLayout.tracks[i];
        TrackPlan plan;
        plan.begin = toFrames(t, rate);
        plan.end = toFrames(t + shape.seconds, rate);
        plan.scale = -1.0; // measured when first read
        plan.quietBegin = toFrames(t + shape.quietAtSeconds, rate);
        plan.quietEnd = toFrames(t + shape.quietAtSeconds + shape.quietSeconds, rate);
        plan.quietDb = shape.quietLevelDb - shape.levelDb;
        plan.fadeIn = std::max(toFrames(0.01, rate), toFrames(shape.fadeInSeconds, rate));
        plan.fadeBegin = plan.end - toFrames(shape.fadeOutSeconds, rate);
        plan.release = toFrames(shape.releaseSeconds, rate);
        mPlan.push_back(plan);
        t += shape.seconds;
        if (i + 1 < mLayout.tracks.size())
            t += i < mLayout.gapSeconds.size() ? mLayout.gapSeconds[i] : 3.0;
    }
    mFrames = toFrames(t + mLayout.leadOutSeconds, rate);
    for (const Burst& burst : mLayout.bursts)
        mBursts.emplace_back(toFrames(burst.atSeconds, rate), toFrames(burst.atSeconds + burst.seconds, rate));
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
        list.push_back({ double(plan.begin) / mLayout.sampleRate, double(plan.end) / mLayout.sampleRate });
    return list;
}

std::vector<std::pair<int, int>> DemoRecordReader::spans() const
{
    std::vector<std::pair<int, int>> list;
    for (const TrackPlan& plan : mPlan)
        list.emplace_back(plan.begin, plan.end);
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
    mState = std::make_unique<State>(mLayout.seed);
    const int silence = toFrames(mLayout.digitalSilenceSeconds, mLayout.sampleRate);
    mState->nextClick = mLayout.clicksPerSecond > 0
                            ? silence + toFrames(-std::log(1.0 - mState->clicks.uniform()) / mLayout.clicksPerSecond, mLayout.sampleRate)
                            : mFrames;
}

unsigned int DemoRecordReader::read(unsigned int count, double* out)
{
    State& s = *mState;
    const unsigned int rate = mLayout.sampleRate;
    // Uniform noise holds a third of full-scale power and the one-pole
    // low-pass below keeps a third of that: the hiss needs three times its level.
    const double hissScale = 3.0 * dbToAmplitude(mLayout.surfaceNoiseDb);
    const int silence = toFrames(mLayout.digitalSilenceSeconds, rate);
    const int quietRamp = toFrames(1.0, rate);
    const int burstRamp = toFrames(0.005, rate);
    const int first = mOffset;
    const unsigned int n = unsigned(std::clamp(mFrames - first, 0, int(count)));
    // Per frame: a few oscillator rotations and random draws, no allocation
    // (a track's body is made once, when the track begins).
    for (unsigned int i = 0; i < n; ++i) {
        const int p = first + int(i);
        double left = 0.0, right = 0.0;
        if (p >= silence) {
            s.hissLeft = 0.5 * s.hissLeft + 0.5 * s.noise.bipolar();
            s.hissRight = 0.5 * s.hissRight + 0.5 * s.noise.bipolar();
            left = hissScale * s.hissLeft;
            right = hissScale * s.hissRight;
            // Clicks: a decaying alternation of about a millisecond, at random times.
            if (p == s.nextClick) {
                s.clickStart = p;
                s.clickAmplitude = dbToAmplitude(s.clicks.between(mLayout.clickPeakMinDb, mLayout.clickPeakMaxDb));
                s.nextClick = p + 1 + toFrames(-std::log(1.0 - s.clicks.uniform()) / mLayout.clicksPerSecond, rate);
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
        }
        while (s.track < mPlan.size() && p >= mPlan[s.track].end) {
            ++s.track;
            s.body.reset();
        }
        if (s.track < mPlan.size() && p >= mPlan[s.track].begin) {
            TrackPlan& plan = mPlan[s.track];
            const std::uint64_t seed = trackSeed(mLayout.seed, s.track);
            if (plan.scale < 0.0)
                plan.scale = dbToAmplitude(mLayout.tracks[s.track].levelDb) / std::sqrt(bodyPower(seed, rate));
            if (!s.body)
                s.body = std::make_unique<Body>(seed, rate);
            double l, r;
            s.body->next(l, r);
            double gain = plan.scale;
            const int k = p - plan.begin;
            if (k < plan.fadeIn)
                gain *= double(k) / plan.fadeIn;
            if (p >= plan.quietBegin && p < plan.quietEnd) {
                // Into and out of the quiet passage over a second each.
                const double edge = std::min({ 1.0, double(p - plan.quietBegin) / quietRamp, double(plan.quietEnd - p) / quietRamp });
                gain *= dbToAmplitude(plan.quietDb * edge);
            }
            if (plan.fadeBegin < plan.end) {
                if (p >= plan.fadeBegin)
                    gain *= double(plan.end - p) / (plan.end - plan.fadeBegin);
            } else if (plan.end - p < plan.release) {
                gain *= dbToAmplitude(-40.0 * (1.0 - double(plan.end - p) / plan.release));
            }
            left += gain * l;
            right += gain * r;
        }
        for (const std::pair<int, int>& burst : mBursts)
            if (p >= burst.first && p < burst.second) {
                const size_t b = size_t(&burst - mBursts.data());
                double gain = std::sqrt(3.0) * dbToAmplitude(mLayout.bursts[b].levelDb);
                const int edge = std::min(p - burst.first, burst.second - p);
                if (edge < burstRamp)
                    gain *= double(edge) / burstRamp;
                left += gain * s.bursts.bipolar();
                right += gain * s.bursts.bipolar();
            }
        out[2 * i] = mLayout.channelGain[0] * left;
        out[2 * i + 1] = mLayout.channelGain[1] * right;
    }
    return n;
}
