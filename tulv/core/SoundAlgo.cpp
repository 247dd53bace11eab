#include "tulv/core/SoundAlgo.h"

#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"

#include <QDebug>

#include <cxxabi.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>
#include <typeinfo>

namespace {

QString demangledName(const std::type_info& type)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && readable ? readable : type.name());
    std::free(readable);
    return name;
}

} // namespace

SoundAlgo::SoundAlgo() = default;

SoundAlgo::SoundAlgo(QString id)
    : mId(std::move(id))
{
}

SoundAlgo::~SoundAlgo() = default;

QString SoundAlgo::getName()
{
    const QString cls = demangledName(typeid(*this));
    if (mId.isEmpty())
        return cls;
    return cls + QLatin1Char('(') + mId + QLatin1Char(')');
}

void SoundAlgo::writeToJSon(QJsonObject& object) const
{
    object.insert(QStringLiteral("Id"), mId);
}

bool SoundAlgo::readFromJSon(QJsonObject& object)
{
    const QJsonValue id = object.value(QStringLiteral("Id"));
    if (id.isString())
        mId = id.toString();
    return true;
}

namespace {
QHash<QString, SoundAlgo::SoundAlgoJSonBuilder*>& builderRegistry()
{
    static QHash<QString, SoundAlgo::SoundAlgoJSonBuilder*> registry;
    return registry;
}
} // namespace

QHash<QString, SoundAlgo::SoundAlgoJSonBuilder*>& SoundAlgo::sJsonBuilders = builderRegistry();

void SoundAlgo::declareBuilder(SoundAlgoJSonBuilder* builder)
{
    if (!builder)
        return;
    builderRegistry().insert(builder->getClassName(), builder);
}

SoundAlgo* SoundAlgo::createFromJSon(QJsonObject object)
{
    const QJsonValue cls = object.value(QStringLiteral("Class"));
    if (!cls.isString())
        return nullptr;
    const QString name = cls.toString();
    SoundAlgoJSonBuilder* builder = builderRegistry().value(name, nullptr);
    if (!builder) {
        setError(QStringLiteral("Unknown class ") + name, "SoundAlgo::createFromJSon");
        return nullptr;
    }
    SoundAlgo* algo = builder->build(object);
    if (!algo)
        setError(QStringLiteral("Unable to build ") + name, "SoundAlgo::createFromJSon");
    return algo;
}

std::vector<SoundAlgo*> SoundAlgo::createFromJSon(QJsonArray array)
{
    std::vector<SoundAlgo*> result;
    result.reserve(size_t(array.size()));
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            continue;
        if (SoundAlgo* algo = createFromJSon(element.toObject()))
            result.push_back(algo);
    }
    return result;
}

int SoundAlgo::getOffset()
{
    return mOffset;
}

void SoundAlgo::pleaseStop()
{
    mStop.store(true);
}

std::shared_ptr<SoundBuffer> SoundAlgo::getInBuffer(unsigned int port) const
{
    return port < mInBuffers.size() ? mInBuffers[port] : nullptr;
}

std::shared_ptr<SoundBuffer> SoundAlgo::getOutBuffer(unsigned int port) const
{
    return port < mOutBuffers.size() ? mOutBuffers[port] : nullptr;
}

unsigned int SoundAlgo::getOutBufferOverlap(unsigned int sampleRate) const
{
    return getOutOverlap(sampleRate) + (mNext ? mNext->getInOverlap(sampleRate) : 0);
}

unsigned int SoundAlgo::getPreferredBufferSize(unsigned int sampleRate) const
{
    return std::max({ SoundBuffer::getDefaultSize(),
                      getOutBufferOverlap(sampleRate) + getSampleShift(sampleRate),
                      getInOverlap(sampleRate) });
}

int SoundAlgo::getOutOrigin() const
{
    return getInOrigin() - static_cast<int>(getOutOverlap(mSampleRate)) + static_cast<int>(getDelay(mSampleRate));
}

