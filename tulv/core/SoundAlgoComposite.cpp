#include "tulv/core/SoundAlgoComposite.h"

#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/core/ThreadAnnotations.h"

#include <QDebug>

#include <omp.h>

#include <algorithm>
#include <ostream>

namespace {

// Each pass wires the branches, then fixes one kind of difference between
// them: input overlaps first, then delays and output overlaps. Neither fix
// undoes the other, so a third pass finds the branches equal; a fourth
// would mean a member whose geometry changes when it is wired.
constexpr int kEqualisationPasses = 4;

bool isComposite(SoundAlgo* algo)
{
    return dynamic_cast<SoundAlgoComposite*>(algo) != nullptr;
}

// Whether a parallel region opened here would get more than one thread. A
// region of one thread still synchronises at its barriers, which costs a
// system call each (a few per region, dozens per block in a multiband tree)
// for nothing: then the branches run one after another instead, with the
// same results, since no branch reads what another writes.
bool branchesRunInParallel(int branches)
{
    return branches > 1 && omp_get_max_threads() > 1 && omp_get_active_level() < omp_get_max_active_levels();
}

bool isBypass(SoundAlgo* algo)
{
    return dynamic_cast<SoundAlgoBypass*>(algo) != nullptr;
}

// What the end of a branch looks like to the algorithm that reads it, in
// frames: its total delay, the sum of its members' output buffer overlaps,
// and the output overlap of its last member.
struct BranchEnd {
    unsigned int delay = 0;
    unsigned int overlap = 0;
    unsigned int lastOut = 0;
};

// The bypass appended to a branch to make its end like every other's.
struct EndBypass {
    bool needed = false;
    unsigned int inOverlap = 0;
    unsigned int delay = 0;
    unsigned int outOverlap = 0;
};

// Branch ends are alike when their delays, overlap sums and last output
// overlaps are equal: their buffers then begin and end on the same frames in
// every block. A bypass appended to a branch brings its delay up to the
// largest with its own delay, becomes the branch's last member with the
// largest last output overlap, and brings the overlap sum up to the common
// target with its input overlap (the member before it keeps that many frames
// more for it). The target must leave room for the bypass's output overlap,
// so it may rise above the largest sum, and then the branches at the old
// largest need a bypass as well.
std::vector<EndBypass> planBranchEnds(const std::vector<BranchEnd>& ends)
{
    unsigned int delay = 0;
    unsigned int lastOut = 0;
    unsigned int target = 0;
    for (const auto& end : ends) {
        delay = std::max(delay, end.delay);
        lastOut = std::max(lastOut, end.lastOut);
        target = std::max(target, end.overlap);
    }
    std::vector<EndBypass> plan(ends.size());
    bool grew = true;
    while (grew) {
        grew = false;
        for (size_t b = 0; b < ends.size(); ++b) {
            const BranchEnd& end = ends[b];
            if (!plan[b].needed && (end.delay < delay || end.lastOut < lastOut || end.overlap < target))
                plan[b].needed = true;
            if (plan[b].needed && end.overlap + lastOut > target) {
                target = end.overlap + lastOut;
                grew = true;
            }
        }
    }
    for (size_t b = 0; b < ends.size(); ++b)
        if (plan[b].needed) {
            plan[b].inOverlap = target - ends[b].overlap - lastOut;
            plan[b].delay = delay - ends[b].delay;
            plan[b].outOverlap = lastOut;
        }
    return plan;
}

} // namespace

SoundAlgoComposite::SoundAlgoComposite(QString id, bool shareInputs)
    : SoundAlgo(std::move(id))
    , mShareInputs(shareInputs)
{
}

SoundAlgoComposite::~SoundAlgoComposite()
{
    for (auto& branch : mBranches)
        for (SoundAlgo* member : branch)
            member->release();
}

// ---------------------------------------------------------------- building

void SoundAlgoComposite::pushAlgo(SoundAlgo* algo)
{
    if (!algo)
        return;
    if (mBranches.empty())
        addNewBranch();
    if (!mUnlocked || mBranches.empty())
        return;
    auto& branch = mBranches.back();
    // A composite hands its inputs to its own branch heads and cannot be fed
    // directly by the branch's start: a plain bypass owns that start instead.
    if (branch.empty() && isComposite(algo))
        branch.push_back(new SoundAlgoBypass());
    branch.push_back(algo);
}

