// Track splitting: the detector pass alone over an hour of stereo sound, and
// the whole two-pass split of a WAV side into one file per track, with the
// peak memory of the process.
//
// The sides are written once to the temporary directory as 16-bit WAV files
// (tulv-split-<minutes>min.wav) and reused; a peer tool can split the same
// files, for instance
//   sox tulv-split-10min.wav out.wav silence 1 0.5 -50d 1 1.0 -50d : newfile : restart
// Run each size in its own process to read its peak memory:
//   tulv_bench --benchmark_filter='BM_SplitWav/10'
#include "apps/tulv/DemoRecord.h"
#include "tests/support/MemoryIO.h"
#include "tests/support/SplitSignals.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/dynamics/SoundTrackFinder.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriterMultiFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstring>
#include <memory>

namespace {

constexpr unsigned int kRate = 44100;

double peakRssMegabytes()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

// A side of about `minutes`: tracks of 2 to 5 minutes at varied levels with
// gaps of 2 to 4 s, the last one fading out.
splitsignals::SideLayout sideOf(int minutes)
{
    splitsignals::SideLayout layout;
    layout.seed = 2024;
    const double lengths[] = { 185, 240, 130, 290, 160, 210, 175, 300, 145, 220 };
    const double levels[] = { -14, -18, -12, -20, -15, -17, -13, -16, -19, -15 };
    double total = layout.leadInSeconds + layout.leadOutSeconds;
    for (int k = 0; total < minutes * 60.0 - 60.0; ++k) {
        splitsignals::TrackLayout track;
        track.seconds = std::min(lengths[k % 10], minutes * 60.0 - total - 3.0);
        track.levelDb = levels[k % 10];
        if (k % 4 == 1) {
            track.quietAtSeconds = 60.0;
            track.quietSeconds = 6.0;
            track.quietLevelDb = track.levelDb - 20.0;
        }
        layout.tracks.push_back(track);
        layout.gapSeconds.push_back(2.0 + k % 3);
        total += track.seconds + layout.gapSeconds.back();
    }
    layout.tracks.back().fadeOutSeconds = 12.0;
    return layout;
}

QString sideFile(int minutes)
{
    const QString name = QDir::temp().filePath(QStringLiteral("tulv-split-%1min.wav").arg(minutes));
    const splitsignals::SideLayout layout = sideOf(minutes);
    const long long bytes = 44 + 4LL * splitsignals::truthOf(layout).frames;
    if (QFileInfo(name).size() != bytes)
        splitsignals::writeSideWav(layout, name.toStdString());
    return name;
}

// Hands out an hour (or any length) of a rendered minute of side, looped,
// with one memcpy per block: what is measured is the detector.
class LoopedSideReader : public SoundReader {
public:
    LoopedSideReader(const std::vector<double>& period, unsigned int frames)
        : mPeriod(period)
        , mFrames(frames)
    {
    }
    SoundTools::Status open(QString) override { return SoundTools::Ok; }
    void close() override {}
    unsigned int getFrameNB() const override { return mFrames; }
    unsigned int getSampleRate() const override { return kRate; }
    void rewind() override
    {
        mOffset = 0;
        resetAtEnd();
    }
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Float64; }

protected:
    unsigned int read(unsigned int count, double* dest) override
    {
        const unsigned int periodFrames = static_cast<unsigned int>(mPeriod.size() / 2);
        const unsigned int n = std::min<unsigned int>(count, mFrames - static_cast<unsigned int>(mOffset));
        unsigned int done = 0;
        while (done < n) {
            const unsigned int at = (static_cast<unsigned int>(mOffset) + done) % periodFrames;
            const unsigned int chunk = std::min(n - done, periodFrames - at);
            std::memcpy(dest + 2 * size_t(done), mPeriod.data() + 2 * size_t(at), sizeof(double) * 2 * chunk);
            done += chunk;
        }
        return n;
    }

private:
    const std::vector<double>& mPeriod;
    unsigned int mFrames;
};

void BM_DetectorPass(benchmark::State& state)
{
    const unsigned int frames = static_cast<unsigned int>(state.range(0)) * 60u * kRate;
    static const std::vector<double> period = [] {
        DemoRecordReader reader(sideOf(6));
        reader.open(QString());
        reader.setEndPoint(60.0);
        reader.rewind();
        testsupport::CapturingWriter minute(kRate);
        testsupport::AlgoRef<SoundAlgo> copy(new SoundAlgoScale(0.0));
        copy->processAll(reader, &minute);
        std::vector<double> samples = minute.samples();
        samples.resize(size_t(2) * 60 * kRate);
        return samples;
    }();
    size_t regions = 0;
    for (auto _ : state) {
        LoopedSideReader reader(period, frames);
        splitsignals::DetectorPtr detector(
            new RMSStepDetector(-40.0, 0.2, 1.0, RMSStepDetector::NoOutput, false));
        detector->processAll(reader, nullptr);
        regions = detector->getRegions().size();
    }
    const double seconds = double(frames) / kRate;
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * frames, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * seconds, benchmark::Counter::kIsRate);
    state.counters["regions"] = double(regions);
}

void BM_SplitWav(benchmark::State& state)
{
    const int minutes = static_cast<int>(state.range(0));
    const QString input = sideFile(minutes);
    // The block size the tool's split uses, for this benchmark only.
    const unsigned int savedBlock = SoundBuffer::getDefaultSize();
    SoundBuffer::setDefaultSize(SoundWriter::kFileJobBlockSize);
    double seconds = 0;
    int files = 0;
    for (auto _ : state) {
        QTemporaryDir out;
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(input));
        if (!reader || reader->open(input) != SoundTools::Ok) {
            state.SkipWithError("cannot read the side");
            SoundBuffer::setDefaultSize(savedBlock);
            return;
        }
        seconds = reader->getLength();
        // The first pass: the side's regions, classified as the tool does.
        splitsignals::DetectorPtr detector(new RMSStepDetector(-40.0, 0.2, 1.0, RMSStepDetector::NoOutput, false));
        if (detector->processAll(*reader, nullptr) != SoundTools::Ok) {
            state.SkipWithError("cannot analyse the side");
            SoundBuffer::setDefaultSize(savedBlock);
            return;
        }
        SoundTrackFinder().find(*detector);
        std::unique_ptr<SoundReader> second(SoundReader::getFromFilename(input));
        second->open(input);
        SoundWriterMultiFile writer(detector.get(), SoundTrackFinder::Settings().minTrackSeconds, kRate, 2, 128, SoundTools::Int16);
        // As the tool splits: every gap divided at its quietest point.
        SoundTrackFinder finder;
        finder.findAsClassified(*detector);
        std::vector<std::pair<long long, long long>> spans;
        for (const SoundTrackFinder::Track& track : finder.tracks())
            spans.emplace_back(track.begin, track.end);
        writer.setTracks(spans, -1.0, false);
        writer.open(out.filePath("side.wav"));
        testsupport::AlgoRef<SoundAlgoBypass> bypass(new SoundAlgoBypass);
        bypass->processAll(*second, &writer);
        writer.close();
        files = writer.GetWrittenFiles();
    }
    SoundBuffer::setDefaultSize(savedBlock);
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * seconds, benchmark::Counter::kIsRate);
    state.counters["files"] = files;
    state.counters["tracks"] = double(sideOf(minutes).tracks.size());
    state.counters["peak_RSS_MB"] = peakRssMegabytes();
}

} // namespace

BENCHMARK(BM_DetectorPass)->Arg(60)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SplitWav)->Arg(10)->Arg(60)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
