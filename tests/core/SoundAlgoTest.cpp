// The algorithm base seen from a host: signals, stop requests, failures,
// diagnostics and reference counts.
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgo.h"


#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

using testsupport::CapturingWriter;
using testsupport::GeneratorReader;

namespace {

// Qt log lines of a test, as "W:" / "C:" prefixed texts.
class MessageCapture {
public:
    MessageCapture()
    {
        sLines().clear();
        mPrevious = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture() { qInstallMessageHandler(mPrevious); }
    const QStringList& lines() const { return sLines(); }

private:
    static QStringList& sLines()
    {
        static QStringList lines;
        return lines;
    }
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        sLines().append((type == QtWarningMsg ? "W:" : type == QtCriticalMsg ? "C:" : "O:") + text);
    }
    QtMessageHandler mPrevious;
};

class Copy : public SoundAlgo {
public:
    using SoundAlgo::SoundAlgo;
    SoundTools::Status process() override
    {
        ++blocks;
        if (failAtBlock == blocks)
            return SoundTools::Error;
        auto in = getInBuffer(0);
        auto out = getOutBuffer(0);
        for (int j = getOutOrigin(); j < getOutOrigin() + int(getOutFrameNb()); ++j) {
            out->getFrame(j)[0] = in->getFrame(j)[0];
            out->getFrame(j)[1] = in->getFrame(j)[1];
        }
        if (stopAtBlock == blocks)
            pleaseStop();
        return SoundTools::Ok;
    }
    using SoundAlgo::debugBuffers;
    using SoundAlgo::useInputs;
    int blocks = 0;
    int failAtBlock = -1;
    int stopAtBlock = -1;
    unsigned int shift = 0;
    bool* destroyed = nullptr;

protected:
    ~Copy() override
    {
        if (destroyed)
            *destroyed = true;
    }
    unsigned int getSampleShift(unsigned int) const override { return shift; }
};

class TwoInputs : public Copy {
protected:
    unsigned int getInputNumber() const override { return 2; }
};

class WideFrames : public Copy {
protected:
    unsigned int getInFrameSize() const override { return 2; }
};

struct Released {
    void operator()(SoundAlgo* algo) const { algo->release(); }
};
template <typename T>
using Owned = std::unique_ptr<T, Released>;

// Records the signals of a run in order, with their arguments.
struct SignalLog {
    explicit SignalLog(SoundAlgo* algo)
    {
        QObject::connect(algo, &SoundAlgo::notifyBegin, [this](unsigned int n) { events.push_back("begin " + std::to_string(n)); });
        QObject::connect(algo, &SoundAlgo::notifyInProgress, [this](unsigned int done, unsigned int total) {
            events.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
        });
        QObject::connect(algo, &SoundAlgo::notifyEnd, [this](int status, unsigned int n) {
            events.push_back("end " + std::to_string(status) + " " + std::to_string(n));
        });
    }
    std::vector<std::string> events;
};

class BlockSize : public ::testing::Test {
protected:
    void SetUp() override { SoundBuffer::setDefaultSize(1000); }
    void TearDown() override { SoundBuffer::setDefaultSize(1024); }
};

} // namespace

TEST(Diagnostics, SetErrorPrefixesWhereAndLogsAWarning)
{
    MessageCapture log;
    SoundDebuggableClass::setError("Unknown class Foo", "SoundAlgo::createFromJSon");
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundAlgo::createFromJSon : Unknown class Foo");
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_EQ(log.lines()[0], "W:SoundAlgo::createFromJSon : Unknown class Foo");

    SoundDebuggableClass::setError("", "elsewhere");
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundAlgo::createFromJSon : Unknown class Foo")
        << "an empty message keeps the last error";
    EXPECT_EQ(log.lines().size(), 1) << "and logs nothing";

    SoundDebuggableClass::setError("bare", nullptr);
    EXPECT_EQ(SoundDebuggableClass::getError(), "bare");

    SoundDebuggableClass::setError(QString(QChar(0)) + "junk", "open");
    EXPECT_EQ(SoundDebuggableClass::getError(), "open : Unknown system error.");
}

