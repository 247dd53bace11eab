#ifndef TULV_ANALYSIS_SOUNDALGOSTATS_H
#define TULV_ANALYSIS_SOUNDALGOSTATS_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/core/SoundAlgoComposite.h"

#include <vector>

// Measures the level of the stereo stream that runs through it. Over the whole
// run it accumulates, per channel, the sum of squares and the absolute peak
// of every frame of the source (global statistics); as its output it gives
// either the input unchanged or the RMS of each channel over a sliding window
// of W frames centred on the output frame (W odd, the output delayed by
// W / 2 frames so that it lines up with the input).
//
// The totals are cleared when a run starts and stay readable after it, until
// the next run. Used by the thread that runs the graph, read afterwards.
// Saved to JSON under the class "SoundAlgoStats", restored through
// SoundAlgo::createFromJSon.
class SoundAlgoStats : public SoundAlgo {
    Q_OBJECT
public:
    enum OutputType {
        RMSAndStats = 0, // sliding RMS out, global statistics accumulated
        RMSOnly = 1, // sliding RMS out, no global statistics
        StatsOnly = 2 // the input out unchanged, global statistics accumulated
    };

    // Plugs one StatsOnly measurement into every band of a multiband tree and
    // keeps them, in band order, so the levels can be read per band after the
    // run. The tree owns the measurements; copies of the builder share them.
    class FrequencyBuilder : public SoundAlgoComposite::FrequencyAlgoBuilder {
    public:
        explicit FrequencyBuilder(double windowTime = 0.2);
        void buildAlgo(SoundAlgoComposite* composite, unsigned int band, const QString& name) override;
        std::vector<SoundAlgoStats*>& getStatsVector() { return mStats; }

    private:
        std::vector<SoundAlgoStats*> mStats;
        [[maybe_unused]] double mWindowTime; // s; kept for the caller, the band measurements have no window
    };

    // `windowTime` in seconds; ignored (0) for StatsOnly, and it must be above
    // 0 for the other types or the run fails.
    SoundAlgoStats(OutputType type = RMSAndStats, double windowTime = 1.0);

    // Per channel RMS in dB of the run (-100 for silence), rounded to single
    // precision; `out` is left untouched when nothing was accumulated.
    void getRMS(SoundTools::StereoFrame<double>& out) const;
    // Per channel peak in dB, rounded to single precision.
    void getMax(SoundTools::StereoFrame<double>& out) const;
    // RMS in dB of both channels together; 0.0 when nothing was accumulated.
    double getFullRMS() const;
    // The three above at once; nothing is written when nothing was accumulated.
    void getGlobalStats(SoundTools::StereoFrame<double>& rms, double& full, SoundTools::StereoFrame<double>& max) const;
    // Frames of the source accumulated into the global statistics.
    unsigned long long getCount() const { return mCount; }
    OutputType getOutputType() const { return mOutputType; }

    // A new measurement (reference count 1) from its JSON object, or null when
    // "Class" is not "SoundAlgoStats" or "OutputType" or "WindowTime" is not a
    // number.
    static SoundAlgoStats* createFromJSon(QJsonObject object);
    void writeToJSon(QJsonObject& object) const override;

    SoundTools::Status process() override;

protected:
    ~SoundAlgoStats() override;

    // Takes each total present as a number, keeps the others; always true.
    bool readFromJSon(QJsonObject& object) override;
    // W, the window in frames (odd), or 0 without a window.
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    unsigned int getDelay(unsigned int sampleRate) const override;
    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;
    // Prints the levels of the run in verbose mode.
    void endProcess(int status, unsigned int frameNBProcessed) override;

private:
    // Adds one frame of the source to the global statistics.
    void updateStats(const SoundTools::StereoFrame<double>& frame);

    double mWindowTime; // s
    // Frames accumulated. Wider than the frame counters of a run: a day of
    // sound at 96 kHz must not wrap.
    unsigned long long mCount = 0;
    double mLeftSqr = 0.0; // Σ left²
    double mRightSqr = 0.0; // Σ right²
    double mLeftMax = 0.0; // max |left|
    double mRightMax = 0.0; // max |right|
    OutputType mOutputType;
    // Absolute frames of the source in this run: the zeros that pad its
    // start and flush its end are not part of the recording's level.
    long long mSourceBegin = 0;
    long long mSourceEnd = 0;
};

#endif
