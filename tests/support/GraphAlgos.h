#ifndef TULV_TESTS_SUPPORT_GRAPHALGOS_H
#define TULV_TESTS_SUPPORT_GRAPHALGOS_H

// Small algorithms and helpers for building and running graphs in tests.

#include "tests/support/Common.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgo.h"
#include "tulv/core/SoundAlgoComposite.h"

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// One input, one output per (gain, offset) pair: output i = gain_i · x + offset_i.
// Feeds the multi-input algorithms with distinct, exactly known streams.
class FanOut : public SoundAlgo {
public:
    struct Line {
        double gain;
        double offset;
    };
    explicit FanOut(std::vector<Line> lines)
        : mLines(std::move(lines))
    {
    }
    SoundTools::Status process() override;

protected:
    unsigned int getOutputNumber() const override { return static_cast<unsigned int>(mLines.size()); }

private:
    std::vector<Line> mLines;
};

// Declared geometry, in frames.
struct Geometry {
    unsigned int inOverlap = 0;
    unsigned int delay = 0;
    unsigned int outOverlap = 0;
    unsigned int sampleShift = 0;
};

// Output frame t = gain · input frame (t − delay), with the declared
// geometry honoured the way a real algorithm honours it: it consumes
// `inOverlap` frames of look-ahead, and the first `outOverlap` output frames
// of a block are the ones completed by the block before.
class GeometryCopy : public SoundAlgo {
public:
    explicit GeometryCopy(Geometry geometry, double gain = 1.0, QString id = QString())
        : SoundAlgo(std::move(id))
        , mGeometry(geometry)
        , mGain(gain)
    {
    }
    SoundTools::Status process() override;

    // Counts destructions, for ownership tests.
    void setDestructionCounter(int* counter) { mCounter = counter; }
    // Makes every later process() answer `status` without working.
    void failWith(SoundTools::Status status) { mFailure = status; }
    // Called from process(), on whatever thread runs it.
    void setProbe(std::function<void()> probe) { mProbe = std::move(probe); }

    // Public for the JSON tests.
    bool readJSon(QJsonObject& object) { return readFromJSon(object); }

protected:
    ~GeometryCopy() override;
    unsigned int getInOverlap(unsigned int) const override { return mGeometry.inOverlap; }
    unsigned int getDelay(unsigned int) const override { return mGeometry.delay; }
    unsigned int getOutOverlap(unsigned int) const override { return mGeometry.outOverlap; }
    unsigned int getSampleShift(unsigned int) const override { return mGeometry.sampleShift; }

private:
    Geometry mGeometry;
    double mGain;
    int* mCounter = nullptr;
    SoundTools::Status mFailure = SoundTools::Ok;
    std::function<void()> mProbe;
};

// A composite whose branches and protected operations tests may look at.
class OpenComposite : public SoundAlgoComposite {
public:
    using SoundAlgoComposite::SoundAlgoComposite;
    const std::vector<std::vector<SoundAlgo*>>& branches() const { return mBranches; }
    using SoundAlgoComposite::setReadOnly;

protected:
    ~OpenComposite() override = default;
};

} // namespace testsupport

#endif