int SoundAlgo::getInOrigin() const
{
    int result = INT_MIN;
    for (const auto& buffer : mInBuffers)
        if (buffer)
            result = std::max(result, buffer->getOrigin());
    return result == INT_MIN ? 0 : result;
}

unsigned int SoundAlgo::getInFrameNb() const
{
    const int from = getInOrigin();
    long long smallest = LLONG_MAX;
    for (const auto& buffer : mInBuffers)
        if (buffer)
            smallest = std::min<long long>(smallest, (long long)buffer->getOrigin() + buffer->getFrameNB() - from);
    if (smallest == LLONG_MAX)
        return 0;
    if (mPrevious)
        smallest -= mPrevious->getOutOverlap(mSampleRate);
    return smallest > 0 ? static_cast<unsigned int>(smallest) : 0;
}

unsigned int SoundAlgo::getOutFrameNb() const
{
    const int from = getOutOrigin();
    long long smallest = LLONG_MAX;
    for (const auto& buffer : mOutBuffers)
        if (buffer)
            smallest = std::min<long long>(smallest, (long long)buffer->getOrigin() + buffer->getFrameNB() - from);
    if (smallest == LLONG_MAX)
        return INT_MAX;
    return smallest > 0 ? static_cast<unsigned int>(smallest) : 0;
}

SoundAlgo::StereoBlock SoundAlgo::stereoBlock() const
{
    StereoBlock block { getOutOrigin(), static_cast<int>(std::min(getOutFrameNb(), getInFrameNb())), nullptr, nullptr };
    if (block.frames > 0 && !mInBuffers.empty() && !mOutBuffers.empty() && mInBuffers[0] && mOutBuffers[0]) {
        block.in = mInBuffers[0]->getStereoFrame(block.first);
        block.out = mOutBuffers[0]->getStereoFrame(block.first);
    }
    return block;
}

