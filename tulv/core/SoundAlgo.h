#ifndef TULV_CORE_SOUNDALGO_H
#define TULV_CORE_SOUNDALGO_H

#include "tulv/core/SoundBuffer.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/core/SoundRefCounted.h"
#include "tulv/core/SoundTools.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <boost/noncopyable.hpp>

#include <atomic>
#include <memory>
#include <vector>

class SoundReader;
class SoundWriter;

// Base of every processing algorithm. An algorithm turns the frames of its
// input ports into the frames of its output ports, one block at a time, and
// declares its geometry: how many frames of context it needs before a block
// (input overlap), how many of its output frames it holds back for the next
// block (output overlap), how late its output is (delay) and how many zero
// frames flush it at the end of the stream (sample shift).
//
// Lifecycle: construction (idle, empty ports), initProcess (ports created or
// shared with the neighbours), process per block, endProcess (ports
// released). Algorithms are released through their reference count.
class SoundAlgo : public QObject, public SoundDebuggableClass, public SoundRefCounted, private boost::noncopyable {
    Q_OBJECT
public:
    // The state of one run of the block loop.
    struct LoopContext {
        unsigned int inOverlap = 0;
        unsigned int delay = 0;
        unsigned int outOverlap = 0;
        unsigned int sampleRate = 0;
        unsigned int frameNBToProcess = 0;
        unsigned int frameNBProcessed = 0;
        unsigned int channelNum = 2;
        int startFrame = 0;
        unsigned int bufferSize = 0;
        // Frames by which the outputs slide before the next block;
        // −inOverlap before the first block.
        int advance = 0;
        std::shared_ptr<SoundBuffer> inBuffer;
        std::shared_ptr<SoundBuffer> outBuffer;
        SoundTools::Status status = SoundTools::Ok;

        void reset() { *this = LoopContext(); }
    };

    // Rebuilds one registered class of algorithm from its JSON object.
    class SoundAlgoJSonBuilder {
    public:
        virtual ~SoundAlgoJSonBuilder() = default;
        // A new algorithm (reference count 1, owned by the caller), or null
        // when the object cannot be used.
        virtual SoundAlgo* build(const QJsonObject& object) = 0;
        // Equal to the "Class" value that the class writes.
        virtual QString getClassName() = 0;
    };

    SoundAlgo();
    explicit SoundAlgo(QString id);

    // Registers `builder` under its class name, replacing (not deleting) an
    // earlier one. Builders stay registered for the life of the process. A
    // null builder is ignored.
    static void declareBuilder(SoundAlgoJSonBuilder* builder);
    // Null without a message when "Class" is missing; null with the error
    // set when the class is unknown or its builder fails.
    static SoundAlgo* createFromJSon(QJsonObject object);
    // Every object of the array that can be built, in order; never null.
    static std::vector<SoundAlgo*> createFromJSon(QJsonArray array);
    // From class name to builder. Builders register from static initialisers
    // of other files, in no defined order, so the registry itself is built on
    // first use; this names it for hosts.
    static QHash<QString, SoundAlgoJSonBuilder*>& sJsonBuilders;

    virtual QString getName();
    virtual void writeToJSon(QJsonObject& object) const;
    virtual SoundTools::Status process() = 0;

    // Runs the whole loop from `reader` to `writer` (null: analysis only).
    SoundTools::Status processAll(SoundReader& reader, SoundWriter* writer);
    // The three stages of processAll, for a caller that drives the loop.
    SoundTools::Status initProcessLoop(SoundReader& reader, LoopContext& context);
    SoundTools::Status singleProcessLoop(SoundReader& reader, LoopContext& context, SoundWriter* writer);
    int endProcessLoop(LoopContext& context);

    std::shared_ptr<SoundBuffer> getInBuffer(unsigned int port) const;
    std::shared_ptr<SoundBuffer> getOutBuffer(unsigned int port) const;