void SoundAlgoComposite::pushAlgoFront(SoundAlgo* algo)
{
    if (!algo)
        return;
    if (mBranches.empty())
        addNewBranch();
    if (mBranches.empty() || mBranches.back().empty()) {
        pushAlgo(algo);
        return;
    }
    if (!mUnlocked)
        return;
    auto& branch = mBranches.back();
    if (isComposite(algo)) {
        if (!isBypass(branch.front()))
            branch.insert(branch.begin(), new SoundAlgoBypass());
        branch.insert(branch.begin() + 1, algo);
    } else {
        branch.insert(branch.begin(), algo);
    }
}

void SoundAlgoComposite::addNewBranch()
{
    if (mUnlocked)
        mBranches.emplace_back();
}

void SoundAlgoComposite::pushBranch(std::vector<SoundAlgo*>& branch)
{
    if (mUnlocked)
        pushBranchUnlocked(branch);
}

void SoundAlgoComposite::pushBranchUnlocked(std::vector<SoundAlgo*>& branch)
{
    mBranches.push_back(branch);
}

SoundAlgo* SoundAlgoComposite::getLastAlgo() const
{
    if (mBranches.empty() || mBranches.front().empty())
        return nullptr;
    return mBranches.front().back();
}

bool SoundAlgoComposite::isEmpty() const
{
    return std::all_of(mBranches.begin(), mBranches.end(), [](const auto& branch) { return branch.empty(); });
}

// ---------------------------------------------------------------- geometry

unsigned int SoundAlgoComposite::getBranchDelay(unsigned int sampleRate, unsigned int branch) const
{
    unsigned int sum = 0;
    for (SoundAlgo* member : mBranches[branch])
        sum += member->getDelay(sampleRate);
    return sum;
}

unsigned int SoundAlgoComposite::getBranchInOverlap(unsigned int sampleRate, unsigned int branch) const
{
    const auto& members = mBranches[branch];
    return members.empty() ? 0 : members.front()->getInOverlap(sampleRate);
}

unsigned int SoundAlgoComposite::getBranchOutOverlap(unsigned int sampleRate, unsigned int branch) const
{
    unsigned int sum = 0;
    for (SoundAlgo* member : mBranches[branch])
        sum += member->getOutBufferOverlap(sampleRate);
    return sum;
}

unsigned int SoundAlgoComposite::getBranchShift(unsigned int sampleRate, unsigned int branch) const
{
    unsigned int sum = 0;
    for (SoundAlgo* member : mBranches[branch])
        sum += member->getSampleShift(sampleRate);
    return sum;
}

unsigned int SoundAlgoComposite::getDelay(unsigned int sampleRate) const
{
    unsigned int largest = 0;
    for (unsigned int b = 0; b < mBranches.size(); ++b)
        largest = std::max(largest, getBranchDelay(sampleRate, b));
    return largest;
}

unsigned int SoundAlgoComposite::getSampleShift(unsigned int sampleRate) const
{
    unsigned int largest = 0;
    for (unsigned int b = 0; b < mBranches.size(); ++b)
        largest = std::max(largest, getBranchShift(sampleRate, b));
    return largest;
}

unsigned int SoundAlgoComposite::getOutBufferOverlap(unsigned int sampleRate) const
{
    unsigned int largest = 0;
    for (unsigned int b = 0; b < mBranches.size(); ++b)
        largest = std::max(largest, getBranchOutOverlap(sampleRate, b));
    return largest;
}

unsigned int SoundAlgoComposite::getInOverlap(unsigned int sampleRate) const
{
    unsigned int largest = 0;
    for (const auto& branch : mBranches)
        if (!branch.empty())
            largest = std::max(largest, branch.front()->getInOverlap(sampleRate));
    return largest;
}

unsigned int SoundAlgoComposite::getOutOverlap(unsigned int sampleRate) const
{
    unsigned int largest = 0;
    for (const auto& branch : mBranches)
        if (!branch.empty())
            largest = std::max(largest, branch.back()->getOutOverlap(sampleRate));
    return largest;
}

