#ifndef TULV_SPECTRAL_SOUNDALGOFFT_H
#define TULV_SPECTRAL_SOUNDALGOFFT_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/spectral/FFTA.h"

#include <vector>

// Base of the algorithms that carry a stream through the frequency domain.
//
// A spectral stream is a SoundBuffer of 2 channels, frame size N/2 + 1 and
// element size 2: each spectral frame is the stereo spectrum of one block
// (see FFTA). The block modes:
// - without overlap, spectral frame i transforms audio frames i·N … i·N+N−1;
// - with overlap, it transforms the N/2 audio frames from i·N/2 followed by
//   N/2 zeros, and the inverse adds the halves of consecutive results, so a
//   product of spectra is a linear (not circular) convolution as long as the
//   impulse response is at most N/2 + 1 long.
//
// How the blocks of the loop meet the transform blocks: a spectral buffer
// holds the spectra computed during the present loop block only, its origin
// being the audio frame where the first of them starts (the next ones follow
// one hop apart: N/2 frames with overlap, N without). The loop's blocks need
// not be multiples of the hop: the direct transform keeps one hop of input
// as overlap, transforms every complete hop and leaves the rest for the next
// block, and the inverse holds back what it computed beyond the audio window
// of the block. Every frame therefore comes out once, in place, whatever the
// block size.
class SoundAlgoFFT : public SoundAlgo {
public:
    SoundAlgoFFT();
    SoundAlgoFFT(unsigned int size, bool overlap);

    unsigned int getSize() const { return fftSize; }
    bool isOverlap() const { return overlap; }
    // Bins per channel: N/2 + 1.
    unsigned int getFFTSampleSize() const { return fftSize / 2 + 1; }
    // Audio frames covered by i spectral frames.
    unsigned int FFTFrame2frame(unsigned int i) const;
    // Spectral frames that f audio frames give.
    unsigned int frame2FFTFrame(unsigned int f) const;

    // "Size", "Overlap" and "SampleRate".
    void writeToJSon(QJsonObject& object) const override;

protected:
    ~SoundAlgoFFT() override;

    int getOrigin() const { return origin; }
    void updateOrigin() { origin = getInOrigin(); }
    // Audio frames between two consecutive spectral frames.
    unsigned int getHop() const { return overlap ? fftSize / 2 : fftSize; }

    // Reads the keys that are present; false unless N > 0 and the sample
    // rate is known.
    bool readFromJSon(QJsonObject& object) override;
    unsigned int getInFrameSize() const override { return getFFTSampleSize(); }
    unsigned int getOutFrameSize() const override { return getFFTSampleSize(); }
    unsigned int getInElementSize() const override { return 2; }
    unsigned int getOutElementSize() const override { return 2; }
    int getOutOrigin() const override { return origin; }
    // Takes N and the block mode from the algorithm upstream, which every
    // spectral algorithm needs, then calls onInitInputBuffer.
    SoundTools::Status initInputBuffer(const LoopContext& context) override;
    SoundTools::Status initOutputBuffer(const LoopContext& context) override;
    void setOutOrigin() override;
    void updateOutput(unsigned int advance) override;
    virtual SoundTools::Status onInitInputBuffer() { return SoundTools::Ok; }

    // For the spectral algorithms between the transforms: shapes the output
    // like the input (same spectra, same place) and returns how many spectral
    // frames to compute.
    unsigned int beginSpectralBlock();
    // The spectral algorithm (or direct transform) upstream, or null.
    SoundAlgoFFT* upstreamFFT() const;
    // The upstream algorithm's readyEnd, or `otherwise` without one.
    int upstreamReadyEnd(int otherwise) const;

    int origin = 0;
    unsigned int fftSize = 0;
    bool overlap = false;
    // Audio frame up to which (excluded) the present loop block must deliver
    // sound: set by the direct transform, passed along the spectral chain.
    int readyEnd = 0;
};

// Audio in, spectra out.
class SoundAlgoFFTDirectCompute : public SoundAlgoFFT {
public:
    // Sizes that are not powers of two are rounded down to one (with a
    // message). The window is a periodic Hann over the transformed frames.
    SoundAlgoFFTDirectCompute(unsigned int size = 8192, bool overlap = true, bool window = false);

    SoundTools::Status process() override;

protected:
    ~SoundAlgoFFTDirectCompute() override;

    unsigned int getInFrameSize() const override { return 1; }
    unsigned int getInElementSize() const override { return 1; }
    // One hop: the frames of an incomplete hop wait for the next block.
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    // Enough silence to complete the last hop and, with overlap, the one
    // that carries its second half.
    unsigned int getSampleShift(unsigned int sampleRate) const override;
    SoundTools::Status initInputBuffer(const LoopContext& context) override;
    SoundTools::Status initOutputBuffer(const LoopContext& context) override;
    void setOutOrigin() override;
    void updateOutput(unsigned int advance) override;

private:
    // True for a hop of silence after the end of the stream.
    bool isFlush(const double* frames, int at) const;

    FFTARadix2 engine;
    std::vector<double> window;
    std::vector<double> scratch;
    // Audio frame where the next spectral frame starts.
    int nextHop = 0;
    // First frame after the stream the source announced.
    int streamEnd = 0;
};

// Spectra in, audio out: plainly, by overlap-add, or as autocorrelation lags
// when the algorithm upstream is a SoundFFTAutocorrel.
class SoundAlgoFFTInverseCompute : public SoundAlgoFFT {
public:
    // `off`: the algorithm writes nothing (a spectral branch kept only for
    // what it measures).
    explicit SoundAlgoFFTInverseCompute(bool off = false);

    SoundTools::Status process() override;

protected:
    ~SoundAlgoFFTInverseCompute() override;

    unsigned int getOutFrameSize() const override { return 1; }
    unsigned int getOutElementSize() const override { return 1; }
    int getOutOrigin() const override { return outStart; }
    SoundTools::Status onInitInputBuffer() override;
    SoundTools::Status initOutputBuffer(const LoopContext& context) override;
    void setOutOrigin() override;
    void updateOutput(unsigned int advance) override;

private:
    // Completes the pending audio up to `end` as silent spectra would.
    void flushTo(int end);
    // Appends the final audio of one spectral frame starting at `at`.
    void inverseOne(const double* spectrum, int at);

    FFTARadix2 engine;
    int mode = 0; // −1 off, 0 plain, 1 overlap-add, 2 autocorrelation
    std::vector<double> tail; // N stereo frames: the last inverse result
    // Final audio not delivered yet: stereo frames from `pendingStart` on.
    std::vector<double> pending;
    int pendingStart = 0;
    // First frame of the output window of the present block.
    int outStart = 0;
};

#endif
