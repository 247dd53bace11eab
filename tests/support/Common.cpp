#include "tests/support/Common.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/io/SoundWriterMp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <thread>

#include <sys/resource.h>

namespace testsupport {

DefaultBlockSize::DefaultBlockSize(unsigned int frames)
    : ScopeGuard([saved = SoundBuffer::getDefaultSize()] { SoundBuffer::setDefaultSize(saved); })
{
    SoundBuffer::setDefaultSize(frames);
}

DebugCapture::DebugCapture(bool verbose)
    : mRestore([stream = &SoundDebuggableClass::getOStream(), wasVerbose = SoundDebuggableClass::isVerbose()] {
        SoundDebuggableClass::setOStream(stream);
        SoundDebuggableClass::setVerbose(wasVerbose);
    })
{
    SoundDebuggableClass::setVerbose(verbose || SoundDebuggableClass::isVerbose());
    SoundDebuggableClass::setOStream(&mText);
}

LameLibraryNames::LameLibraryNames(const QStringList& names)
    : ScopeGuard([saved = SoundWriterMp3::lameLibraryNames()] { SoundWriterMp3::setLameLibraryNames(saved); })
{
    if (!names.isEmpty())
        SoundWriterMp3::setLameLibraryNames(names);
}

static rlimit fileSizeLimit()
{
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    return limit;
}

FileSizeLimit::FileSizeLimit(unsigned long bytes)
    : ScopeGuard([saved = fileSizeLimit(), handler = std::signal(SIGXFSZ, SIG_IGN)] {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    })
{
    rlimit limit = fileSizeLimit();
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0) << "the file size limit cannot be set";
}

static MessageLog* sMessageLog = nullptr;

MessageLog::MessageLog()
    : mOuter(sMessageLog)
{
    sMessageLog = this;
    mPrevious = qInstallMessageHandler(&MessageLog::handle);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(mPrevious);
    sMessageLog = mOuter;
}

bool MessageLog::has(const QString& prefixedFragment) const
{
    return std::any_of(mLines.begin(), mLines.end(), [&prefixedFragment](const QString& line) {
        return line.startsWith(prefixedFragment.left(2)) && line.contains(prefixedFragment.mid(2));
    });
}

void MessageLog::handle(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (sMessageLog)
        sMessageLog->mLines.append((type == QtWarningMsg ? "W:" : type == QtCriticalMsg ? "C:" : "O:") + text);
}

void runWithDeadline(const std::function<void()>& work, int seconds)
{
    std::future<void> done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        ADD_FAILURE() << "deadline of " << seconds << " s missed";
        std::fprintf(stderr, "a threaded run missed its deadline of %d s; ending the tests\n", seconds);
        std::fflush(stderr);
        std::_Exit(1);
    }
    done.get();
}

std::vector<double> runThrough(SoundAlgo& algo, const std::vector<double>& input, unsigned int block,
                               unsigned int sampleRate, bool withTail)
{
    std::unique_ptr<DefaultBlockSize> size(block ? new DefaultBlockSize(block) : nullptr);
    VectorReader reader(input, sampleRate);
    reader.open(QString());
    CapturingWriter writer(sampleRate);
    if (!withTail)
        writer.setRange(0, static_cast<int>(input.size() / 2));
    EXPECT_EQ(algo.processAll(reader, &writer), SoundTools::Ok);
    return writer.samples();
}

SoundTools::Status runStatus(SoundAlgo& algo, const std::vector<double>& input, unsigned int sampleRate)
{
    VectorReader reader(input, sampleRate);
    reader.open(QString());
    CapturingWriter writer(sampleRate);
    return algo.processAll(reader, &writer);
}

