// The detector's JSON form. Region files come from users' disks, so a
// document is checked whole before anything of it is taken: a list that is
// damaged part-way would otherwise give tracks cut from half a recording.
#include "tulv/dynamics/RMSStepDetector.h"

#include "tulv/io/SoundReader.h"

#include <QJsonArray>
#include <QJsonValue>

#include <cmath>

namespace {

// A mean square this far above full scale (+60 dB) is no measurement of
// sound: sums over hours of such regions would overflow.
constexpr double kMaxMeanSquare = 1e6;
// Longest analysis window and slope time that make sense, in seconds.
constexpr double kMaxWindowSeconds = 60.0;
constexpr double kMaxSlopeSeconds = 3600.0;
// Noise thresholds, in dB: -100 dB stands for silence, and a threshold
// above full scale would call everything noise.
constexpr double kMinThresholdDb = -400.0;
constexpr double kMaxThresholdDb = 100.0;

QString shown(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 17);
    case QJsonValue::String:
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("null");
    }
}

// Reads `key` as a number in [low, high] (a whole one when `whole`); false
// with the reason in `error` otherwise.
bool number(const QJsonObject& object, const char* key, double low, double high, bool whole, double& out,
            QString& error)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined()) {
        error = QStringLiteral("%1 is missing").arg(QLatin1String(key));
        return false;
    }
    const double v = value.toDouble();
    if (!value.isDouble() || (whole && std::floor(v) != v) || !(v >= low && v <= high)) {
        error = QStringLiteral("%1 must be a %2 from %3 to %4, not %5")
                    .arg(QLatin1String(key), whole ? QStringLiteral("whole number") : QStringLiteral("number"))
                    .arg(low, 0, 'g', 10)
                    .arg(high, 0, 'g', 10)
                    .arg(shown(value));
        return false;
    }
    out = v;
    return true;
}

bool boolean(const QJsonObject& object, const char* key, bool& out, QString& error)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isBool()) {
        error = value.isUndefined() ? QStringLiteral("%1 is missing").arg(QLatin1String(key))
                                    : QStringLiteral("%1 must be true or false, not %2")
                                          .arg(QLatin1String(key), shown(value));
        return false;
    }
    out = value.toBool();
    return true;
}

// One region of a stored list, or false with the field at fault.
bool readRegion(const QJsonValue& element, RMSStepDetector::Region& region, QString& error)
{
    if (!element.isObject()) {
        error = QStringLiteral("is %1, not an object").arg(shown(element));
        return false;
    }
    const QJsonObject item = element.toObject();
    const double maxFrames = double(SoundReader::kMaxFrames);
    double begin, length, level0, level1, weight;
    if (!number(item, "BeginSample", 0, maxFrames, true, begin, error)
        || !number(item, "SampleNb", 0, maxFrames, true, length, error)
        || !number(item, "RMSSqrValue0", 0, kMaxMeanSquare, false, level0, error)
        || !number(item, "RMSSqrValue1", 0, kMaxMeanSquare, false, level1, error)
        || !number(item, "MeanSmpl", 1, maxFrames, true, weight, error) || !boolean(item, "IsNoise", region.noise, error))
        return false;
    // The end marker begins at the last position and lasts one frame.
    if (begin + length > maxFrames + 1) {
        error = QStringLiteral("BeginSample %1 plus SampleNb %2 runs past the longest recording (%3 frames)")
                    .arg(begin, 0, 'f', 0)
                    .arg(length, 0, 'f', 0)
                    .arg(SoundReader::kMaxFrames);
        return false;
    }
    region.begin = static_cast<int>(begin);
    region.length = static_cast<int>(length);
    region.level0 = level0;
    region.level1 = level1;
    region.weight = static_cast<int>(weight);
    return true;
}

} // namespace

void RMSStepDetector::writeToJSon(QJsonObject& object) const
{
    object.insert(QStringLiteral("Class"), QStringLiteral("RMSStepDetector"));
    object.insert(QStringLiteral("NoiseThreshold"), noiseLevelDb());
    object.insert(QStringLiteral("RMSTime"), mRMSTime);
    object.insert(QStringLiteral("MinSlopeTime"), mSlopeDetector.getMinSlopeTime());
    object.insert(QStringLiteral("OutputMode"), static_cast<int>(mOutputMode));
    object.insert(QStringLiteral("RealTimeMode"), mRealTimeMode);
    object.insert(QStringLiteral("SampleRate"), static_cast<double>(getSampleRate()));
    if (mRegions.empty())
        return;
    QJsonArray regions;
    for (const Region& region : mRegions) {
        QJsonObject item;
        item.insert(QStringLiteral("BeginSample"), region.begin);
        item.insert(QStringLiteral("SampleNb"), region.length);
        item.insert(QStringLiteral("RMSSqrValue0"), region.level0);
        item.insert(QStringLiteral("RMSSqrValue1"), region.level1);
        item.insert(QStringLiteral("MeanSmpl"), region.weight);
        item.insert(QStringLiteral("IsNoise"), region.noise);
        regions.append(item);
    }
    object.insert(QStringLiteral("Regions"), regions);
}

