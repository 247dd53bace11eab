#include "tests/support/DynRegions.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace dyntest {

namespace {
int framesOf(double seconds, unsigned int sampleRate)
{
    return static_cast<int>(std::floor(seconds * sampleRate + 0.5));
}
} // namespace

std::vector<RMSStepDetector::Region> regionsOf(const std::vector<RegionSpec>& layouts, unsigned int sampleRate)
{
    std::vector<RMSStepDetector::Region> regions;
    int begin = 0;
    for (const RegionSpec& layout : layouts) {
        RMSStepDetector::Region region;
        region.begin = begin;
        region.length = framesOf(layout.seconds, sampleRate);
        region.level0 = region.level1 = std::pow(10.0, layout.rmsDb / 10.0);
        region.weight = 100;
        region.noise = layout.noise;
        regions.push_back(region);
        begin += region.length;
    }
    RMSStepDetector::Region marker;
    marker.begin = begin;
    marker.length = 1;
    marker.weight = 1;
    regions.push_back(marker);
    return regions;
}

RMSStepDetector* detectorWith(const std::vector<RMSStepDetector::Region>& regions, unsigned int sampleRate)
{
    QJsonArray list;
    for (const RMSStepDetector::Region& region : regions) {
        QJsonObject object;
        object.insert(QStringLiteral("BeginSample"), region.begin);
        object.insert(QStringLiteral("SampleNb"), region.length);
        object.insert(QStringLiteral("RMSSqrValue0"), region.level0);
        object.insert(QStringLiteral("RMSSqrValue1"), region.level1);
        object.insert(QStringLiteral("MeanSmpl"), region.weight);
        object.insert(QStringLiteral("IsNoise"), region.noise);
        list.append(object);
    }
    QJsonObject detector;
    detector.insert(QStringLiteral("Class"), QStringLiteral("RMSStepDetector"));
    detector.insert(QStringLiteral("NoiseThreshold"), -40.0);
    detector.insert(QStringLiteral("RMSTime"), 0.2);
    detector.insert(QStringLiteral("MinSlopeTime"), 1.0);
    detector.insert(QStringLiteral("OutputMode"), 3);
    detector.insert(QStringLiteral("RealTimeMode"), false);
    detector.insert(QStringLiteral("SampleRate"), double(sampleRate));
    detector.insert(QStringLiteral("Regions"), list);
    return RMSStepDetector::createFromJSon(detector);
}

std::vector<double> recordingOf(const std::vector<RegionSpec>& layouts, unsigned int sampleRate)
{
    std::vector<double> out;
    long long index = 0;
    for (const RegionSpec& layout : layouts) {
        const int frames = framesOf(layout.seconds, sampleRate);
        const double amplitude = std::pow(10.0, layout.rmsDb / 20.0) * std::sqrt(2.0);
        for (int i = 0; i < frames; ++i, ++index) {
            const double v = amplitude * std::sin(2.0 * M_PI * 1000.0 * double(index) / sampleRate + 0.1);
            out.push_back(v);
            out.push_back(v);
        }
    }
    return out;
}

} // namespace dyntest
