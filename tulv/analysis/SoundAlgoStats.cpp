#include "tulv/analysis/SoundAlgoStats.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iomanip>
#include <ostream>

namespace {

// A mean square at or below this counts as silence.
constexpr double kSilentPower = 1e-20;
constexpr double kSilenceDb = -100.0;

double powerDb(double meanSquare)
{
    return meanSquare <= kSilentPower ? kSilenceDb : 10.0 * std::log10(meanSquare);
}

// Levels are published with the precision they are stored with in the
// statistics files.
double toSingle(double value)
{
    return static_cast<double>(static_cast<float>(value));
}

class SoundAlgoStatsJSonBuilder : public SoundAlgo::SoundAlgoJSonBuilder {
public:
    SoundAlgo* build(const QJsonObject& object) override { return SoundAlgoStats::createFromJSon(object); }
    QString getClassName() override { return QStringLiteral("SoundAlgoStats"); }
};

// Registered when the library is loaded; the registry never deletes it.
SoundAlgoStatsJSonBuilder sBuilder;
const bool kBuilderRegistered = [] {
    SoundAlgo::declareBuilder(&sBuilder);
    return true;
}();

} // namespace

// ---------------------------------------------------------------- band builder

SoundAlgoStats::FrequencyBuilder::FrequencyBuilder(double windowTime)
    : mWindowTime(windowTime)
{
}

void SoundAlgoStats::FrequencyBuilder::buildAlgo(SoundAlgoComposite* composite, unsigned int /*band*/,
                                                 const QString& name)
{
    if (!composite)
        return;
    auto* stats = new SoundAlgoStats(StatsOnly, 0.0);
    stats->setId(name);
    mStats.push_back(stats);
    composite->pushAlgo(stats);
}

// ---------------------------------------------------------------- measurement

namespace {

// The left and right of one frame, side by side in one register.
typedef double Pair __attribute__((vector_size(16)));

inline Pair load(const SoundTools::StereoFrame<double>& frame)
{
    return Pair { frame.left, frame.right };
}

} // namespace

SoundAlgoStats::SoundAlgoStats(OutputType type, double windowTime)
    : mWindowTime(type == StatsOnly ? 0.0 : windowTime)
    , mOutputType(type)
{
}

SoundAlgoStats::~SoundAlgoStats() = default;

unsigned int SoundAlgoStats::getInOverlap(unsigned int sampleRate) const
{
    if (!(mWindowTime > 0.0))
        return 0;
    // Odd, so that the window has a centre frame to line the output up with.
    return static_cast<unsigned int>(std::lround(sampleRate * mWindowTime)) | 1u;
}

unsigned int SoundAlgoStats::getDelay(unsigned int sampleRate) const
{
    if (!(mWindowTime > 0.0))
        return 0;
    return static_cast<unsigned int>(std::lround(sampleRate * mWindowTime)) / 2;
}

SoundTools::Status SoundAlgoStats::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    mCount = 0;
    mLeftSqr = mRightSqr = 0.0;
    mLeftMax = mRightMax = 0.0;
    if (mOutputType != StatsOnly && !(mWindowTime > 0.0)) {
        setError(
            QStringLiteral("%1 : a sliding RMS needs a window above 0 s, not %2 s").arg(getName()).arg(mWindowTime),
            "SoundAlgoStats::initProcess");
        return SoundTools::Error;
    }
    mSourceBegin = context.startFrame;
    // A source of unknown length (a live queue) is measured to its end.
    mSourceEnd = context.frameNBToProcess == 0 ? LLONG_MAX : mSourceBegin + context.frameNBToProcess;
    return SoundAlgo::initProcess(context, previous, next);
}

void SoundAlgoStats::updateStats(const SoundTools::StereoFrame<double>& frame)
{
    if (mOutputType == RMSOnly)
        return;
    mLeftMax = std::max(mLeftMax, std::fabs(frame.left));
    mRightMax = std::max(mRightMax, std::fabs(frame.right));
    mLeftSqr += frame.left * frame.left;
    mRightSqr += frame.right * frame.right;
    ++mCount;
}

