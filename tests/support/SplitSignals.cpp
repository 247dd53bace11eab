#include "tests/support/SplitSignals.h"

#include "apps/tulv/MusicSynth.h"
#include "tulv/dynamics/SoundTrackFinder.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace splitsignals {

// The music of the test sides is the demo's.
using namespace musicsynth;

struct SideSynth::State {
    std::vector<double> trackScale;
    std::vector<int> quietBegin, quietEnd, fadeBegin; // absolute frames
    Random noise;
    Random clicks;
    Random bursts;
    double hissLeft = 0.0, hissRight = 0.0;
    double hissScale = 0.0;
    int nextClick = 0;
    int clickStart = -1;
    double clickAmplitude = 0.0;
    size_t track = 0;
    std::unique_ptr<Body> body;
    int silenceEnd = 0;

    explicit State(uint64_t seed)
        : noise(seed ^ 0xA5A5ull)
        , clicks(seed ^ 0x5A5Aull)
        , bursts(seed ^ 0x3C3Cull)
    {
    }
};

SideSynth::SideSynth(SideSpec layout)
    : mSpec(std::move(layout))
{
    const unsigned int rate = mSpec.sampleRate;
    double t = mSpec.digitalSilenceSeconds + mSpec.leadInSeconds;
    for (size_t i = 0; i < mSpec.tracks.size(); ++i) {
        const TrackSpec& track = mSpec.tracks[i];
        mTruth.tracks.push_back({ toFrames(t, rate), toFrames(t + track.seconds, rate) });
        if (track.quietSeconds > 0)
            mTruth.quietPassages.push_back(
                { toFrames(t + track.quietAtSeconds, rate), toFrames(t + track.quietAtSeconds + track.quietSeconds, rate) });
        t += track.seconds;
        if (i + 1 < mSpec.tracks.size())
            t += i < mSpec.gapSeconds.size() ? mSpec.gapSeconds[i] : 3.0;
    }
    t += mSpec.leadOutSeconds;
    mTruth.frames = toFrames(t, rate);
    for (const BurstSpec& burst : mSpec.bursts)
        mTruth.bursts.push_back({ toFrames(burst.atSeconds, rate), toFrames(burst.atSeconds + burst.seconds, rate) });
    restart();
}

SideSynth::~SideSynth() = default;

void SideSynth::restart()
{
    const unsigned int rate = mSpec.sampleRate;
    mState = std::make_unique<State>(mSpec.seed);
    State& s = *mState;
    for (size_t i = 0; i < mSpec.tracks.size(); ++i) {
        const TrackSpec& track = mSpec.tracks[i];
        const double power = bodyPower(trackSeed(mSpec.seed, i), rate);
        s.trackScale.push_back(dbToAmplitude(track.levelDb) / std::sqrt(power));
        s.fadeBegin.push_back(mTruth.tracks[i].end - toFrames(track.fadeOutSeconds, rate));
    }
    // Uniform noise holds a third of full-scale power and the one-pole
    // low-pass keeps a third of that: the hiss needs three times its level.
    s.hissScale = 3.0 * dbToAmplitude(mSpec.surfaceNoiseDb);
    s.silenceEnd = toFrames(mSpec.digitalSilenceSeconds, rate);
    s.nextClick = s.silenceEnd
        + (mSpec.clicksPerSecond > 0 ? toFrames(-std::log(1.0 - s.clicks.uniform()) / mSpec.clicksPerSecond, rate)
                                     : mTruth.frames);
    mPosition = 0;
}

