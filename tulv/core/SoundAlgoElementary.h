#ifndef TULV_CORE_SOUNDALGOELEMENTARY_H
#define TULV_CORE_SOUNDALGOELEMENTARY_H

// The small building blocks of algorithm graphs: gains, absolute values,
// sums and differences of several streams, selection of one stream among
// several, pass-through with a declared geometry, and delay. All work on
// stereo frames and keep no settings beyond the base identifier.

#include "tulv/core/SoundAlgo.h"

#include <vector>

// Base of the algorithms with several inputs: one output (the combination)
// or one output per input (the combination, then inputs 1..n-1 passed on).
class SoundAlgoMulti : public SoundAlgo {
public:
    SoundAlgoMulti(int inputNumber, bool singleOutput);

protected:
    ~SoundAlgoMulti() override;

    unsigned int getInputNumber() const override { return mInputNumber; }
    unsigned int getOutputNumber() const override { return mSingleOutput ? 1 : mInputNumber; }

    // Copies input i to output i for every output but the first, over the
    // block's `frames` frames.
    SoundTools::Status passOtherInputs(unsigned int frames);

    unsigned int mInputNumber;
    bool mSingleOutput;
};

// Output 0 = Σ weights[i] · input i.
class SoundAlgoAdd : public SoundAlgoMulti {
public:
    // `weights`: null for all 1.0, otherwise `inputNumber` linear gains,
    // copied here.
    explicit SoundAlgoAdd(int inputNumber = 2, bool singleOutput = true, const double* weights = nullptr);
    SoundTools::Status process() override;

protected:
    ~SoundAlgoAdd() override;

    // Collects the block's frame pointers of every input and output 0; false
    // when a port does not reach back to the block's first frame.
    bool gatherPorts();

    std::vector<double> mWeights;
    // Per-block scratch, sized once: the start of every input's block.
    std::vector<const double*> mInputs;
};

// Output 0 = √(Σ (weights[i] · input i)²), channel by channel.
class SoundAlgoAddSqr : public SoundAlgoAdd {
public:
    explicit SoundAlgoAddSqr(int inputNumber = 2, bool singleOutput = true, const double* weights = nullptr);
    SoundTools::Status process() override;

protected:
    ~SoundAlgoAddSqr() override;
};

// Output 0 = input 0 − Σ inputs 1..n-1.
class SoundAlgoSub : public SoundAlgoMulti {
public:
    explicit SoundAlgoSub(int inputNumber = 2, bool singleOutput = true);
    SoundTools::Status process() override;

protected:
    ~SoundAlgoSub() override;
};

// Presents input `port` as its only output, without copying: the output
// buffer is that input's buffer.
class SoundAlgoSelectChannel : public SoundAlgoMulti {
public:
    SoundAlgoSelectChannel(int port, int inputNumber);
    SoundTools::Status process() override;

    SoundTools::Status initOutputBuffer(const LoopContext& context) override;
    // The buffer belongs to the algorithm that feeds the selected input:
    // it places and slides it.
    void setOutOrigin() override {}
    void updateOutput(unsigned int) override {}

protected:
    ~SoundAlgoSelectChannel() override;

    int mPort;
};

// |x|, or x + factor · |x| (a half-wave rectifier for factor 1).
class SoundAlgoAbs : public SoundAlgo {
public:
    explicit SoundAlgoAbs(bool addSignal = false, double factor = 1.0);
    SoundTools::Status process() override;

protected:
    ~SoundAlgoAbs() override;

    double mFactor;
    bool mAddSignal;
};

// A fixed gain given in dB.
class SoundAlgoScale : public SoundAlgo {
public:
    explicit SoundAlgoScale(double gainDb);
    SoundTools::Status process() override;

protected:
    ~SoundAlgoScale() override;

    double mFactor; // linear gain
};

// Passes its input through while declaring a geometry (frames): composites
// insert it to give their branches equal delays and overlaps.
class SoundAlgoBypass : public SoundAlgo {
public:
    SoundAlgoBypass();
    SoundAlgoBypass(unsigned int inOverlap, unsigned int delay, unsigned int outOverlap);
    SoundTools::Status process() override;

    unsigned int getInOverlap(unsigned int) const override { return mInOverlap; }
    unsigned int getDelay(unsigned int) const override { return mDelay; }
    unsigned int getOutOverlap(unsigned int) const override { return mOutOverlap; }
    // The held-back output frames keep their place in time, so the end of
    // the stream must push them out as well as the look-ahead.
    unsigned int getSampleShift(unsigned int) const override { return mInOverlap + mOutOverlap; }

protected:
    ~SoundAlgoBypass() override;

    unsigned int mInOverlap;
    unsigned int mOutOverlap;
    unsigned int mDelay;
};

// A delay in seconds: either a true delay of the stream (output frame t is
// input frame t − d), or, as an overlap, d frames of output held back for
// the next block with no shift in time.
class SoundAlgoDelay : public SoundAlgo {
public:
    SoundAlgoDelay(double seconds, bool asOverlap);
    SoundTools::Status process() override;

    unsigned int getDelay(unsigned int sampleRate) const override;
    unsigned int getOutOverlap(unsigned int sampleRate) const override;
    unsigned int getSampleShift(unsigned int sampleRate) const override;

protected:
    ~SoundAlgoDelay() override;

    // floor(sampleRate × seconds + 0.5)
    unsigned int frames(unsigned int sampleRate) const;

    double mSeconds;
    bool mAsOverlap;
};

#endif
