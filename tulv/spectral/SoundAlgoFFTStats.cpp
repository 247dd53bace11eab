#include "tulv/spectral/SoundAlgoFFTStats.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

double toDb(double power)
{
    const double root = std::sqrt(power);
    return root <= 1e-20 ? -100.0 : 20.0 * std::log10(root);
}

} // namespace

SoundAlgoFFTStats::SoundAlgoFFTStats() = default;

SoundAlgoFFTStats::~SoundAlgoFFTStats() = default;

std::vector<double> SoundAlgoFFTStats::getFrequencies() const
{
    std::vector<double> result(powerSums.size());
    const double df = fftSize > 0 ? double(mSampleRate) / fftSize : 0.0;
    for (size_t k = 0; k < result.size(); ++k)
        result[k] = double(k) * df;
    return result;
}

std::vector<double> SoundAlgoFFTStats::getStats() const
{
    std::vector<double> result(powerSums.size());
    std::transform(powerSums.begin(), powerSums.end(), result.begin(), toDb);
    return result;
}

std::vector<double> SoundAlgoFFTStats::getStats(const std::vector<double>& edges) const
{
    std::vector<double> result(edges.size() + 1, 0.0);
    const double df = fftSize > 0 ? double(mSampleRate) / fftSize : 0.0;
    double best = -1000.0;
    size_t k = 0;
    double frequency = 0.0;
    for (size_t i = 0; i < edges.size(); ++i) {
        for (; k < powerSums.size() && edges[i] >= frequency; ++k, frequency += df)
            result[i] += powerSums[k];
        result[i] = toDb(result[i]);
        best = std::max(best, result[i]);
    }
    double& last = result.back();
    for (; k < powerSums.size(); ++k)
        last += powerSums[k];
    last = toDb(last);
    best = std::max(best, last);
    for (double& value : result)
        value -= best;
    return result;
}

SoundTools::Status SoundAlgoFFTStats::onInitInputBuffer()
{
    powerSums.resize(getFFTSampleSize(), 0.0);
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgoFFTStats::process()
{
    const unsigned int count = beginSpectralBlock();
    const size_t bins = getFFTSampleSize();
    const double scale = 1.0 / fftSize;
    // Per spectral frame: one copy and 2·(N/2 + 1) squared magnitudes.
    for (unsigned int i = 0; i < count; ++i) {
        const double* in = mInBuffers[0]->getRelFrame(static_cast<int>(i));
        std::memcpy(mOutBuffers[0]->getRelFrame(static_cast<int>(i)), in, sizeof(double) * 4 * bins);
        for (int c = 0; c < 2; ++c, in += 2 * bins) {
            for (size_t k = 0; k < bins; ++k) {
                const double re = in[2 * k] * scale, im = in[2 * k + 1] * scale;
                powerSums[k] += re * re + im * im;
            }
            statCount += 1.0;
        }
    }
    return SoundTools::Ok;
}

void SoundAlgoFFTStats::endProcess(int status, unsigned int frameNBProcessed)
{
    if (statCount > 0.0)
        for (double& sum : powerSums)
            sum /= statCount;
    SoundAlgoFFT::endProcess(status, frameNBProcessed);
}

void SoundAlgoFFTStats::writeToJSon(QJsonObject& object) const
{
    object.insert(QStringLiteral("Class"), QStringLiteral("SoundAlgoFFTStats"));
    SoundAlgoFFT::writeToJSon(object);
    object.insert(QStringLiteral("StatCount"), statCount);
    QJsonArray values;
    for (double value : powerSums)
        values.append(value);
    object.insert(QStringLiteral("StatsArray"), values);
}

bool SoundAlgoFFTStats::readFromJSon(QJsonObject& object)
{
    SoundAlgoFFT::readFromJSon(object);
    const QJsonValue count = object.value(QStringLiteral("StatCount"));
    if (count.isDouble())
        statCount = count.toDouble();
    const QJsonValue values = object.value(QStringLiteral("StatsArray"));
    if (values.isArray())
        for (const QJsonValue& value : values.toArray())
            powerSums.push_back(value.toDouble());
    return !powerSums.empty();
}

SoundAlgoFFTStats* SoundAlgoFFTStats::createFromJSon(QJsonObject object)
{
    const QJsonValue cls = object.value(QStringLiteral("Class"));
    if (!cls.isString() || cls.toString() != QLatin1String("SoundAlgoFFTStats"))
        return nullptr;
    auto* stats = new SoundAlgoFFTStats();
    if (!stats->readFromJSon(object)) {
        stats->release();
        return nullptr;
    }
    return stats;
}