SoundTools::Status SoundAlgoStats::process()
{
    const unsigned int window = getInOverlap(mSampleRate);
    const unsigned int delay = getDelay(mSampleRate);
    const int outFirst = getOutOrigin();
    const int n = static_cast<int>(std::min(getOutFrameNb(), getInFrameNb() - std::min(getInFrameNb(), window)));
    if (n <= 0)
        return SoundTools::Ok;
    // in[k] is the first frame of the window of output frame k; the frame at
    // the window's centre, in[k + delay], is output frame k's own input.
    const SoundTools::StereoFrame<double>* in = mInBuffers[0]->getStereoFrame(outFirst - static_cast<int>(delay));
    SoundTools::StereoFrame<double>* out = mOutBuffers[0]->getStereoFrame(outFirst);
    if (!in || !out)
        return SoundTools::Error;

    // Only the frames of the source count: the loop pads the stream's start
    // and end with zeros that are no part of its level.
    const long long from = std::max<long long>(0, mSourceBegin - outFirst);
    const long long to = std::min<long long>(n, mSourceEnd - outFirst);
    if (mOutputType != RMSOnly) {
        // Local sums, folded in once per block. Left and right share one
        // vector, and even and odd frames have sums of their own, so that
        // four additions are on the way at once rather than each waiting
        // for the one before: per frame one vector square, add, absolute
        // value and compare.
        Pair sumEven = { 0.0, 0.0 }, sumOdd = { 0.0, 0.0 };
        Pair peak = { mLeftMax, mRightMax };
        const SoundTools::StereoFrame<double>* frames = in + delay;
        long long k = from;
        for (; k + 1 < to; k += 2) {
            const Pair even = load(frames[k]);
            const Pair odd = load(frames[k + 1]);
            sumEven += even * even;
            sumOdd += odd * odd;
            const Pair evenAbs = even < 0.0 ? -even : even;
            const Pair oddAbs = odd < 0.0 ? -odd : odd;
            peak = peak < evenAbs ? evenAbs : peak;
            peak = peak < oddAbs ? oddAbs : peak;
        }
        if (k < to) {
            const Pair last = load(frames[k]);
            sumEven += last * last;
            const Pair lastAbs = last < 0.0 ? -last : last;
            peak = peak < lastAbs ? lastAbs : peak;
        }
        const Pair sum = sumEven + sumOdd;
        mLeftSqr += sum[0];
        mRightSqr += sum[1];
        mLeftMax = peak[0];
        mRightMax = peak[1];
        mCount += to > from ? (unsigned long long)(to - from) : 0;
    }

    if (mOutputType == StatsOnly) {
        std::copy(in, in + n, out);
        return SoundTools::Ok;
    }
    // Running sums over the window, started afresh every block so that
    // rounding cannot pile up over a long run: W + n steps per block.
    double left = 0.0;
    double right = 0.0;
    for (unsigned int k = 0; k + 1 < window; ++k) {
        left += in[k].left * in[k].left;
        right += in[k].right * in[k].right;
    }
    const double scale = 1.0 / window;
    for (int k = 0; k < n; ++k) {
        const SoundTools::StereoFrame<double>& entering = in[k + window - 1];
        left += entering.left * entering.left;
        right += entering.right * entering.right;
        // The subtractions can leave a sum of silence a hair below zero.
        out[k].left = std::sqrt(std::max(0.0, left * scale));
        out[k].right = std::sqrt(std::max(0.0, right * scale));
        left -= in[k].left * in[k].left;
        right -= in[k].right * in[k].right;
    }
    return SoundTools::Ok;
}