TEST(Diagnostics, StreamAndSwitchesAreSettable)
{
    std::ostringstream text;
    SoundDebuggableClass::setOStream(&text);
    SoundDebuggableClass::getOStream() << "hello";
    SoundDebuggableClass::setOStream(&std::cout);
    EXPECT_EQ(text.str(), "hello");
    EXPECT_EQ(&SoundDebuggableClass::getOStream(), &std::cout);

    EXPECT_FALSE(SoundDebuggableClass::isDebug());
    SoundDebuggableClass::setDebug(true);
    SoundDebuggableClass::setVerbose(true);
    EXPECT_TRUE(SoundDebuggableClass::isDebug() && SoundDebuggableClass::isVerbose());
    SoundDebuggableClass::setDebug(false);
    SoundDebuggableClass::setVerbose(false);
}

TEST(ReferenceCount, TheLastOwnerDeletesExactlyOnce)
{
    bool destroyed = false;
    auto* algo = new Copy;
    algo->destroyed = &destroyed;
    algo->addRef(); // a second owner, a player say
    algo->release();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(algo->getRefCount(), 1);
    algo->release();
    EXPECT_TRUE(destroyed);
}

TEST(AlgoNames, ClassNameAndIdentifier)
{
    Owned<Copy> plain(new Copy);
    Owned<Copy> named(new Copy(QStringLiteral("left")));
    EXPECT_TRUE(plain->getName().endsWith("Copy")) << plain->getName().toStdString();
    EXPECT_EQ(named->getName(), plain->getName() + "(left)");
}

TEST_F(BlockSize, SignalsComeInOrderWithTheirCounts)
{
    GeneratorReader reader(2500);
    CapturingWriter writer;
    Owned<Copy> algo(new Copy);
    SignalLog log(algo.get());
    EXPECT_EQ(algo->processAll(reader, &writer), SoundTools::Ok);
    const std::vector<std::string> expected = { "begin 2500", "progress 1000/2500", "progress 2000/2500",
                                                "progress 2500/2500", "end 0 2500" };
    EXPECT_EQ(log.events, expected);
    EXPECT_EQ(writer.frames(), 2500u);
}

TEST_F(BlockSize, EmptySourceWithAndWithoutSampleShift)
{
    {
        GeneratorReader reader(0);
        CapturingWriter writer;
        Owned<Copy> algo(new Copy);
        SignalLog log(algo.get());
        EXPECT_EQ(algo->processAll(reader, &writer), SoundTools::Ok);
        EXPECT_EQ(log.events, (std::vector<std::string> { "begin 0", "end 0 0" }));
        EXPECT_EQ(writer.frames(), 0u);
    }
    {
        GeneratorReader reader(0);
        CapturingWriter writer;
        Owned<Copy> algo(new Copy);
        algo->shift = 7;
        SignalLog log(algo.get());
        EXPECT_EQ(algo->processAll(reader, &writer), SoundTools::Ok);
        EXPECT_EQ(algo->blocks, 1) << "one block carries the sample shift";
        EXPECT_EQ(writer.frames(), 7u);
        EXPECT_EQ(writer.at(6, 1), 0.0);
    }
}

TEST_F(BlockSize, StopFinishesTheBlockInProgress)
{
    GeneratorReader reader(10000);
    CapturingWriter writer;
    Owned<Copy> algo(new Copy);
    algo->pleaseStop(); // left from before the run: cleared at its start
    algo->stopAtBlock = 3;
    SignalLog log(algo.get());
    EXPECT_EQ(algo->processAll(reader, &writer), SoundTools::Stopped);
    EXPECT_EQ(writer.frames(), 3000u) << "the third block is written whole";
    EXPECT_EQ(log.events.back(), "end 2 3000");
    EXPECT_EQ(log.events[log.events.size() - 2], "progress 3000/10000");
}

TEST(StopRequests, ThreadedStopFromAnotherThreadEndsTheRun)
{
    GeneratorReader reader(2000000000u);
    Owned<Copy> algo(new Copy);
    std::atomic<bool> started { false };
    QObject::connect(algo.get(), &SoundAlgo::notifyInProgress, [&] { started = true; });
    std::thread stopper([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!started && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        QMetaObject::invokeMethod(algo.get(), "pleaseStop", Qt::DirectConnection);
    });
    const auto begin = std::chrono::steady_clock::now();
    const SoundTools::Status status = algo->processAll(reader, nullptr);
    stopper.join();
    EXPECT_EQ(status, SoundTools::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30)) << "the stop was not heard";
}

