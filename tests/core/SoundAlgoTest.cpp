// The algorithm base seen from a host: signals, stop requests, failures,
// diagnostics and reference counts.
#include "tests/support/GraphAlgos.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

using namespace testsupport;

namespace {

// A copy whose protected parts the tests reach, with a configurable shape.
class Copy : public GeometryCopy {
public:
    explicit Copy(Geometry g = {}, QString id = QString(), unsigned int inputs = 1, unsigned int frameSize = 1)
        : GeometryCopy(g, 1.0, std::move(id))
        , mInputs(inputs)
        , mFrameSize(frameSize)
    {
    }
    using SoundAlgo::useInputs;

protected:
    unsigned int getInputNumber() const override { return mInputs; }
    unsigned int getInFrameSize() const override { return mFrameSize; }

private:
    unsigned int mInputs;
    unsigned int mFrameSize;
};

// Records the signals of a run in order: "b<frames>", "p<done>/<total>",
// "e<status>/<frames>", separated by spaces.
struct SignalLog {
    explicit SignalLog(SoundAlgo* algo)
    {
        const auto add = [this](const std::string& event) { events += (events.empty() ? "" : " ") + event; };
        QObject::connect(algo, &SoundAlgo::notifyBegin, [add](unsigned int n) { add("b" + std::to_string(n)); });
        QObject::connect(algo, &SoundAlgo::notifyInProgress, [add](unsigned int done, unsigned int total) {
            add("p" + std::to_string(done) + "/" + std::to_string(total));
        });
        QObject::connect(algo, &SoundAlgo::notifyEnd, [add](int status, unsigned int n) {
            add("e" + std::to_string(status) + "/" + std::to_string(n));
        });
    }
    std::string events;
};

} // namespace

// The prefix and the warning are checked with the JSON registry's errors.
TEST(Diagnostics, AnEmptyMessageKeepsTheLastErrorAndJunkIsNamed)
{
    MessageLog log;
    SoundDebuggableClass::setError("bare", nullptr);
    SoundDebuggableClass::setError("", "elsewhere");
    EXPECT_EQ(SoundDebuggableClass::getError(), "bare");
    EXPECT_EQ(log.lines(), QStringList { "W:bare" }) << "an empty message logs nothing";
    SoundDebuggableClass::setError(QString(QChar(0)) + "junk", "open");
    EXPECT_EQ(SoundDebuggableClass::getError(), "open : Unknown system error.");
}

TEST(ProcessAll, SignalsStopsAndFailuresEndTheRunAsTheySay)
{
    struct Case {
        const char* name;
        unsigned int frames, shift;
        int stopAt, failAt; // blocks whose process asks to stop, fails
        size_t writerFailsAfter;
        bool writer;
        SoundTools::Status status;
        size_t written;
        std::string events;
        int allocFailsAt = -1; // block whose process runs out of memory
        unsigned int inputs = 1;
    };
    using namespace SoundTools;
    const Case cases[] = {
        { "whole run", 2500, 0, -1, -1, SIZE_MAX, true, Ok, 2500, "b2500 p1000/2500 p2000/2500 p2500/2500 e0/2500" },
        { "empty source", 0, 0, -1, -1, SIZE_MAX, true, Ok, 0, "b0 e0/0" },
        // One block carries the sample shift's silence out.
        { "empty source with shift", 0, 7, -1, -1, SIZE_MAX, true, Ok, 7, "b0 p0/0 e0/0" },
        // The block in progress is written whole; a stop asked before the run was cleared at its start.
        { "stop", 9000, 0, 3, -1, SIZE_MAX, true, Stopped, 3000, "b9000 p1000/9000 p2000/9000 p3000/9000 e2/3000" },
        // Nothing of the failed block is written, no progress for it.
        { "process fails", 5000, 0, -1, 2, SIZE_MAX, true, Error, 1000, "b5000 p1000/5000 e1/2000" },
        // A buffer that cannot be had ends the run like a failure, not the process.
        { "memory runs out", 5000, 0, -1, -1, SIZE_MAX, true, Error, 1000, "b5000 p1000/5000 e1/2000", 2 },
        { "writer fails", 5000, 0, -1, -1, 1500, true, Error, 1500, "b5000 p1000/5000 p2000/5000 e1/2000" },
        { "no writer", 2500, 0, -1, -1, SIZE_MAX, false, Ok, 0, "b2500 p1000/2500 p2000/2500 p2500/2500 e0/2500" },
        // A top algorithm with two inputs cannot run: no signal at all.
        { "two inputs", 5000, 0, -1, -1, SIZE_MAX, false, Error, 0, "", -1, 2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DefaultBlockSize size(1000);
        GeneratorReader reader(c.frames);
        CapturingWriter writer;
        writer.failAfter(c.writerFailsAfter);
        AlgoRef<Copy> algo(new Copy({ 0, 0, 0, c.shift }, QString(), c.inputs));
        int blocks = 0;
        algo->setProbe([&] {
            ++blocks;
            if (blocks == c.stopAt)
                algo->pleaseStop();
            if (blocks == c.failAt)
                algo->failWith(SoundTools::Error);
            if (blocks == c.allocFailsAt)
                throw std::bad_alloc();
        });
        algo->pleaseStop(); // left from before the run
        SignalLog log(algo.get());
        MessageLog messages;
        SoundDebuggableClass::setError("disk full", "writer");
        EXPECT_EQ(algo->processAll(reader, c.writer ? &writer : nullptr), c.status);
        EXPECT_EQ(writer.frames(), c.written);
        EXPECT_EQ(log.events, c.events);
        EXPECT_TRUE(c.allocFailsAt < 0 || SoundDebuggableClass::getError().contains("Not enough memory"));
        EXPECT_TRUE(c.writerFailsAfter == SIZE_MAX || messages.has("W:writer : disk full")) << "logged again";
    }
}

TEST(StopRequests, ThreadedStopFromAnotherThreadEndsTheRun)
{
    GeneratorReader reader(2000000000u);
    AlgoRef<Copy> algo(new Copy);
    std::atomic<bool> started { false };
    QObject::connect(algo.get(), &SoundAlgo::notifyInProgress, [&] { started = true; });
    std::thread stopper([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!started && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        QMetaObject::invokeMethod(algo.get(), "pleaseStop", Qt::DirectConnection);
    });
    // A stop never heard would run for hours: the deadline ends the test.
    SoundTools::Status status = SoundTools::Error;
    runWithDeadline([&] { status = algo->processAll(reader, nullptr); }, 30);
    stopper.join();
    EXPECT_EQ(status, SoundTools::Stopped);
}

TEST(SharedInputs, MismatchedShapesAreRefused)
{
    MessageLog messages;
    AlgoRef<Copy> one(new Copy({}, QStringLiteral("one")));
    AlgoRef<Copy> two(new Copy({}, QString(), 2));
    AlgoRef<Copy> wide(new Copy({}, QString(), 1, 2));
    EXPECT_EQ(one->useInputs(two.get()), SoundTools::Ok);
    EXPECT_EQ(two->useInputs(one.get()), SoundTools::Error);
    EXPECT_TRUE(messages.has("C:Error in sharing inputs : ")) << messages.lines().join('\n').toStdString();
    EXPECT_TRUE(messages.has("C: has 1 inputs whereas ") && messages.has("C: has 2 inputs."));
    EXPECT_EQ(wide->useInputs(one.get()), SoundTools::Error);
    EXPECT_TRUE(messages.has("C:has frames of size 1 whereas"));
}
