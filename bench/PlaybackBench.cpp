// The player's chain as the audio output drives it: a file processed on the
// device's worker threads through the nine-band equaliser, the bass-boost
// band and the clip filter, pulled as 16-bit PCM in output-sized requests.

#include "bench/BenchStreams.h"

#include "tulv/playback/SoundPlayer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr unsigned int kRate = 44100;

// A player without audio output: the benchmark is the output.
class BenchPlayer : public SoundPlayer {
public:
    explicit BenchPlayer(std::shared_ptr<SoundReader> reader)
        : SoundPlayer(std::move(reader), nullptr, true)
    {
        switchEq(true);
        switchBassBoost(true);
        setEqPreset(13); // "Rock": every band away from 0 dB
        setPostProcessingChain(nullptr);
    }
    void preload() override {}
    void start() override {}
    void stop() override {}
    void endOfData() override {}
};

const std::vector<double>& music()
{
    static const std::vector<double> pattern = [] {
        std::vector<double> p(2 * kRate);
        for (unsigned int i = 0; i < kRate; ++i) {
            p[2 * i] = 0.3 * std::sin(2 * M_PI * 110 * i / kRate) + 0.1 * std::sin(2 * M_PI * 3300 * i / kRate);
            p[2 * i + 1] = 0.3 * std::sin(2 * M_PI * 220 * i / kRate) + 0.1 * std::sin(2 * M_PI * 5000 * i / kRate);
        }
        return p;
    }();
    return pattern;
}

// A PulseAudio period: about 23 ms of 16-bit stereo.
constexpr qint64 kRequestBytes = 4096;

// CPU time of all threads of the process over the duration of the music:
// a figure of 0.01 is one percent of one core while playing.
void BM_PlayerChainTenMinutes(benchmark::State& state)
{
    const unsigned int frames = 600 * kRate;
    std::vector<char> pcm(kRequestBytes);
    for (auto _ : state) {
        auto reader = std::make_shared<benchstreams::RepeatingReader>(frames, music(), kRate);
        BenchPlayer player(reader);
        const std::clock_t cpu0 = std::clock();
        player.getDevice()->start();
        long long got = 0;
        qint64 n;
        while ((n = player.getDevice()->read(pcm.data(), kRequestBytes)) > 0)
            got += n;
        const double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
        player.getDevice()->stop();
        if (got != 4LL * frames)
            state.SkipWithError("the device did not deliver every frame");
        state.counters["cpu_x_realtime"] = cpu / 600.0;
    }
}
BENCHMARK(BM_PlayerChainTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// From start to the first PCM request answered, as an output's first pull
// after a play command.
void BM_StartToFirstAudio(benchmark::State& state)
{
    std::vector<char> pcm(kRequestBytes);
    for (auto _ : state) {
        auto reader = std::make_shared<benchstreams::RepeatingReader>(600 * kRate, music(), kRate);
        BenchPlayer player(reader);
        const auto t0 = std::chrono::steady_clock::now();
        player.getDevice()->start();
        const qint64 n = player.getDevice()->read(pcm.data(), kRequestBytes);
        const auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        player.getDevice()->stop();
        if (n <= 0)
            state.SkipWithError("no audio");
    }
}
BENCHMARK(BM_StartToFirstAudio)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50);

} // namespace