    QString getId() const { return mId; }
    void setId(QString id) { mId = id; }
    unsigned int getSampleRate() const { return mSampleRate; }

Q_SIGNALS:
    void notifyBegin(unsigned int aFrameNBToProcess);
    void notifyInProgress(unsigned int aFrameNBProcessed, unsigned int aFrameNBToProcess);
    void notifyEnd(int aStatus, unsigned int aFrameNBProcessed);

public Q_SLOTS:
    // Safe from any thread; read once per block, after the block is written.
    void pleaseStop();

protected:
    // A composite drives its members' geometry and port set-up, which are
    // protected in every algorithm.
    friend class SoundAlgoComposite;

    ~SoundAlgo() override;

    virtual int getOffset();
    virtual void debugBuffers();
    virtual bool readFromJSon(QJsonObject& object);
    virtual unsigned int getInputNumber() const { return 1; }
    virtual unsigned int getOutputNumber() const { return 1; }
    virtual unsigned int getInFrameSize() const { return 1; }
    virtual unsigned int getOutFrameSize() const { return 1; }
    virtual unsigned int getInElementSize() const { return 1; }
    virtual unsigned int getOutElementSize() const { return 1; }
    virtual unsigned int getDelay(unsigned int /*sampleRate*/) const { return 0; }
    virtual unsigned int getSampleShift(unsigned int sampleRate) const { return getInOverlap(sampleRate); }
    virtual unsigned int getInOverlap(unsigned int /*sampleRate*/) const { return 0; }
    virtual unsigned int getOutOverlap(unsigned int /*sampleRate*/) const { return 0; }
    // The output overlap plus the input overlap of the algorithm that reads
    // these outputs: a shared buffer must hold the context the reader needs.
    virtual unsigned int getOutBufferOverlap(unsigned int sampleRate) const;
    virtual SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next);
    virtual SoundTools::Status initInputBuffer(const LoopContext& context);
    virtual SoundTools::Status initOutputBuffer(const LoopContext& context);
    virtual void setOutOrigin();
    virtual void updateOutput(unsigned int advance);
    virtual unsigned int getPreferredBufferSize(unsigned int sampleRate) const;
    virtual void endProcess(int status, unsigned int frameNBProcessed);
    virtual int getOutOrigin() const;

    // The first absolute frame present in every input.
    int getInOrigin() const;
    // Frames available in every input from getInOrigin().
    unsigned int getInFrameNb() const;
    // Frames to produce in every output from getOutOrigin().
    unsigned int getOutFrameNb() const;
    std::shared_ptr<SoundBuffer> getOutPort(unsigned int i) const { return mOutBuffers[mOutPortOffset + i]; }
    unsigned int getOutPortNumber() const { return getOutputNumber() - mOutPortOffset; }
    void setOutPortOffset(unsigned int offset) { mOutPortOffset = offset; }
    // Reads the same input buffers as `other` (parallel branches).
    SoundTools::Status useInputs(SoundAlgo* other);

    // One block of a stereo algorithm with one input and one output whose
    // output frame t is computed from input frame t onwards (no delay, no
    // output overlap): the frames to compute from `first`, and both ports
    // there (null when a port cannot be addressed; not set when frames is 0).
    struct StereoBlock {
        int first;
        int frames;
        const SoundTools::StereoFrame<double>* in;
        SoundTools::StereoFrame<double>* out;
    };
    StereoBlock stereoBlock() const;

    bool isStopRequested() const { return mStop.load(std::memory_order_relaxed); }

    std::vector<std::shared_ptr<SoundBuffer>> mInBuffers;
    std::vector<std::shared_ptr<SoundBuffer>> mOutBuffers;
    unsigned int mOutPortOffset = 0;
    unsigned int mSampleRate = 0;
    SoundAlgo* mPrevious = nullptr;
    SoundAlgo* mNext = nullptr;
    int mOffset = 0;
    std::atomic<bool> mStop { false };
    QString mId;

private:
    // Ends a run whose buffers could not be allocated, with an error.
    SoundTools::Status outOfMemory(LoopContext& context);
};

#endif