void SoundAlgoStats::endProcess(int status, unsigned int frameNBProcessed)
{
    if (isVerbose() && status == SoundTools::Ok && mOutputType != RMSOnly) {
        SoundTools::StereoFrame<double> rms { kSilenceDb, kSilenceDb };
        SoundTools::StereoFrame<double> max { kSilenceDb, kSilenceDb };
        double full = 0.0;
        getGlobalStats(rms, full, max);
        std::ostream& out = getOStream();
        const auto flags = out.flags();
        const auto precision = out.precision();
        out << std::fixed << std::setprecision(2) << "Stats :\n\tRMS\t= " << full << " dB\n \tRMS Left\t= " << rms.left
            << " dB\n\tRMS Right\t= " << rms.right << " dB\n\tMax Left\t= " << max.left
            << " dB\n\tMax Right\t= " << max.right << " dB" << std::endl;
        out.flags(flags);
        out.precision(precision);
    }
    SoundAlgo::endProcess(status, frameNBProcessed);
}

// ---------------------------------------------------------------- results

void SoundAlgoStats::getRMS(SoundTools::StereoFrame<double>& out) const
{
    if (mCount == 0)
        return;
    out.left = toSingle(powerDb(mLeftSqr / mCount));
    out.right = toSingle(powerDb(mRightSqr / mCount));
}

void SoundAlgoStats::getMax(SoundTools::StereoFrame<double>& out) const
{
    out.left = toSingle(powerDb(mLeftMax * mLeftMax));
    out.right = toSingle(powerDb(mRightMax * mRightMax));
}

double SoundAlgoStats::getFullRMS() const
{
    if (mCount == 0)
        return 0.0;
    return powerDb((mLeftSqr + mRightSqr) / (2.0 * mCount));
}

void SoundAlgoStats::getGlobalStats(SoundTools::StereoFrame<double>& rms, double& full,
                                    SoundTools::StereoFrame<double>& max) const
{
    if (mCount == 0)
        return;
    getRMS(rms);
    full = getFullRMS();
    getMax(max);
}

// ---------------------------------------------------------------- JSON

void SoundAlgoStats::writeToJSon(QJsonObject& object) const
{
    object.insert(QStringLiteral("Class"), QStringLiteral("SoundAlgoStats"));
    object.insert(QStringLiteral("OutputType"), static_cast<int>(mOutputType));
    object.insert(QStringLiteral("WindowTime"), mWindowTime);
    object.insert(QStringLiteral("TotalCount"), static_cast<double>(mCount));
    object.insert(QStringLiteral("LeftSqr"), mLeftSqr);
    object.insert(QStringLiteral("RightSqr"), mRightSqr);
    object.insert(QStringLiteral("LeftMax"), mLeftMax);
    object.insert(QStringLiteral("RightMax"), mRightMax);
    object.insert(QStringLiteral("SampleRate"), static_cast<int>(getSampleRate()));
}

SoundAlgoStats* SoundAlgoStats::createFromJSon(QJsonObject object)
{
    const QJsonValue cls = object.value(QStringLiteral("Class"));
    const QJsonValue type = object.value(QStringLiteral("OutputType"));
    const QJsonValue window = object.value(QStringLiteral("WindowTime"));
    if (!cls.isString() || cls.toString() != QLatin1String("SoundAlgoStats") || !type.isDouble()
        || !window.isDouble())
        return nullptr;
    // An output type outside the enumeration would measure nothing it could
    // name: refuse the object.
    const int typeValue = type.toInt(-1);
    if (typeValue < RMSAndStats || typeValue > StatsOnly)
        return nullptr;
    auto* stats = new SoundAlgoStats(static_cast<OutputType>(typeValue), window.toDouble());
    stats->readFromJSon(object);
    return stats;
}

bool SoundAlgoStats::readFromJSon(QJsonObject& object)
{
    SoundAlgo::readFromJSon(object);
    const auto take = [&object](const char* key, double& field) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isDouble())
            field = value.toDouble();
    };
    double count = static_cast<double>(mCount);
    take("TotalCount", count);
    mCount = count > 0.0 ? static_cast<unsigned long long>(count) : 0;
    take("LeftSqr", mLeftSqr);
    take("RightSqr", mRightSqr);
    take("LeftMax", mLeftMax);
    take("RightMax", mRightMax);
    double rate = mSampleRate;
    take("SampleRate", rate);
    mSampleRate = rate > 0.0 ? static_cast<unsigned int>(rate) : 0;
    return true;
}