RMSStepDetector* RMSStepDetector::createFromJSon(QJsonObject object)
{
    const QJsonValue cls = object.value(QStringLiteral("Class"));
    if (!cls.isString() || cls.toString() != QLatin1String("RMSStepDetector")) {
        setError(QStringLiteral("Class must be \"RMSStepDetector\", not %1").arg(shown(cls)), "RMSStepDetector");
        return nullptr;
    }
    QString error;
    double threshold, rmsTime, slopeTime, mode;
    bool realTime;
    // The window must hold a frame at the lowest rate a reader accepts.
    if (!number(object, "NoiseThreshold", kMinThresholdDb, kMaxThresholdDb, false, threshold, error)
        || !number(object, "RMSTime", 1.0 / SoundReader::kMinSampleRate, kMaxWindowSeconds, false, rmsTime, error)
        || !number(object, "MinSlopeTime", 0, kMaxSlopeSeconds, false, slopeTime, error)
        || !number(object, "OutputMode", RegionLevel, NoOutput, true, mode, error)
        || !boolean(object, "RealTimeMode", realTime, error)) {
        setError(error, "RMSStepDetector");
        return nullptr;
    }
    auto* detector = new RMSStepDetector(threshold, rmsTime, slopeTime, static_cast<OutputMode>(int(mode)), realTime);
    if (!detector->readFromJSon(object)) {
        detector->release();
        return nullptr;
    }
    return detector;
}

bool RMSStepDetector::readFromJSon(QJsonObject& object)
{
    SoundAlgo::readFromJSon(object);
    const QJsonValue list = object.value(QStringLiteral("Regions"));
    const bool hasRegions = list.isArray() && !list.toArray().isEmpty();
    QString error;
    double rate = 0;
    // A detector that never ran has no rate; regions need one they can be
    // placed in time with.
    const bool rateRead = hasRegions
        ? number(object, "SampleRate", SoundReader::kMinSampleRate, SoundReader::kMaxSampleRate, true, rate, error)
        : number(object, "SampleRate", 0, SoundReader::kMaxSampleRate, true, rate, error);
    if (!rateRead) {
        setError(error, "RMSStepDetector");
        return false;
    }
    if (!list.isUndefined() && !list.isArray()) {
        setError(QStringLiteral("Regions must be a list, not %1").arg(shown(list)), "RMSStepDetector");
        return false;
    }
    // A detector that never ran writes no list.
    std::vector<Region> read;
    const QJsonArray items = list.toArray();
    read.reserve(size_t(items.size()));
    for (int i = 0; i < items.size(); ++i) {
        Region region;
        if (!readRegion(items.at(i), region, error)) {
            setError(QStringLiteral("region %1 of %2: %3").arg(i + 1).arg(items.size()).arg(error), "RMSStepDetector");
            return false;
        }
        // Regions follow one another without a gap or an overlap, as the
        // analysis makes them; anything else is not a list of this recording.
        if (!read.empty()) {
            const Region& previous = read.back();
            const long long end = (long long)previous.begin + previous.length;
            if (region.begin != end) {
                const QString how = region.begin < previous.begin
                    ? QStringLiteral("comes before region %1, which begins at %2").arg(i).arg(previous.begin)
                    : region.begin < end ? QStringLiteral("overlaps region %1, which ends at %2").arg(i).arg(end)
                                         : QStringLiteral("leaves a gap after region %1, which ends at %2").arg(i).arg(end);
                setError(QStringLiteral("region %1 of %2: BeginSample %3 %4")
                             .arg(i + 1)
                             .arg(items.size())
                             .arg(region.begin)
                             .arg(how),
                         "RMSStepDetector");
                return false;
            }
        }
        read.push_back(region);
    }
    mSampleRate = static_cast<unsigned int>(rate);
    {
        WriteHold lock(mLock);
        mRegions.insert(mRegions.end(), read.begin(), read.end());
        mBackup = mRegions;
    }
    if (isDebug())
        printRegions("JSON Loaded");
    return true;
}
