#ifndef TULV_CORE_SOUNDALGOCOMPOSITE_H
#define TULV_CORE_SOUNDALGOCOMPOSITE_H

#include "tulv/core/SoundAlgo.h"

#include <vector>

// An algorithm made of other algorithms, arranged in branches. A branch is a
// chain: every member reads the outputs of the member before it, through the
// very same buffers. Branches run side by side, all reading the composite's
// inputs (shared inputs) or each reading the next group of them (separate
// inputs); the composite's outputs are the outputs of the branch ends, in
// branch order. Before a run the composite gives its branches equal delays
// and overlaps by inserting bypasses, so that their outputs stay aligned
// frame for frame; during a run, two or more branches run in parallel.
//
// The composite owns its members: pushing a member hands over the reference
// its creator held, and the composite lets go of one reference of every
// member when it is destroyed. A push that a locked composite refuses takes
// nothing: the caller keeps its reference.
//
// Equalisation, done when a run starts: a branch head that reads ahead less
// than the others is fed by a bypass that reads ahead as far as the largest
// (its own look-ahead then lies inside the branch); a branch with less
// delay, fewer held-back frames at its end, or a smaller sum of output buffer
// overlaps gets a bypass at its end that makes up the difference. The
// inserted bypasses stay for the composite's life.
//
// Members must declare a sample shift covering both their look-ahead and
// their held-back frames: inside a chain nothing else flushes them.
class SoundAlgoComposite : public SoundAlgo {
public:
    // How a multiband tree splits the sound at one crossover frequency.
    enum SplitterType {
        SplitOrder1 = 0, // first-order low pass and its complement: the bands add up to the input
        SplitBiquad = 1, // second-order low pass and its complement: the bands add up to the input
        SplitCrossover = 2 // fourth-order Butterworth low and high pass, each 3 dB down at the crossover
    };

    // Fills one band of a multiband tree: pushes into `owner` the algorithms
    // that process band `bandIndex` (0 is the lowest), at least one. The
    // builder belongs to the caller and is used only while the tree is built.
    class FrequencyAlgoBuilder {
    public:
        virtual ~FrequencyAlgoBuilder() = default;
        virtual void buildAlgo(SoundAlgoComposite* owner, unsigned int bandIndex, const QString& bandName) = 0;
    };

    explicit SoundAlgoComposite(QString id = QString(), bool shareInputs = true);

    // Splits the sound at every frequency of `freqs` (Hz, ascending, at least
    // one), lets `builder` fill each of the freqs.size() + 1 bands and adds
    // the bands back together; all of it is appended to this composite. Band
    // b is named "[low-high]" with its limits truncated to whole Hz, the top
    // one ending at 22050 whatever the sample rate. A list or splitter type
    // that cannot make a tree adds nothing, is logged as critical, and makes
    // the composite refuse to run.
    void buildMultibandTree(const std::vector<double>& freqs, FrequencyAlgoBuilder& builder, SplitterType type);

    // Appends to the last branch. A composite never heads a branch: a plain
    // bypass is put before it.
    void pushAlgo(SoundAlgo* algo);
    // Inserts at the head of the last branch (after its bypass, for a
    // composite).
    void pushAlgoFront(SoundAlgo* algo);
    void addNewBranch();
    // Appends a copy of `branch` as a new branch; the members are owned from
    // now on.
    void pushBranch(std::vector<SoundAlgo*>& branch);
    // The last member of the first branch, or null.
    SoundAlgo* getLastAlgo() const;
    bool isEmpty() const;

    SoundTools::Status process() override;
    void debugBuffers() override;

    unsigned int getInputNumber() const override;
    unsigned int getOutputNumber() const override;
    unsigned int getInFrameSize() const override;
    unsigned int getOutFrameSize() const override;
    unsigned int getInElementSize() const override;
    unsigned int getOutElementSize() const override;
    unsigned int getDelay(unsigned int sampleRate) const override;
    unsigned int getSampleShift(unsigned int sampleRate) const override;
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    unsigned int getOutOverlap(unsigned int sampleRate) const override;
    unsigned int getOutBufferOverlap(unsigned int sampleRate) const override;
    unsigned int getPreferredBufferSize(unsigned int sampleRate) const override;

protected:
    ~SoundAlgoComposite() override;

    // Builds from band `index` upwards: the splitter at freqs[index], then a
    // composite whose first branch holds band `index` and whose second holds
    // the rest of the tree (or the top band).
    void recursiveBuildMultibandTree(const std::vector<double>& freqs, unsigned int index,
                                     FrequencyAlgoBuilder& builder, SplitterType type);
    // Records why this composite was built wrong, logs it as critical, and
    // makes every later run fail with it as the error.
    void setBuildError(const QString& reason);
    // Why `freqs` cannot be the crossovers of a multiband algorithm (none,
    // not above 0 Hz, not ascending), or an empty string.
    static QString multibandFrequencyFault(const std::vector<double>& freqs);
    bool hasBuildError() const { return !mBuildError.isEmpty(); }

    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;

    SoundTools::Status initInputBuffer(const LoopContext& context) override;
    SoundTools::Status initOutputBuffer(const LoopContext& context) override;
    void setOutOrigin() override;
    void updateOutput(unsigned int advance) override;
    void endProcess(int status, unsigned int frameNBProcessed) override;
    void streamEnds(int endFrame) override;

    // Locks the composite: the public operations that add members no longer
    // change it.
    void setReadOnly() { mUnlocked = false; }
    void pushBranchUnlocked(std::vector<SoundAlgo*>& branch);
    int processOneLoop(unsigned int branch);

    unsigned int getBranchDelay(unsigned int sampleRate, unsigned int branch) const;
    unsigned int getBranchInOverlap(unsigned int sampleRate, unsigned int branch) const;
    unsigned int getBranchOutOverlap(unsigned int sampleRate, unsigned int branch) const;
    unsigned int getBranchShift(unsigned int sampleRate, unsigned int branch) const;

    bool mUnlocked = true;
    bool mShareInputs;
    std::vector<std::vector<SoundAlgo*>> mBranches;

private:
    QString mBuildError; // empty when the composite was built right

    // The sample shift the composite will have once its branches are
    // equalised. The block size is chosen before the run wires the members,
    // and the last block must hold that many frames of flush.
    unsigned int projectedSampleShift(unsigned int sampleRate) const;
    // Initialises every member, chain by chain, and hands the composite's
    // inputs to the branch heads.
    SoundTools::Status wireBranches(const LoopContext& context);
    // Inserts the bypasses that give every branch the same geometry; true
    // when a branch changed (the members must then be wired again).
    bool equaliseInputOverlaps(unsigned int sampleRate);
    bool equaliseOutputs(unsigned int sampleRate);
};

#endif