TEST_F(BlockSize, FailuresEndTheRunWithTheirStatus)
{
    {
        // A process failure: nothing of that block is written, no progress for it.
        GeneratorReader reader(5000);
        CapturingWriter writer;
        Owned<Copy> algo(new Copy);
        algo->failAtBlock = 2;
        SignalLog log(algo.get());
        EXPECT_EQ(algo->processAll(reader, &writer), SoundTools::Error);
        EXPECT_EQ(writer.frames(), 1000u);
        EXPECT_EQ(log.events.back(), "end 1 2000");
        EXPECT_EQ(log.events.size(), 3u);
    }
    {
        // A writer failure: logged again, the run ends after that block's progress.
        MessageCapture messages;
        GeneratorReader reader(5000);
        CapturingWriter writer;
        writer.failAfter(1500);
        Owned<Copy> algo(new Copy);
        SignalLog log(algo.get());
        SoundDebuggableClass::setError("disk full", "writer");
        EXPECT_EQ(algo->processAll(reader, &writer), SoundTools::Error);
        EXPECT_EQ(log.events.back(), "end 1 2000");
        EXPECT_EQ(log.events[log.events.size() - 2], "progress 2000/5000");
        EXPECT_TRUE(messages.lines().contains("W:writer : disk full"));
    }
    {
        // A top algorithm with two inputs cannot run: no signal, no endProcess.
        GeneratorReader reader(5000);
        Owned<TwoInputs> algo(new TwoInputs);
        SignalLog log(algo.get());
        EXPECT_EQ(algo->processAll(reader, nullptr), SoundTools::Error);
        EXPECT_TRUE(log.events.empty());
    }
}

TEST_F(BlockSize, WithoutAWriterTheRunIsTheSame)
{
    GeneratorReader reader(3500);
    Owned<Copy> algo(new Copy);
    SignalLog log(algo.get());
    EXPECT_EQ(algo->processAll(reader, nullptr), SoundTools::Ok);
    EXPECT_EQ(algo->blocks, 4);
    EXPECT_EQ(log.events.back(), "end 0 3500");
}

TEST(SharedInputs, MismatchedShapesAreRefused)
{
    MessageCapture messages;
    Owned<Copy> one(new Copy(QStringLiteral("one")));
    Owned<TwoInputs> two(new TwoInputs);
    Owned<WideFrames> wide(new WideFrames);
    EXPECT_EQ(one->useInputs(two.get()), SoundTools::Ok);
    EXPECT_EQ(static_cast<Copy*>(two.get())->useInputs(one.get()), SoundTools::Error);
    ASSERT_FALSE(messages.lines().isEmpty());
    EXPECT_TRUE(messages.lines().last().startsWith("C:Error in sharing inputs : "));
    EXPECT_TRUE(messages.lines().last().contains(" has 1 inputs whereas ")) << messages.lines().last().toStdString();
    EXPECT_TRUE(messages.lines().last().endsWith(" has 2 inputs."));
    EXPECT_EQ(static_cast<Copy*>(wide.get())->useInputs(one.get()), SoundTools::Error);
    EXPECT_TRUE(messages.lines().last().contains("has frames of size 1 whereas"));
}

TEST_F(BlockSize, DebugDumpDescribesThePorts)
{
    GeneratorReader reader(100);
    Owned<Copy> algo(new Copy(QStringLiteral("dump")));
    SoundAlgo::LoopContext context;
    ASSERT_EQ(algo->initProcessLoop(reader, context), SoundTools::Ok);
    ASSERT_EQ(algo->singleProcessLoop(reader, context, nullptr), SoundTools::Ok);
    std::ostringstream text;
    SoundDebuggableClass::setOStream(&text);
    algo->debugBuffers();
    SoundDebuggableClass::setOStream(&std::cout);
    algo->endProcessLoop(context);
    const std::string dump = text.str();
    EXPECT_EQ(dump.rfind("=================================\n", 0), 0u);
    EXPECT_NE(dump.find("(dump) :\n"), std::string::npos);
    EXPECT_NE(dump.find("InBuffer.getOrigin :0 InBuffer.getEnd : 99 InBuffer.getFrameNB :100"), std::string::npos) << dump;
    EXPECT_NE(dump.find("getOutOrigin :0 getOutFrameNb :100 getOutEnd :99"), std::string::npos) << dump;
    EXPECT_NE(dump.find("getDelay :0\n"), std::string::npos);
}
