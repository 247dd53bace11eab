#include "tests/support/GraphAlgos.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

namespace testsupport {

FanOut::FanOut(std::vector<Line> lines)
    : mLines(std::move(lines))
{
}

SoundTools::Status FanOut::process()
{
    const unsigned int n = getOutFrameNb();
    const int inFirst = getInOrigin();
    const int outFirst = getOutOrigin();
    for (size_t port = 0; port < mLines.size(); ++port) {
        for (unsigned int k = 0; k < n; ++k) {
            const double* x = getInBuffer(0)->getFrame(inFirst + int(k));
            double* y = getOutBuffer(unsigned(port))->getFrame(outFirst + int(k));
            if (!x || !y)
                return SoundTools::Error;
            for (int c = 0; c < 2; ++c)
                y[c] = mLines[port].gain * x[c] + mLines[port].offset;
        }
    }
    return SoundTools::Ok;
}

GeometryCopy::GeometryCopy(Geometry geometry, double gain, QString id)
    : SoundAlgo(std::move(id))
    , mGeometry(geometry)
    , mGain(gain)
{
}

GeometryCopy::~GeometryCopy()
{
    if (mCounter)
        ++*mCounter;
}

SoundTools::Status GeometryCopy::process()
{
    if (mProbe)
        mProbe();
    if (mFailure != SoundTools::Ok)
        return mFailure;
    auto in = getInBuffer(0);
    auto out = getOutBuffer(0);
    const int first = getOutOrigin() + static_cast<int>(mGeometry.outOverlap);
    const int end = getOutOrigin() + static_cast<int>(getOutFrameNb());
    const int delay = static_cast<int>(mGeometry.delay);
    for (int j = first; j < end; ++j) {
        const double* source = in->getFrame(j - delay);
        double* target = out->getFrame(j);
        // Reading past the input's valid frames would mean the graph handed
        // this member less than its geometry promised.
        if (!source || !target || j - delay > in->getEnd())
            return SoundTools::Error;
        target[0] = mGain * source[0];
        target[1] = mGain * source[1];
    }
    return SoundTools::Ok;
}

RunResult runGraph(SoundAlgo& algo, SoundReader& reader)
{
    CapturingWriter writer(reader.getSampleRate());
    RunResult result;
    result.status = algo.processAll(reader, &writer);
    result.samples = writer.samples();
    return result;
}

void runWithDeadline(const std::function<void()>& work, int seconds)
{
    std::packaged_task<void()> task(work);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        ADD_FAILURE() << "deadline of " << seconds << " s missed";
        std::fprintf(stderr, "a threaded run missed its deadline of %d s; ending the tests\n", seconds);
        std::fflush(stderr);
        std::_Exit(1);
    }
    runner.join();
    done.get();
}

namespace {
MessageLog* sMessageLog = nullptr;
}

MessageLog::MessageLog()
{
    sMessageLog = this;
    mPrevious = qInstallMessageHandler(&MessageLog::handle);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(mPrevious);
    sMessageLog = nullptr;
}

bool MessageLog::has(const QString& prefixedFragment) const
{
    const QString prefix = prefixedFragment.left(2);
    const QString fragment = prefixedFragment.mid(2);
    for (const QString& line : mLines)
        if (line.startsWith(prefix) && line.contains(fragment))
            return true;
    return false;
}

void MessageLog::handle(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (sMessageLog)
        sMessageLog->mLines.append((type == QtWarningMsg ? "W:" : type == QtCriticalMsg ? "C:" : "O:") + text);
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
