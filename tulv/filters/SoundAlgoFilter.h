#ifndef TULV_FILTERS_SOUNDALGOFILTER_H
#define TULV_FILTERS_SOUNDALGOFILTER_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/filters/Filter.h"
#include "tulv/filters/FilterBuilder.h"

#include <QReadWriteLock>

#include <atomic>
#include <memory>
#include <vector>

// A cascade of IIR filters, stage i designed by builders[i] when a run
// starts (the sample rate is known only then). A player thread may read
// gains or swap filters while the processing thread filters: the filter
// list is guarded by a recursive read-write lock, taken once per block.
class SoundAlgoFilter : public SoundAlgo {
    Q_OBJECT
public:
    SoundAlgoFilter();
    explicit SoundAlgoFilter(std::shared_ptr<SoundTools::FilterBuilder> builder);

    // Appends a stage; its filter is built at the next initProcess.
    void pushFilter(std::shared_ptr<SoundTools::FilterBuilder> builder);
    // Appends a ready filter, for cascades without builders.
    void addFilter(std::shared_ptr<SoundTools::Filter> filter);
    // Replaces filters[i]; an index out of range is ignored.
    void setFilter(unsigned int i, std::shared_ptr<SoundTools::Filter> filter);
    // Empties the filters; the builders stay.
    void clearFilters();
    bool hasFilters() const;
    // filters[i]'s linear gain; 1.0 when i is out of range.
    double getFilterGain(unsigned int i) const;
    // Sets filters[i]'s gain to 1.0 (a clip filter ramps there).
    void resetFilterGain(unsigned int i);
    // Output gain of the cascade, dB; takes effect at the next initProcess.
    void setOutputGain(double dB);

    SoundTools::Status process() override;

protected:
    ~SoundAlgoFilter() override;

    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;
    SoundTools::FilterBuilder* getbuilder(unsigned int i) const;
    // filters[i] becomes a fresh filter from builders[i] for the sample rate
    // of the run (silent history). Before the first run there is no sample
    // rate yet and nothing is built.
    void initFilter(int i);
    // The last filter's gain, 1.0 without filters; the caller holds the lock.
    double getFilterGain() const;

    std::vector<std::shared_ptr<SoundTools::FilterBuilder>> builders;
    std::vector<std::shared_ptr<SoundTools::Filter>> filters;
    double outputGainDb = 0.0;
    mutable QReadWriteLock filterLock { QReadWriteLock::Recursive };

private:
    // A crossover runs its two filters in one pass.
    friend class SoundAlgoFilterCrossover;

    // The sample rate filters are designed for; written by the processing
    // thread at initProcess and read by a setter on another thread.
    std::atomic<unsigned int> mDesignRate { 0 };
    // Sections of an all-biquad cascade, gathered per block; keeps its
    // capacity so a block allocates nothing.
    std::vector<SoundTools::BiquadFilter*> mSections;
};

#endif
