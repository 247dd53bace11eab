#ifndef TULV_TESTS_SUPPORT_DYNSIGNALS_H
#define TULV_TESTS_SUPPORT_DYNSIGNALS_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/core/SoundBuffer.h"
#include "tulv/io/SoundReader.h"

#include <functional>
#include <memory>
#include <vector>

// Signals and a runner for the dynamics tests: every signal is interleaved
// stereo, frame i at [2i] (left) and [2i + 1] (right).
namespace dyntest {

// Lets the creator's reference go (std::unique_ptr never passes null).
void releaseAlgo(SoundAlgo* algo);
struct Released {
    void operator()(SoundAlgo* algo) const { releaseAlgo(algo); }
};
template <typename T>
using AlgoPtr = std::unique_ptr<T, Released>;

// Sets the loop's default block for the life of the guard.
class BlockSizeGuard {
public:
    explicit BlockSizeGuard(unsigned int frames);
    ~BlockSizeGuard();
    BlockSizeGuard(const BlockSizeGuard&) = delete;
    BlockSizeGuard& operator=(const BlockSizeGuard&) = delete;

private:
    unsigned int mSaved;
};

// Runs `algo` over `input` through the block loop with the given default
// block (0 keeps the present one) and returns the frames written.
std::vector<double> runThrough(SoundAlgo& algo, const std::vector<double>& input, unsigned int block = 0,
                               unsigned int sampleRate = 44100);

// Runs `algo` from `reader` (opened here) into a writer of its whole range on
// a worker thread while another thread calls `poke` every `pauseUs`
// microseconds, as a user interface would. Fails the test rather than hangs
// (deadline 120 s). Returns the frames written.
std::vector<double> runWhilePoked(SoundAlgo& algo, SoundReader& reader, const std::function<void()>& poke,
                                  int pauseUs);

// A sine of `amplitude` (both channels; the right one shifted by `phase`
// radians) at `frequency` Hz.
std::vector<double> sine(unsigned int frames, double frequency, double amplitude, unsigned int sampleRate = 44100,
                         double phase = 0.0);
// The same value in every sample.
std::vector<double> constant(unsigned int frames, double value);
// Concatenation.
std::vector<double> operator+(std::vector<double> a, const std::vector<double>& b);

double peakOf(const std::vector<double>& samples, size_t fromFrame = 0, size_t toFrame = SIZE_MAX);
inline size_t frameCount(const std::vector<double>& samples) { return samples.size() / 2; }

} // namespace dyntest

#endif