unsigned int SoundAlgoComposite::getInputNumber() const
{
    if (mBranches.empty())
        return 0;
    if (mShareInputs)
        return mBranches.front().empty() ? 0 : mBranches.front().front()->getInputNumber();
    unsigned int sum = 0;
    for (const auto& branch : mBranches)
        if (!branch.empty())
            sum += branch.front()->getInputNumber();
    return sum;
}

unsigned int SoundAlgoComposite::getOutputNumber() const
{
    unsigned int sum = 0;
    for (const auto& branch : mBranches)
        if (!branch.empty())
            sum += branch.back()->getOutputNumber();
    return sum;
}

unsigned int SoundAlgoComposite::getInFrameSize() const
{
    return mBranches.empty() || mBranches.front().empty() ? 0 : mBranches.front().front()->getInFrameSize();
}

unsigned int SoundAlgoComposite::getInElementSize() const
{
    return mBranches.empty() || mBranches.front().empty() ? 0 : mBranches.front().front()->getInElementSize();
}

unsigned int SoundAlgoComposite::getOutFrameSize() const
{
    return mBranches.empty() || mBranches.front().empty() ? 0 : mBranches.front().back()->getOutFrameSize();
}

unsigned int SoundAlgoComposite::getOutElementSize() const
{
    return mBranches.empty() || mBranches.front().empty() ? 0 : mBranches.front().back()->getOutElementSize();
}

unsigned int SoundAlgoComposite::getPreferredBufferSize(unsigned int sampleRate) const
{
    // Powers of two of the default block: members that want larger blocks
    // (FFT sizes) get one of the sizes they are built for.
    unsigned int size = SoundBuffer::getDefaultSize();
    for (const auto& branch : mBranches)
        for (SoundAlgo* member : branch) {
            const unsigned int wanted = member->getPreferredBufferSize(sampleRate);
            while (size < wanted)
                size *= 2;
        }
    return std::max(size, projectedSampleShift(sampleRate));
}

unsigned int SoundAlgoComposite::projectedSampleShift(unsigned int sampleRate) const
{
    // Mirrors the equalisation of initInputBuffer: an "In" bypass adds the
    // largest head overlap to a branch's shift and moves the old head's
    // overlap inside the branch; an "Out" bypass adds its overlaps. The
    // overlap that a branch end owes to the next algorithm is the same for
    // every branch and cancels out, so it is left out here.
    const unsigned int largestIn = getInOverlap(sampleRate);
    std::vector<unsigned int> shifts;
    std::vector<BranchEnd> ends;
    for (const auto& branch : mBranches) {
        if (branch.empty())
            continue;
        unsigned int shift = 0;
        BranchEnd end;
        for (size_t j = 0; j < branch.size(); ++j) {
            SoundAlgo* member = branch[j];
            auto* nested = dynamic_cast<SoundAlgoComposite*>(member);
            shift += nested ? nested->projectedSampleShift(sampleRate) : member->getSampleShift(sampleRate);
            end.delay += member->getDelay(sampleRate);
            end.overlap += member->getOutOverlap(sampleRate) + (j > 0 ? member->getInOverlap(sampleRate) : 0);
        }
        end.lastOut = branch.back()->getOutOverlap(sampleRate);
        SoundAlgo* head = branch.front();
        if (head->getInOverlap(sampleRate) < largestIn && head->getInputNumber() == 1) {
            shift += largestIn;
            end.overlap += head->getInOverlap(sampleRate);
        }
        shifts.push_back(shift);
        ends.push_back(end);
    }
    const std::vector<EndBypass> plan = planBranchEnds(ends);
    unsigned int largest = 0;
    for (size_t b = 0; b < shifts.size(); ++b)
        largest = std::max(largest, shifts[b] + plan[b].inOverlap + plan[b].outOverlap);
    return largest;
}

// ---------------------------------------------------------------- run set-up

void SoundAlgoComposite::setBuildError(const QString& reason)
{
    qCritical().noquote() << getName() << ":" << reason;
    if (mBuildError.isEmpty())
        mBuildError = reason;
}

SoundTools::Status SoundAlgoComposite::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    if (hasBuildError()) {
        setError(mBuildError, "SoundAlgoComposite::initProcess");
        return SoundTools::Error;
    }
    return SoundAlgo::initProcess(context, previous, next);
}

SoundTools::Status SoundAlgoComposite::wireBranches(const LoopContext& context)
{
    const unsigned int n = getInputNumber();
    bool inputsTaken = false;
    if (mPrevious) {
        if (mPrevious->getOutputNumber() != n)
            return SoundTools::Error;
        for (unsigned int i = 0; i < n; ++i)
            mInBuffers[i] = mPrevious->getOutBuffer(i);
        inputsTaken = true;
    }
    unsigned int k = 0;
    unsigned int c = 0;
    for (unsigned int b = 0; b < mBranches.size(); ++b) {
        auto& branch = mBranches[b];
        if (branch.empty()) {
            setError(QStringLiteral("branch %1 of %2 has no member").arg(b).arg(getName()),
                     "SoundAlgoComposite::initInputBuffer");
            return SoundTools::Error;
        }
        // Separate inputs: this branch's head reads the next group of the
        // previous algorithm's outputs.
        if (mPrevious && !mShareInputs)
            mPrevious->setOutPortOffset(c);
        for (size_t j = 0; j < branch.size(); ++j) {
            SoundAlgo* previous = j == 0 ? mPrevious : branch[j - 1];
            SoundAlgo* next = j + 1 < branch.size() ? branch[j + 1] : mNext;
            if (branch[j]->initProcess(context, previous, next) != SoundTools::Ok) {
                if (mPrevious)
                    mPrevious->setOutPortOffset(0);
                return SoundTools::Error;
            }
            if (j != 0)
                continue;
            SoundAlgo* head = branch[0];
            const unsigned int headInputs = head->getInputNumber();
            c += headInputs;
            if (!inputsTaken) {
                for (unsigned int i = 0; k < c && k < mInBuffers.size(); ++i, ++k)
                    mInBuffers[k] = head->getInBuffer(i);
                if (mShareInputs)
                    inputsTaken = true;
            } else if (mShareInputs && !mPrevious) {
                if (head->useInputs(this) != SoundTools::Ok)
                    return SoundTools::Error;
            }
        }
    }
    if (mPrevious)
        mPrevious->setOutPortOffset(0);
    return SoundTools::Ok;
}

bool SoundAlgoComposite::equaliseInputOverlaps(unsigned int sampleRate)
{
    // Every head must consume the same input overlap, or the branches end
    // their blocks on different frames. A head that needs less is fed by a
    // bypass that needs the largest: a bypass carrying only the difference
    // would itself head the branch with an overlap that still differs. The
    // overlap of the old head then lies inside the branch, where the output
    // equalisation that follows accounts for it like any other member's.
    const unsigned int largest = getInOverlap(sampleRate);
    bool changed = false;
    for (unsigned int b = 0; b < mBranches.size(); ++b) {
        auto& branch = mBranches[b];
        // A bypass has one port: a head reading several inputs keeps them.
        if (branch.front()->getInOverlap(sampleRate) >= largest || branch.front()->getInputNumber() != 1)
            continue;
        auto* bypass = new SoundAlgoBypass(largest, 0, 0);
        bypass->setId(QStringLiteral("In %2 [%1]").arg(b).arg(getName()));
        branch.insert(branch.begin(), bypass);
        changed = true;
    }
    return changed;
}

bool SoundAlgoComposite::equaliseOutputs(unsigned int sampleRate)
{
    std::vector<BranchEnd> ends;
    for (unsigned int b = 0; b < mBranches.size(); ++b)
        ends.push_back({ getBranchDelay(sampleRate, b), getBranchOutOverlap(sampleRate, b),
                         mBranches[b].back()->getOutOverlap(sampleRate) });
    const std::vector<EndBypass> plan = planBranchEnds(ends);
    bool changed = false;
    for (unsigned int b = 0; b < mBranches.size(); ++b) {
        if (!plan[b].needed)
            continue;
        auto* bypass = new SoundAlgoBypass(plan[b].inOverlap, plan[b].delay, plan[b].outOverlap);
        bypass->setId(QStringLiteral("Out %2 [%1]").arg(b).arg(getName()));
        mBranches[b].push_back(bypass);
        changed = true;
    }
    return changed;
}

