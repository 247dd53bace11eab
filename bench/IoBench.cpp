// File-to-file throughput: a 10-minute stereo file converted through
// processAll with a copying algorithm, as `tulv convert` would run it.
// bench/compare-peers.sh times sox on the same files and prints the ratios.
//
// The input files come from the directory named by TULV_BENCH_INPUTS when it
// is set (the comparison script fills it with files made by sox), otherwise
// they are written once by our own writers into a temporary directory.
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"
#include "tulv/io/SoundWriterMp3.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr unsigned int kRate = 44100;
constexpr unsigned int kSeconds = 600;

struct Conversion {
    const char* input;  // file name in the input directory
    const char* output; // extension of the output
    SoundTools::SoundFormat format;
};

// Keep in step with the cases of bench/compare-peers.sh.
const Conversion kConversions[] = {
    {"in16.wav", "flac", SoundTools::Int16}, // 0: WAV16 -> FLAC16
    {"in16.flac", "wav", SoundTools::Int16}, // 1: FLAC16 -> WAV16
    {"in.mp3", "wav", SoundTools::Int16},    // 2: MP3 -> WAV16
    {"in24.flac", "wav", SoundTools::Int24}, // 3: FLAC24 -> WAV24
    {"in16.wav", "wav", SoundTools::Int16},  // 4: WAV16 -> WAV16
};

// Band-limited noise, like music for an encoder: neither silence nor a
// pure tone that a lossless coder would predict perfectly.
void writeInput(const QString& name, SoundTools::SoundFormat format)
{
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, kRate, 192, format));
    if (!writer || writer->open(name) != SoundTools::Ok)
        return;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.15);
    const unsigned int block = 65536;
    auto buffer = SoundBuffer::createNew(kRate);
    buffer->alloc(block, 2, 1, 1);
    double left = 0, right = 0;
    for (unsigned int at = 0; at < kRate * kSeconds; at += block) {
        const unsigned int n = std::min(block, kRate * kSeconds - at);
        buffer->setOrigin(static_cast<int>(at));
        buffer->setFrameNB(n);
        double* p = buffer->getRelFrame(0);
        for (unsigned int i = 0; i < n; ++i) {
            left = 0.9 * left + noise(random);
            right = 0.9 * right + noise(random);
            p[2 * i] = 0.3 * left;
            p[2 * i + 1] = 0.3 * right;
        }
        writer->writeBuffer(buffer, 0);
    }
    writer->close();
}

const QString& inputDir()
{
    static QTemporaryDir sOwn;
    static const QString sDir = [] {
        const char* given = std::getenv("TULV_BENCH_INPUTS");
        if (given && *given)
            return QString::fromLocal8Bit(given);
        writeInput(sOwn.filePath("in16.wav"), SoundTools::Int16);
        writeInput(sOwn.filePath("in16.flac"), SoundTools::Int16);
        writeInput(sOwn.filePath("in24.flac"), SoundTools::Int24);
        if (SoundWriterMp3::Init())
            writeInput(sOwn.filePath("in.mp3"), SoundTools::Int16);
        return sOwn.path();
    }();
    return sDir;
}

void BM_ConvertFile(benchmark::State& state)
{
    const Conversion& c = kConversions[state.range(0)];
    const QString input = QDir(inputDir()).filePath(c.input);
    if (!QFileInfo::exists(input)) {
        state.SkipWithError("input file missing (no encoder for it?)");
        return;
    }
    QTemporaryDir out;
    const QString output = out.filePath(QStringLiteral("out.%1").arg(c.output));
    unsigned int frames = 0;
    // The block size the tool's file jobs use, for this benchmark only.
    struct BlockSize {
        unsigned int saved = SoundBuffer::getDefaultSize();
        BlockSize() { SoundBuffer::setDefaultSize(SoundWriter::kFileJobBlockSize); }
        ~BlockSize() { SoundBuffer::setDefaultSize(saved); }
    } block;
    for (auto _ : state) {
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(input));
        if (!reader || reader->open(input) != SoundTools::Ok) {
            state.SkipWithError("cannot open input");
            return;
        }
        frames = reader->getFrameNB();
        std::unique_ptr<SoundWriter> writer(
            SoundWriter::getFromFilename(output, reader->getSampleRate(), 192, c.format));
        if (!writer || writer->open(output) != SoundTools::Ok) {
            state.SkipWithError("cannot open output");
            return;
        }
        auto* algo = new SoundAlgoBypass; // one copy per block: the loop's own cost is what remains
        algo->processAll(*reader, writer.get());
        algo->release();
        writer->close(); // finishing the file is part of the conversion
    }
    state.SetLabel(QStringLiteral("%1 -> %2").arg(c.input, c.output).toStdString());
    state.counters["x realtime"] =
        benchmark::Counter(double(frames) / kRate * double(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_ConvertFile)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