SoundTools::Status SoundAlgo::useInputs(SoundAlgo* other)
{
    const unsigned int n = getInputNumber();
    if (other->getInputNumber() < n) {
        qCritical().nospace() << "Error in sharing inputs : " << other->getName() << " has " << other->getInputNumber()
                              << " inputs whereas " << getName() << " has " << n << " inputs.";
        return SoundTools::Error;
    }
    if (other->getInElementSize() != getInElementSize()) {
        qCritical().nospace() << "Error in sharing inputs : " << other->getName() << " has elements of size "
                              << other->getInElementSize() << " whereas " << getName() << " has elements of size "
                              << getInElementSize();
        return SoundTools::Error;
    }
    if (other->getInFrameSize() != getInFrameSize()) {
        qCritical().nospace() << "Error in sharing inputs : " << other->getName() << " has frames of size "
                              << other->getInFrameSize() << " whereas " << getName() << " has frames of size "
                              << getInFrameSize();
        return SoundTools::Error;
    }
    if (mInBuffers.size() < n)
        mInBuffers.resize(n);
    for (unsigned int i = 0; i < n; ++i)
        if (mInBuffers[i] != other->getInBuffer(i))
            mInBuffers[i] = other->getInBuffer(i);
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgo::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    mSampleRate = context.sampleRate;
    mPrevious = previous;
    mNext = next;
    mOffset = context.startFrame;
    if (context.channelNum != 2)
        return SoundTools::Error;
    if (getInputNumber() == 0 || getOutputNumber() == 0)
        return SoundTools::Error;
    mInBuffers.resize(getInputNumber());
    if (initInputBuffer(context) != SoundTools::Ok)
        return SoundTools::Error;
    mOutBuffers.resize(getOutputNumber());
    if (initOutputBuffer(context) != SoundTools::Ok)
        return SoundTools::Error;
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgo::initInputBuffer(const LoopContext& context)
{
    if (!mPrevious) {
        for (auto& buffer : mInBuffers) {
            buffer = SoundBuffer::createNew(context.sampleRate);
            buffer->alloc(getInOverlap(context.sampleRate) + context.bufferSize, static_cast<int>(context.channelNum),
                          getInFrameSize(), getInElementSize());
        }
        return SoundTools::Ok;
    }
    if (mPrevious->getOutPortNumber() < getInputNumber() || mPrevious->getOutElementSize() != getInElementSize()
        || mPrevious->getOutFrameSize() != getInFrameSize())
        return SoundTools::Error;
    for (unsigned int i = 0; i < mInBuffers.size(); ++i)
        mInBuffers[i] = mPrevious->getOutPort(i);
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgo::initOutputBuffer(const LoopContext& context)
{
    if (mInBuffers.empty() || !mInBuffers[0])
        return SoundTools::Error;
    const unsigned int overlap = getOutBufferOverlap(context.sampleRate);
    const unsigned int inputCapacity = mInBuffers[0]->getFrameNBAllocated();
    for (auto& buffer : mOutBuffers) {
        buffer = SoundBuffer::createNew(context.sampleRate);
        buffer->alloc(overlap + inputCapacity, 2, getOutFrameSize(), getOutElementSize());
    }
    return SoundTools::Ok;
}

void SoundAlgo::setOutOrigin()
{
    const int origin = getInOrigin() - static_cast<int>(getOutBufferOverlap(mSampleRate))
        + static_cast<int>(getDelay(mSampleRate));
    const int start = getOffset();
    for (auto& buffer : mOutBuffers) {
        buffer->setOrigin(origin);
        buffer->setStartOffset(start);
    }
}

void SoundAlgo::updateOutput(unsigned int advance)
{
    const long long n = (long long)getInFrameNb() - getInOverlap(mSampleRate) + getOutBufferOverlap(mSampleRate);
    const unsigned int frames = n > 0 ? static_cast<unsigned int>(n) : 0;
    for (auto& buffer : mOutBuffers) {
        if (advance != 0)
            buffer->rotate(advance);
        buffer->setFrameNB(frames);
    }
}

void SoundAlgo::endProcess(int /*status*/, unsigned int /*frameNBProcessed*/)
{
    mInBuffers.clear();
    mOutBuffers.clear();
    mPrevious = nullptr;
    mNext = nullptr;
}

void SoundAlgo::debugBuffers()
{
    std::ostream& out = getOStream();
    const auto in = getInBuffer(0);
    const auto outBuffer = getOutBuffer(0);
    out << "=================================" << '\n';
    out << getName().toStdString() << " :" << '\n';
    if (in)
        out << "InBuffer.getOrigin :" << in->getOrigin() << " InBuffer.getEnd : " << in->getEnd()
            << " InBuffer.getFrameNB :" << in->getFrameNB() << '\n';
    if (outBuffer)
        out << "OutBuffer.getOrigin :" << outBuffer->getOrigin() << " OutBuffer.getEnd : " << outBuffer->getEnd()
            << " OutBuffer.getFrameNB :" << outBuffer->getFrameNB() << '\n';
    out << "getInOverlap :" << getInOverlap(mSampleRate) << " getOutOverlap :" << getOutOverlap(mSampleRate)
        << " getOutBufferOverlap :" << getOutBufferOverlap(mSampleRate) << '\n';
    out << "getInOrigin :" << getInOrigin() << " getInFrameNb :" << getInFrameNb()
        << " getInEnd :" << getInOrigin() + static_cast<int>(getInFrameNb()) - 1 << '\n';
    out << "getOutOrigin :" << getOutOrigin() << " getOutFrameNb :" << getOutFrameNb()
        << " getOutEnd :" << getOutOrigin() + static_cast<int>(getOutFrameNb()) - 1 << '\n';
    out << "getDelay :" << getDelay(mSampleRate) << '\n' << std::endl;
}

SoundTools::Status SoundAlgo::processAll(SoundReader& reader, SoundWriter* writer)
{
    LoopContext context;
    if (initProcessLoop(reader, context) != SoundTools::Ok)
        return SoundTools::Error;
    while (singleProcessLoop(reader, context, writer) == SoundTools::Ok) {
    }
    endProcessLoop(context);
    return context.status;
}

int SoundAlgo::endProcessLoop(LoopContext& context)
{
    endProcess(context.status, context.frameNBProcessed);
    Q_EMIT notifyEnd(context.status, context.frameNBProcessed);
    return 0;
}

SoundTools::Status SoundAlgo::outOfMemory(LoopContext& context)
{
    context.status = SoundTools::Error;
    context.outBuffer.reset();
    setError(QStringLiteral("Not enough memory for the processing buffers"), getName().toUtf8().constData());
    return SoundTools::Error;
}

// Buffers are sized from the source (its rate, the algorithms' windows): an
// allocation that fails is reported like any other failed run, never thrown
// at the caller.
SoundTools::Status SoundAlgo::initProcessLoop(SoundReader& reader, LoopContext& context)
try {
    context.reset();
    if (getInputNumber() != 1 || getOutputNumber() != 1)
        return SoundTools::Error;
    mStop.store(false);
    context.sampleRate = reader.getSampleRate();
    context.frameNBToProcess = reader.getFrameNB() - static_cast<unsigned int>(reader.getOffset());
    context.frameNBProcessed = 0;
    context.status = SoundTools::Ok;
    context.startFrame = reader.getOffset();
    context.channelNum = 2;
    // The first block begins with `delay` zero frames. Behind them the buffer
    // must hold at least as many frames of the stream: a first read shorter
    // than the frames kept ahead of it looks like the end of the source.
    context.bufferSize = std::max(getPreferredBufferSize(context.sampleRate), 2 * getDelay(context.sampleRate));
    if (initProcess(context, nullptr, nullptr) != SoundTools::Ok)
        return SoundTools::Error;
    Q_EMIT notifyBegin(context.frameNBToProcess);
    context.inOverlap = getInOverlap(context.sampleRate);
    context.delay = getDelay(context.sampleRate);
    context.outOverlap = getOutOverlap(context.sampleRate);
    context.inBuffer = getInBuffer(0);
    context.inBuffer->setOrigin(context.startFrame);
    context.inBuffer->setInitialDelay(context.delay);
    setOutOrigin();
    context.advance = -static_cast<int>(context.inOverlap);
    return SoundTools::Ok;
} catch (const std::bad_alloc&) {
    return outOfMemory(context);
}

SoundTools::Status SoundAlgo::singleProcessLoop(SoundReader& reader, LoopContext& context, SoundWriter* writer)
try {
    context.status = SoundTools::Ok;
    SoundTools::Status blockResult = SoundTools::Ok;
    const int inOriginBefore = context.inBuffer->getOrigin();
    int read = static_cast<int>(reader.stereoRead(context.inBuffer, context.inOverlap));
    if (read == 0) {
        // The source is exhausted: push the sample shift of silence through
        // once so that whatever the algorithm still holds comes out.
        const unsigned int shift = getSampleShift(mSampleRate);
        if (shift == 0)
            return SoundTools::EndOfStream;
        context.inBuffer->appendMargin(shift);
        blockResult = SoundTools::EndOfStream;
    }
    context.frameNBProcessed += static_cast<unsigned int>(read);
    // The outputs slide by exactly as much as the input window moved, so that
    // an output frame keeps its place relative to the input frames it comes
    // from. Counting only the frames read would forget the initial delay's
    // zeros after the first block and the zero padding at the end of a short
    // source, and would leave stale frames in the output.
    const int moved = context.inBuffer->getOrigin() - inOriginBefore;
    updateOutput(static_cast<unsigned int>(std::max(moved, 0)));
    context.advance = moved;

    context.status = process();
    if (context.status != SoundTools::Ok) {
        context.outBuffer.reset();
        return context.status;
    }
    context.outBuffer = getOutBuffer(0);
    if (writer) {
        context.status = writer->writeBuffer(context.outBuffer, context.outOverlap);
        if (context.status == SoundTools::Error)
            setError(getError(), nullptr);
    }
    Q_EMIT notifyInProgress(context.frameNBProcessed, context.frameNBToProcess);
    if (mStop.load()) {
        context.status = SoundTools::Stopped;
        return SoundTools::Stopped;
    }
    return context.status != SoundTools::Ok ? context.status : blockResult;
} catch (const std::bad_alloc&) {
    return outOfMemory(context);
}