SoundTools::Status SoundAlgoComposite::initInputBuffer(const LoopContext& context)
{
    for (int pass = 0; pass < kEqualisationPasses; ++pass) {
        if (wireBranches(context) != SoundTools::Ok)
            return SoundTools::Error;
        if (equaliseInputOverlaps(context.sampleRate))
            continue;
        if (equaliseOutputs(context.sampleRate))
            continue;
        return SoundTools::Ok;
    }
    setError(QStringLiteral("the branches of %1 cannot be given equal delays and overlaps").arg(getName()),
             "SoundAlgoComposite::initInputBuffer");
    return SoundTools::Error;
}

SoundTools::Status SoundAlgoComposite::initOutputBuffer(const LoopContext& /*context*/)
{
    size_t port = 0;
    for (const auto& branch : mBranches) {
        SoundAlgo* last = branch.back();
        for (unsigned int i = 0; i < last->getOutputNumber() && port < mOutBuffers.size(); ++i)
            mOutBuffers[port++] = last->getOutBuffer(i);
    }
    return SoundTools::Ok;
}

void SoundAlgoComposite::setOutOrigin()
{
    for (auto& branch : mBranches)
        for (SoundAlgo* member : branch)
            member->setOutOrigin();
}

void SoundAlgoComposite::updateOutput(unsigned int advance)
{
    // In chain order: a member sizes its output from its input, which the
    // member before it has just sized.
    for (auto& branch : mBranches)
        for (SoundAlgo* member : branch)
            member->updateOutput(advance);
}

void SoundAlgoComposite::endProcess(int status, unsigned int frameNBProcessed)
{
    for (auto& branch : mBranches)
        for (SoundAlgo* member : branch)
            member->endProcess(status, frameNBProcessed);
    SoundAlgo::endProcess(status, frameNBProcessed);
}

void SoundAlgoComposite::streamEnds(int endFrame)
{
    for (auto& branch : mBranches)
        for (SoundAlgo* member : branch)
            member->streamEnds(endFrame);
}

// ---------------------------------------------------------------- processing

int SoundAlgoComposite::processOneLoop(unsigned int branch)
{
    for (SoundAlgo* member : mBranches[branch]) {
        const SoundTools::Status status = member->process();
        if (status != SoundTools::Ok)
            return status;
    }
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgoComposite::process()
{
    if (mBranches.empty())
        return SoundTools::Ok;
    int result = 0;
    const int count = static_cast<int>(mBranches.size());
    if (!branchesRunInParallel(count)) {
        for (int b = 0; b < count; ++b)
            result |= processOneLoop(static_cast<unsigned int>(b));
    } else {
        // Branches share only input buffers, which no member writes, so they
        // run on separate threads without locks; a branch's members run in
        // order on one thread.
#pragma omp parallel
        {
            TULV_PARALLEL_ENTER();
            int own = 0;
#pragma omp for schedule(static)
            for (int b = 0; b < count; ++b)
                own |= processOneLoop(static_cast<unsigned int>(b));
#pragma omp atomic
            result |= own;
            TULV_PARALLEL_LEAVE();
        }
        TULV_PARALLEL_JOINED();
    }
    if (result == 0)
        return SoundTools::Ok;
    return result == 1 ? SoundTools::Error : SoundTools::Stopped;
}

void SoundAlgoComposite::debugBuffers()
{
    SoundAlgo::debugBuffers();
    std::ostream& out = getOStream();
    const std::string name = getName().toStdString();
    for (size_t b = 0; b < mBranches.size(); ++b) {
        out << "==============================================" << '\n';
        out << "Branch " << b << " " << name << '\n';
        for (SoundAlgo* member : mBranches[b])
            member->debugBuffers();
        out << "End Branch " << b << " " << name << '\n';
        out << "==============================================" << std::endl;
    }
}
