// The FFT engine beside FFTW (complex double transforms of the same size),
// and the FFT equaliser over a whole file, for bench/compare-peers.sh to set
// against SoX's sinc FIR of similar length on the same file.
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"
#include "tulv/spectral/FFTA.h"
#include "tulv/spectral/SoundAlgoFFTFilter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

std::vector<double> noiseBlock(size_t values)
{
    std::mt19937 generator(3);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> block(values);
    for (double& v : block)
        v = noise(generator);
    return block;
}

// Both channels of N stereo frames: one N-point complex transform and the
// split into two half spectra.
void BM_FFTARadix2Stereo(benchmark::State& state)
{
    const unsigned int n = static_cast<unsigned int>(state.range(0));
    FFTARadix2 engine(n);
    const std::vector<double> block = noiseBlock(2 * size_t(n));
    std::vector<double> spectrum(2 * size_t(n) + 4);
    for (auto _ : state) {
        engine.forwardStereo(block.data(), spectrum.data());
        benchmark::DoNotOptimize(spectrum.data());
    }
}
BENCHMARK(BM_FFTARadix2Stereo)->RangeMultiplier(4)->Range(512, 32768)->Arg(8192)->Unit(benchmark::kMicrosecond);

void BM_FFTWComplex(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    auto* in = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * size_t(n)));
    auto* out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * size_t(n)));
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
    const std::vector<double> block = noiseBlock(2 * size_t(n));
    for (int i = 0; i < n; ++i) {
        in[i][0] = block[2 * size_t(i)];
        in[i][1] = block[2 * size_t(i) + 1];
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FFTWComplex)->RangeMultiplier(4)->Range(512, 32768)->Arg(8192)->Unit(benchmark::kMicrosecond);

// A 1 kHz low pass of 447 taps at transform size 8192 from
// $TULV_BENCH_INPUTS/in16.wav (made by compare-peers.sh) to a 16-bit WAV.
void BM_EqFFTFile(benchmark::State& state)
{
    const char* dir = std::getenv("TULV_BENCH_INPUTS");
    const QString input = QDir(QString::fromLocal8Bit(dir ? dir : "")).filePath(QStringLiteral("in16.wav"));
    if (!dir || !QFileInfo::exists(input)) {
        state.SkipWithError("set TULV_BENCH_INPUTS to a directory holding in16.wav (bench/compare-peers.sh does)");
        return;
    }
    QTemporaryDir out;
    const QString output = out.filePath(QStringLiteral("out.wav"));
    for (auto _ : state) {
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(input));
        if (!reader || reader->open(input) != SoundTools::Ok) {
            state.SkipWithError("cannot open input");
            return;
        }
        std::unique_ptr<SoundWriter> writer(
            SoundWriter::getFromFilename(output, reader->getSampleRate(), 192, SoundTools::Int16));
        if (!writer || writer->open(output) != SoundTools::Ok) {
            state.SkipWithError("cannot open output");
            return;
        }
        auto* eq = new SoundAlgoEqFFT(SoundTools::LowPass, 1000, 0, 8192);
        eq->processAll(*reader, writer.get());
        eq->release();
        writer->close();
    }
}
BENCHMARK(BM_EqFFTFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace
