#include "tests/support/Common.h"
#include "tests/support/MemoryIO.h"

#include "tulv/io/SoundReaderBuffer.h"
#include "tulv/io/SoundWriterBuffer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>
#include <thread>

using testsupport::rampBlock;
using testsupport::rampValue;

namespace {

constexpr unsigned int kRate = 44100;

// Reads chunks of random size until `want` frames or the queue is stopped;
// returns how many frames matched the ramp in order.
long long consume(SoundReaderBuffer& q, long long want)
{
    std::mt19937 rng(3);
    long long got = 0;
    while (got < want) {
        auto buf = SoundBuffer::createNew(kRate);
        buf->alloc(1 + rng() % 3000, 2, 1, 1);
        const unsigned int n = q.stereoRead(buf, 0);
        for (unsigned int i = 0; i < n; ++i, ++got)
            if (buf->getRelFrame(int(i))[0] != rampValue(int(got), 0)
                || buf->getRelFrame(int(i))[1] != rampValue(int(got), 1))
                return got;
        if (n == 0 && q.getStatus() == SoundTools::Stopped)
            break;
    }
    return got;
}

} // namespace

// Thousands of blocks of random sizes with an overlap tail, pushed and read
// at random paces: every frame arrives once and in order, across runs joined
// by restart; an interrupt at any moment releases both sides.
TEST(BlockQueue, ThreadedStressKeepsEveryFrameInOrder)
{
    struct Case {
        const char* name;
        int runs, blocksPerRun;
        unsigned int tail;
        int interruptAfterMs; // < 0: none
    };
    const Case cases[] = {
        { "one run", 1, 3000, 256, -1 },
        { "no tail", 1, 2000, 0, -1 },
        { "three runs joined by restart", 3, 700, 100, -1 },
        { "interrupted while flowing", 1, 100000, 64, 30 },
        { "interrupted at once", 1, 100000, 64, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundReaderBuffer queue(kRate, 3);
        ASSERT_EQ(queue.open(QString()), SoundTools::Ok);
        int finishedSignals = 0;
        QObject::connect(&queue, &SoundReaderBuffer::readFinished, [&] { ++finishedSignals; });
        std::mt19937 rng(7);
        std::vector<unsigned int> sizes(size_t(c.runs) * c.blocksPerRun);
        long long total = 0;
        for (unsigned int& s : sizes)
            total += (s = c.tail + 1 + rng() % 2500) - c.tail;
        auto producer = std::async(std::launch::async, [&] {
            int origin = 0;
            for (int r = 0; r < c.runs; ++r) {
                queue.restart();
                SoundWriterBuffer writer(&queue);
                for (int k = 0; k < c.blocksPerRun; ++k) {
                    const unsigned int n = sizes[size_t(r) * c.blocksPerRun + k];
                    if (writer.writeBuffer(rampBlock(origin, n), c.tail) != SoundTools::Ok)
                        return false;
                    origin += int(n - c.tail);
                    if (n % 64 == 0)
                        std::this_thread::sleep_for(std::chrono::microseconds(300));
                }
                queue.finished();
            }
            return true;
        });
        auto consumer = std::async(std::launch::async, [&] { return consume(queue, total); });
        if (c.interruptAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.interruptAfterMs));
            queue.interrupt();
        }
        testsupport::runWithDeadline([&] { producer.wait(); }, 60);
        testsupport::runWithDeadline([&] { consumer.wait(); }, 60);
        const bool pushedAll = producer.get();
        const long long got = consumer.get();
        EXPECT_EQ(pushedAll, c.interruptAfterMs < 0);
        if (c.interruptAfterMs < 0) {
            EXPECT_EQ(got, total);
            // After the end a further read is empty and reports the end again.
            EXPECT_EQ(queue.stereoRead(rampBlock(0, 16), 0), 0u);
            EXPECT_GE(finishedSignals, 2);
        } else {
            EXPECT_EQ(queue.getStatus(), SoundTools::Stopped);
            EXPECT_LT(got, total);
        }
    }
}

// The lifecycle between runs, and what a full queue does to the producer.
TEST(BlockQueue, ThreadedStatesAndFullQueue)
{
    SoundReaderBuffer queue(kRate, 3);
    EXPECT_EQ(queue.pushBuffer(rampBlock(0, 10)), SoundTools::Error) << "closed queue accepted a block";
    ASSERT_EQ(queue.open(QString()), SoundTools::Ok);
    EXPECT_EQ(queue.open(QString()), SoundTools::Error);
    EXPECT_EQ(queue.pushBuffer(SoundBuffer::createNew(kRate)), SoundTools::Ok);
    for (int k = 0; k < 3; ++k)
        ASSERT_EQ(queue.pushBuffer(rampBlock(k * 100, 100)), SoundTools::Ok);
    queue.finished();
    queue.restart(); // an ended queue takes more blocks and keeps the ones it has
    EXPECT_EQ(queue.getStatus(), SoundTools::Waiting);
    EXPECT_EQ(queue.getFrameNB(), 300u) << "a block without frames was queued, or a restart lost blocks";
    auto fourth = std::async(std::launch::async, [&] { return queue.pushBuffer(rampBlock(300, 100)); });
    EXPECT_EQ(fourth.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout) << "a full queue took it";
    queue.interrupt();
    ASSERT_EQ(fourth.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "interrupt left it blocked";
    EXPECT_EQ(fourth.get(), SoundTools::Stopped);
    queue.restart();
    EXPECT_EQ(queue.getStatus(), SoundTools::Stopped) << "a stopped queue must stay stopped until closed";
    queue.close();
    queue.restart();
    EXPECT_EQ(queue.getStatus(), SoundTools::Waiting);
    EXPECT_EQ(queue.getFrameNB(), 0u) << "a reopened queue kept old blocks";
}