unsigned int SideSynth::render(unsigned int count, double* out)
{
    State& s = *mState;
    const unsigned int rate = mSpec.sampleRate;
    const int available = std::max(0, mTruth.frames - mPosition);
    const unsigned int n = std::min<unsigned int>(count, static_cast<unsigned int>(available));
    const int startRamp = toFrames(0.01, rate);
    const int quietRamp = toFrames(1.0, rate);
    const int burstRamp = toFrames(0.005, rate);
    for (unsigned int i = 0; i < n; ++i) {
        const int p = mPosition + static_cast<int>(i);
        double left = 0.0, right = 0.0;
        if (p >= s.silenceEnd) {
            // Surface hiss, independent in the two channels.
            s.hissLeft = 0.5 * s.hissLeft + 0.5 * s.noise.bipolar();
            s.hissRight = 0.5 * s.hissRight + 0.5 * s.noise.bipolar();
            left = s.hissScale * s.hissLeft;
            right = s.hissScale * s.hissRight;
            // Clicks: a decaying alternation of about a millisecond.
            if (p == s.nextClick) {
                s.clickStart = p;
                s.clickAmplitude = dbToAmplitude(s.clicks.between(mSpec.clickPeakMinDb, mSpec.clickPeakMaxDb));
                s.nextClick = p + 1 + toFrames(-std::log(1.0 - s.clicks.uniform()) / mSpec.clicksPerSecond, rate);
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
        while (s.track < mTruth.tracks.size() && p >= mTruth.tracks[s.track].end) {
            ++s.track;
            s.body.reset();
        }
        if (s.track < mTruth.tracks.size() && p >= mTruth.tracks[s.track].begin) {
            const TrackSpec& track = mSpec.tracks[s.track];
            const Span& span = mTruth.tracks[s.track];
            if (!s.body)
                s.body = std::make_unique<Body>(trackSeed(mSpec.seed, s.track), rate);
            double l, r;
            s.body->next(l, r);
            double gain = s.trackScale[s.track];
            const int k = p - span.begin;
            const int fadeIn = std::max(startRamp, toFrames(track.fadeInSeconds, rate));
            if (k < fadeIn)
                gain *= double(k) / fadeIn;
            if (track.quietSeconds > 0) {
                const int qb = span.begin + toFrames(track.quietAtSeconds, rate);
                const int qe = span.begin + toFrames(track.quietAtSeconds + track.quietSeconds, rate);
                const double depth = track.quietLevelDb - track.levelDb;
                double db = 0.0;
                if (p >= qb && p < qe) {
                    db = depth;
                    if (p - qb < quietRamp)
                        db = depth * (p - qb) / quietRamp;
                    else if (qe - p < quietRamp)
                        db = depth * (qe - p) / quietRamp;
                }
                gain *= dbToAmplitude(db);
            }
            if (track.fadeOutSeconds > 0) {
                const int fb = s.fadeBegin[s.track];
                if (p >= fb)
                    gain *= double(span.end - p) / (span.end - fb);
            } else if (track.releaseSeconds > 0) {
                const int release = toFrames(track.releaseSeconds, rate);
                if (span.end - p < release)
                    gain *= dbToAmplitude(-40.0 * (1.0 - double(span.end - p) / release));
            }
            left += gain * l;
            right += gain * r;
        }
        for (size_t b = 0; b < mTruth.bursts.size(); ++b) {
            const Span& span = mTruth.bursts[b];
            if (p >= span.begin && p < span.end) {
                double gain = std::sqrt(3.0) * dbToAmplitude(mSpec.bursts[b].levelDb);
                const int edge = std::min(p - span.begin, span.end - p);
                if (edge < burstRamp)
                    gain *= double(edge) / burstRamp;
                left += gain * s.bursts.bipolar();
                right += gain * s.bursts.bipolar();
            }
        }
        out[2 * i] = mSpec.channelGain[0] * left;
        out[2 * i + 1] = mSpec.channelGain[1] * right;
    }
    mPosition += static_cast<int>(n);
    return n;
}

Side synthesizeSide(const SideSpec& layout)
{
    Side side;
    side.layout = layout;
    SideSynth synth(layout);
    side.truth = synth.truth();
    side.samples.resize(size_t(side.truth.frames) * 2);
    synth.render(static_cast<unsigned int>(side.truth.frames), side.samples.data());
    return side;
}

SideSpec typicalSide()
{
    SideSpec side;
    TrackSpec plain;
    plain.seconds = 40.0;
    plain.levelDb = -16.0;
    TrackSpec quiet;
    quiet.seconds = 50.0;
    quiet.levelDb = -14.0;
    quiet.quietAtSeconds = 20.0;
    quiet.quietSeconds = 5.0;
    quiet.quietLevelDb = -34.0;
    TrackSpec third;
    third.seconds = 35.0;
    third.levelDb = -18.0;
    TrackSpec last;
    last.seconds = 45.0;
    last.levelDb = -15.0;
    last.fadeOutSeconds = 10.0;
    side.tracks = { plain, quiet, third, last };
    side.gapSeconds = { 3.0, 4.0, 5.0 };
    // In the middle of the last gap: a thump too short to be a track.
    const double lastGap = side.leadInSeconds + 40.0 + 3.0 + 50.0 + 4.0 + 35.0;
    side.bursts = { { lastGap + 2.2, 0.5, -30.0 } };
    return side;
}

SideReader::SideReader(const SideSpec& layout)
    : mSynth(layout)
{
}

SoundTools::Status SideReader::open(QString)
{
    rewind();
    return SoundTools::Ok;
}

void SideReader::rewind()
{
    mSynth.restart();
    mOffset = 0;
    resetAtEnd();
}

unsigned int SideReader::read(unsigned int count, double* dest)
{
    return mSynth.render(count, dest);
}

namespace {
void putLE(std::FILE* file, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        std::fputc(int((value >> (8 * i)) & 0xFF), file);
}
} // namespace

WavFileSink::WavFileSink(const std::string& path, unsigned int sampleRate)
    : mFile(std::fopen(path.c_str(), "wb"))
    , mRate(sampleRate)
{
    if (!mFile)
        return;
    std::fwrite("RIFF", 1, 4, mFile);
    putLE(mFile, 0, 4);
    std::fwrite("WAVEfmt ", 1, 8, mFile);
    putLE(mFile, 16, 4);
    putLE(mFile, 1, 2); // PCM
    putLE(mFile, 2, 2);
    putLE(mFile, sampleRate, 4);
    putLE(mFile, sampleRate * 4, 4);
    putLE(mFile, 4, 2);
    putLE(mFile, 16, 2);
    std::fwrite("data", 1, 4, mFile);
    putLE(mFile, 0, 4);
}

WavFileSink::~WavFileSink()
{
    finish();
}

void WavFileSink::write(const double* interleaved, unsigned int frames)
{
    if (!mFile)
        return;
    mScratch.resize(size_t(frames) * 2);
    for (size_t i = 0; i < mScratch.size(); ++i) {
        const double v = std::clamp(interleaved[i], -1.0, 1.0) * 32767.0;
        mScratch[i] = static_cast<int16_t>(std::lround(v));
    }
    std::fwrite(mScratch.data(), sizeof(int16_t), mScratch.size(), mFile);
    mFrames += frames;
}

void WavFileSink::finish()
{
    if (!mFile)
        return;
    const uint64_t data = mFrames * 4;
    std::fseek(mFile, 4, SEEK_SET);
    putLE(mFile, static_cast<uint32_t>(36 + data), 4);
    std::fseek(mFile, 40, SEEK_SET);
    putLE(mFile, static_cast<uint32_t>(data), 4);
    std::fclose(mFile);
    mFile = nullptr;
}

bool writeSideWav(const SideSpec& layout, const std::string& path)
{
    WavFileSink sink(path, layout.sampleRate);
    if (!sink.ok())
        return false;
    SideSynth synth(layout);
    std::vector<double> block(2 * 65536);
    while (unsigned int n = synth.render(65536, block.data()))
        sink.write(block.data(), n);
    sink.finish();
    return true;
}

void ReleaseAlgo::operator()(SoundAlgo* algo) const
{
    if (algo)
        algo->release();
}

DetectorPtr detectorFromRegions(const std::vector<RMSStepDetector::Region>& regions, unsigned int sampleRate,
                                bool realTimeMode, double noiseThresholdDb)
{
    QJsonObject object;
    object.insert("Class", "RMSStepDetector");
    object.insert("NoiseThreshold", noiseThresholdDb);
    object.insert("RMSTime", 0.2);
    object.insert("MinSlopeTime", 1.0);
    object.insert("OutputMode", int(RMSStepDetector::NoOutput));
    object.insert("RealTimeMode", realTimeMode);
    object.insert("SampleRate", double(sampleRate));
    QJsonArray list;
    for (const RMSStepDetector::Region& region : regions) {
        QJsonObject item;
        item.insert("BeginSample", region.begin);
        item.insert("SampleNb", region.length);
        item.insert("RMSSqrValue0", region.level0);
        item.insert("RMSSqrValue1", region.level1);
        item.insert("MeanSmpl", region.weight);
        item.insert("IsNoise", region.noise);
        list.append(item);
    }
    object.insert("Regions", list);
    return DetectorPtr(RMSStepDetector::createFromJSon(object));
}

DetectorPtr analyseSide(SoundReader& reader, const SplitSettings& settings)
{
    DetectorPtr detector(new RMSStepDetector(settings.noiseThresholdDb, settings.rmsSeconds, 1.0,
                                             RMSStepDetector::NoOutput, false));
    if (detector->processAll(reader, nullptr) != SoundTools::Ok)
        return nullptr;
    SoundTrackFinder::Settings finder;
    finder.quietSeconds = settings.quietSeconds;
    finder.globalSnrDb = settings.globalSnrDb;
    finder.minRunSeconds = settings.minRunSeconds;
    finder.runSnrDb = settings.runSnrDb;
    finder.minTrackSeconds = settings.minTrackSeconds;
    SoundTrackFinder(finder).find(*detector);
    return detector;
}

std::vector<Span> soundRuns(const RMSStepDetector& detector, double minSeconds)
{
    std::vector<Span> runs;
    const std::vector<RMSStepDetector::Region> regions = detector.getRegions();
    const double rate = detector.getSampleRate();
    size_t i = 0;
    while (i < regions.size()) {
        if (regions[i].noise) {
            ++i;
            continue;
        }
        Span run { regions[i].begin, regions[i].begin };
        while (i < regions.size() && !regions[i].noise) {
            run.end = regions[i].begin + regions[i].length;
            ++i;
        }
        if ((run.end - run.begin) / rate >= minSeconds)
            runs.push_back(run);
    }
    return runs;
}

} // namespace splitsignals