std::vector<double> runWhilePoked(SoundAlgo& algo, SoundReader& reader, const std::function<void()>& poke,
                                  int pauseUs)
{
    reader.open(QString());
    CapturingWriter writer(reader.getSampleRate());
    writer.setRange(0, int(reader.getFrameNB()));
    std::atomic<bool> done { false };
    std::thread ui([&] {
        while (!done.load()) {
            poke();
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
    });
    auto worker = std::async(std::launch::async, [&] { return algo.processAll(reader, &writer); });
    const bool finished = worker.wait_for(std::chrono::seconds(120)) == std::future_status::ready;
    if (!finished)
        algo.pleaseStop();
    const SoundTools::Status status = worker.get();
    done = true;
    ui.join();
    EXPECT_TRUE(finished) << "the run missed its deadline";
    EXPECT_EQ(status, SoundTools::Ok);
    return writer.samples();
}

std::vector<double> sine(unsigned int frames, double frequency, double amplitude, unsigned int sampleRate,
                         double phase, double rightFrequency)
{
    std::vector<double> out(size_t(frames) * 2);
    const double w = 2.0 * M_PI * frequency / sampleRate;
    const double wRight = rightFrequency > 0.0 ? 2.0 * M_PI * rightFrequency / sampleRate : w;
    for (unsigned int i = 0; i < frames; ++i) {
        out[2 * i] = amplitude * std::sin(w * i);
        out[2 * i + 1] = amplitude * std::sin(wRight * i + phase);
    }
    return out;
}

std::vector<double> constant(unsigned int frames, double value)
{
    return std::vector<double>(size_t(frames) * 2, value);
}

std::vector<double> operator+(std::vector<double> a, const std::vector<double>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<double> noise(size_t count, unsigned int seed, double amplitude)
{
    std::mt19937 generator(seed);
    std::vector<double> v(count);
    for (double& x : v)
        x = amplitude * (2.0 * (double(generator()) / 4294967295.0) - 1.0);
    return v;
}

std::vector<double> interleave(const std::vector<double>& left, const std::vector<double>& right)
{
    std::vector<double> v(2 * left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        v[2 * i] = left[i];
        v[2 * i + 1] = right[i];
    }
    return v;
}

std::vector<double> stereoNoise(size_t frames, unsigned int seed)
{
    return interleave(noise(frames, seed), noise(frames, seed + 100));
}

double peakOf(const std::vector<double>& samples, size_t fromFrame, size_t toFrame)
{
    double peak = 0.0;
    const size_t end = std::min(toFrame, samples.size() / 2);
    for (size_t i = fromFrame; i < end; ++i)
        peak = std::max({ peak, std::fabs(samples[2 * i]), std::fabs(samples[2 * i + 1]) });
    return peak;
}

double rmsDbOf(const std::vector<double>& samples, size_t fromFrame, size_t toFrame, unsigned int channel)
{
    double sum = 0.0;
    const size_t end = std::min(toFrame, samples.size() / 2);
    for (size_t i = fromFrame; i < end; ++i)
        sum += samples[2 * i + channel] * samples[2 * i + channel];
    return 10.0 * std::log10(sum / double(end - fromFrame));
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

double toDb(double amplitude)
{
    return 20.0 * std::log10(amplitude);
}

double fromDb(double decibels)
{
    return std::pow(10.0, decibels / 20.0);
}

static int framesOf(double seconds, unsigned int sampleRate)
{
    return static_cast<int>(std::floor(seconds * sampleRate + 0.5));
}

std::vector<RMSStepDetector::Region> regionsOf(const std::vector<RegionLayout>& layouts, unsigned int sampleRate)
{
    std::vector<RMSStepDetector::Region> regions;
    int begin = 0;
    for (const RegionLayout& layout : layouts) {
        const double level = std::pow(10.0, layout.rmsDb / 10.0);
        regions.push_back({ begin, framesOf(layout.seconds, sampleRate), level, level, 100, layout.noise });
        begin += regions.back().length;
    }
    regions.push_back({ begin, 1, 0.0, 0.0, 1, false }); // the end marker
    return regions;
}

std::vector<double> recordingOf(const std::vector<RegionLayout>& layouts, unsigned int sampleRate)
{
    std::vector<double> out;
    long long index = 0;
    for (const RegionLayout& layout : layouts) {
        const int frames = framesOf(layout.seconds, sampleRate);
        const double amplitude = fromDb(layout.rmsDb) * std::sqrt(2.0);
        for (int i = 0; i < frames; ++i, ++index) {
            const double v = amplitude * std::sin(2.0 * M_PI * 1000.0 * double(index) / sampleRate + 0.1);
            out.push_back(v);
            out.push_back(v);
        }
    }
    return out;
}

} // namespace testsupport

#if defined(__SANITIZE_THREAD__)
// The OpenMP runtime hands the variables of a parallel region to its workers
// in a block that the master fills right before the region starts, and the
// workers read it before any annotation can run (the library marks the rest
// of the fork and the join, see tulv/core/ThreadAnnotations.h). Those reads
// are the only reports whose innermost frame is the region itself; a race
// inside a member of a branch has that member's code as its innermost frame
// and is still reported. The sanitizer looks this hook up in the executable.
extern "C" const char* __tsan_default_suppressions()
{
    return "race_top:SoundAlgoComposite::process\n"
           "race_top:SoundAlgoAdd::process\n"
           "race_top:SoundAlgoEqFIR::process\n";
}
#endif
