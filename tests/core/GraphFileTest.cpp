// A graph of parallel branches run from a sound file written by sox into a
// sound file, checked against the same sum computed directly from the input.
#include "tests/support/GraphAlgos.h"
#include "tests/support/IoFiles.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace iotest;

TEST(GraphFiles, ParallelBranchesOfDifferentDelaysSumAlignedFileToFile)
{
    if (!haveTool("sox"))
        GTEST_SKIP() << "sox is not installed";
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("tones.wav"));
    const QString target = dir.filePath(QStringLiteral("sum.wav"));
    ASSERT_TRUE(runTool("sox", { "-n", "-r", "44100", "-c", "2", "-b", "24", source, "synth", "1.3", "sine", "440",
                                 "sine", "1234", "gain", "-3" }));

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
    ASSERT_EQ(reader->open(source), SoundTools::Ok);
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(target, 44100, 0, SoundTools::Float64));
    ASSERT_EQ(writer->open(target), SoundTools::Ok);
    const SoundTools::Status status = graph->processAll(*reader, writer.get());
    writer->close();
    reader->close();
    ASSERT_EQ(status, SoundTools::Ok);

    unsigned int inRate = 0;
    unsigned int outRate = 0;
    Samples in;
    Samples out;
    ASSERT_TRUE(readFile(source, in, &inRate));
    ASSERT_TRUE(readFile(target, out, &outRate));
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
