#ifndef TULV_TESTS_SUPPORT_COMMON_H
#define TULV_TESTS_SUPPORT_COMMON_H

// What every suite needs: owning handles for algorithms, scope guards for the
// library's global state, message captures, signal generators and runners.
// Signals are interleaved stereo: frame i at [2i] (left) and [2i + 1] (right).

#include "tulv/core/SoundAlgo.h"
#include "tulv/core/SoundBuffer.h"
#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/io/SoundReader.h"

#include <QStringList>
#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

namespace testsupport {

// Lets an algorithm go through its reference count.
struct AlgoRelease {
    void operator()(SoundAlgo* algo) const
    {
        if (algo)
            algo->release();
    }
};
template <class T> using AlgoRef = std::unique_ptr<T, AlgoRelease>;

// Undoes a change to the library's global state when the scope ends, however
// it ends, so that a failed assertion cannot leak the change into later tests.
class ScopeGuard {
public:
    explicit ScopeGuard(std::function<void()> undo) : mUndo(std::move(undo)) {}
    ~ScopeGuard() { mUndo(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    std::function<void()> mUndo;
};

// Sets the default block size for the life of a scope.
struct DefaultBlockSize : ScopeGuard {
    explicit DefaultBlockSize(unsigned int frames);
};

// The names the MP3 writer tries for the LAME library, set for the life of a
// scope (an empty list keeps the present ones).
struct LameLibraryNames : ScopeGuard {
    explicit LameLibraryNames(const QStringList& names);
};

// Files this process writes are cut at `bytes` for the life of a scope: a
// write past the limit fails as on a full disk.
struct FileSizeLimit : ScopeGuard {
    explicit FileSizeLimit(unsigned long bytes);
};

// The library's diagnostic stream, captured for the life of a scope, with
// verbose output on if asked.
class DebugCapture {
public:
    explicit DebugCapture(bool verbose = false);
    std::string text() const { return mText.str(); }

private:
    std::ostringstream mText;
    ScopeGuard mRestore; // after mText: the stream is given back before it goes
};

// The Qt messages logged while it lives, as "W:" / "C:" / "O:" prefixed texts.
class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    const QStringList& lines() const { return mLines; }
    bool has(const QString& prefixedFragment) const;

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text);
    QStringList mLines;
    QtMessageHandler mPrevious;
    MessageLog* mOuter;
};

// Runs `work` on its own thread; a run that misses the deadline is reported
// as a failure and ends the test program instead of hanging it.
void runWithDeadline(const std::function<void()>& work, int seconds);

// `input` through the algorithm's block loop with the given default block
// (0 keeps the present one). The writer takes the source's length only: what
// the flush pushes out behind it is left out unless `withTail`. A run that
// fails fails the test; runStatus is for runs meant to fail.
std::vector<double> runThrough(SoundAlgo& algo, const std::vector<double>& input, unsigned int block = 0,
                               unsigned int sampleRate = 44100, bool withTail = false);
SoundTools::Status runStatus(SoundAlgo& algo, const std::vector<double>& input, unsigned int sampleRate = 44100);
inline std::vector<double> runWithTail(SoundAlgo& algo, const std::vector<double>& input,
                                       unsigned int sampleRate = 44100)
{
    return runThrough(algo, input, 0, sampleRate, true);
}

// Runs `algo` from `reader` on a worker thread while another thread calls
// `poke` every `pauseUs` microseconds, as a user interface would. Fails the
// test rather than hangs (deadline 120 s). Returns the frames written.
std::vector<double> runWhilePoked(SoundAlgo& algo, SoundReader& reader, const std::function<void()>& poke,
                                  int pauseUs);

// A sine of `amplitude` at `frequency` Hz, the right channel shifted by
// `phase` and, when `rightFrequency` is not 0, at that frequency instead.
std::vector<double> sine(unsigned int frames, double frequency, double amplitude, unsigned int sampleRate = 44100,
                         double phase = 0.0, double rightFrequency = 0.0);
std::vector<double> constant(unsigned int frames, double value);
std::vector<double> operator+(std::vector<double> a, const std::vector<double>& b);
// Reproducible white noise in [−amplitude, amplitude], one channel.
std::vector<double> noise(size_t count, unsigned int seed, double amplitude = 0.5);
// Stereo white noise, the channels independent.
std::vector<double> stereoNoise(size_t frames, unsigned int seed);
std::vector<double> interleave(const std::vector<double>& left, const std::vector<double>& right);

double peakOf(const std::vector<double>& samples, size_t fromFrame = 0, size_t toFrame = SIZE_MAX);
// RMS in dB of one channel over frames [fromFrame, toFrame).
double rmsDbOf(const std::vector<double>& samples, size_t fromFrame = 0, size_t toFrame = SIZE_MAX,
               unsigned int channel = 0);
inline size_t frameCount(const std::vector<double>& samples) { return samples.size() / 2; }
bool sameBits(const std::vector<double>& a, const std::vector<double>& b);
double toDb(double amplitude);
double fromDb(double decibels);

// Regions for the algorithms that follow a detector: `seconds` of a tone
// whose RMS is `rmsDb` (both channels), or of noise.
struct RegionLayout {
    double seconds;
    double rmsDb;
    bool noise = false;
};
// The regions that tile the layouts from frame 0 (levels as mean squares),
// with the end marker a finished run leaves behind.
std::vector<RMSStepDetector::Region> regionsOf(const std::vector<RegionLayout>& layouts, unsigned int sampleRate);
// The recording the layouts describe: a 1 kHz sine per region at its RMS.
std::vector<double> recordingOf(const std::vector<RegionLayout>& layouts, unsigned int sampleRate);

} // namespace testsupport

#endif
