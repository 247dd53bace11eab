#ifndef TULV_FILTERS_SOUNDALGOEQFIR_H
#define TULV_FILTERS_SOUNDALGOEQFIR_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/filters/Remez.h"

#include <atomic>
#include <vector>

// A linear-phase FIR low pass, high pass, band pass or band stop, designed
// by Parks–McClellan when a run starts and applied by direct convolution
// spread over the OpenMP threads.
//
// Timing: an L-tap linear-phase filter delays every frequency by (L−1)/2
// frames, and that is the delay it declares, so that a composite puts the
// filtered sound in line with its other branches. The (L−1)/2 frames of
// look-ahead beyond that come from the input overlap; the older frames the
// convolution needs are kept by the algorithm from the block before.
class SoundAlgoEqFIR : public SoundAlgo {
    Q_OBJECT
public:
    // Taps above which a design is refused: the exchange would take minutes
    // and the filter would ring for seconds (a corner near 0 Hz asks for it).
    static constexpr unsigned int kMaxLength = 16383;
    // Smallest block the equaliser asks the loop for, in frames.
    static constexpr unsigned int kMinBlock = 8192;

    SoundAlgoEqFIR(SoundTools::FilterType type, double freq1, double freq2);

    // Linear output gain from dB; takes effect at the next block.
    void SetOutputGain(double dB);

    SoundTools::Status process() override;

    // Number of taps the design will have at this sample rate, 0 when the
    // bands cannot be designed.
    unsigned int getLength(unsigned int sampleRate) const;
    // The bands the designer receives (after InitStaticParams).
    std::vector<SoundTools::RemezBand> getBands() const;
    // The taps of the present run, in convolution order; empty between runs.
    const std::vector<double>& getCoefficients() const { return coeffs; }

protected:
    ~SoundAlgoEqFIR() override;

    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;
    void endProcess(int status, unsigned int frameNBProcessed) override;
    unsigned int getDelay(unsigned int sampleRate) const override;
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    // The whole ringing tail of the last input frame: L − 1 frames.
    unsigned int getSampleShift(unsigned int sampleRate) const override;
    // At least kMinBlock frames: every block starts and joins the thread
    // team once, which costs as much as a thousand frames of a short filter,
    // and far more when another process holds one of the cores.
    unsigned int getPreferredBufferSize(unsigned int sampleRate) const override;

private:
    struct Design {
        double fLow = 0.0; // cycles per sample
        double fHigh = 0.0;
        double transition = 0.0; // cycles per sample
        double stopWeight = 0.0;
        unsigned int length = 0; // 0: cannot be designed
        QString problem; // why, when length is 0
    };
    Design designFor(double sampleRate) const;
    void InitStaticParams(double sampleRate);

    SoundTools::FilterType type;
    double freq1; // Hz: corner, or lower edge of a band
    double freq2; // Hz: upper edge of a band
    std::atomic<double> outputGain { 1.0 }; // linear
    std::vector<double> coeffs; // taps, reversed for the convolution
    double fLow = 0.0;
    double fHigh = 0.0;
    unsigned int length = 0;
    double transition = 0.0;
    double stopWeight = 0.0;

    // The input frames from (window origin − history) on, contiguous, so
    // that every output frame is one dot product; kept between blocks.
    std::vector<SoundTools::StereoFrame<double>> mWork;
    int mWorkOrigin = 0; // absolute index of mWork[0]
    unsigned int mWorkCount = 0; // valid frames in mWork
};

#endif
