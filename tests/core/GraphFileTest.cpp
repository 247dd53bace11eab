// A graph of parallel branches run from a sound file written by sox into a
// sound file, checked against the same sum computed directly from the input.
#include "tests/support/GraphAlgos.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

std::vector<double> readAll(const QString& file, unsigned int* rate)
{
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(file));
    if (!reader || reader->open(file) != SoundTools::Ok)
        return {};
    *rate = reader->getSampleRate();
    std::vector<double> samples;
    auto buffer = SoundBuffer::createNew(*rate);
    buffer->alloc(4096, 2, 1, 1);
    while (reader->stereoRead(buffer, 0) > 0)
        for (unsigned int i = 0; i < buffer->getFrameNB(); ++i) {
            const double* frame = buffer->getRelFrame(int(i));
            samples.push_back(frame[0]);
            samples.push_back(frame[1]);
        }
    return samples;
}

} // namespace

TEST(GraphFiles, ParallelBranchesOfDifferentDelaysSumAlignedFileToFile)
{
    if (QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty())
        GTEST_SKIP() << "sox is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("tones.wav"));
    const QString target = dir.filePath(QStringLiteral("sum.wav"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("sox"),
                                { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                  QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("24"),
                                  source, QStringLiteral("synth"), QStringLiteral("1.3"), QStringLiteral("sine"),
                                  QStringLiteral("440"), QStringLiteral("sine"), QStringLiteral("1234"),
                                  QStringLiteral("gain"), QStringLiteral("-3") }),
              0);

    // Branch 0: −20 dB. Branch 1: 10 ms late, then rectified. The composite
    // gives branch 0 the same 441 frames of delay, so the two are summed at
    // the same instant of the input.
    testsupport::AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite(QStringLiteral("file graph")));
    auto* parallel = new SoundAlgoComposite;
    parallel->pushAlgo(new SoundAlgoScale(-20.0));
    parallel->addNewBranch();
    parallel->pushAlgo(new SoundAlgoDelay(0.01, false));
    parallel->pushAlgo(new SoundAlgoAbs);
    graph->pushAlgo(parallel);
    graph->pushAlgo(new SoundAlgoAdd);

    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(source));
    ASSERT_NE(reader, nullptr);
    ASSERT_EQ(reader->open(source), SoundTools::Ok);
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(target, 44100, 0, SoundTools::Float64));
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(writer->open(target), SoundTools::Ok);
    const SoundTools::Status status = graph->processAll(*reader, writer.get());
    writer->close();
    reader->close();
    ASSERT_EQ(status, SoundTools::Ok);

    unsigned int inRate = 0;
    unsigned int outRate = 0;
    const std::vector<double> in = readAll(source, &inRate);
    const std::vector<double> out = readAll(target, &outRate);
    ASSERT_EQ(inRate, 44100u);
    ASSERT_EQ(outRate, 44100u);
    const size_t frames = in.size() / 2;
    ASSERT_EQ(frames, size_t(57330)); // 1.3 s
    ASSERT_EQ(out.size() / 2, frames + 441);
    double worst = 0;
    for (size_t t = 0; t < out.size() / 2; ++t)
        for (size_t c = 0; c < 2; ++c) {
            const double x = t < 441 ? 0.0 : in[2 * (t - 441) + c];
            worst = std::max(worst, std::fabs(out[2 * t + c] - (0.1 * x + std::fabs(x))));
        }
    EXPECT_LT(worst, 1e-15);
}
