#include "tests/support/SplitSignals.h"

#include <tulv/tulv.h>

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace splitsignals {

SideSynth::SideSynth(const SideLayout& layout)
{
    const DemoRecordReader reader(layout);
    mTruth.frames = int(reader.getFrameNB());
    for (const std::pair<int, int>& span : reader.spans())
        mTruth.tracks.push_back({ span.first, span.second });
}

SideLayout typicalSide()
{
    return DemoRecordReader::demoSide();
}

bool writeSideWav(const SideLayout& layout, const std::string& path)
{
    DemoRecordReader reader(layout);
    const QString name = QString::fromStdString(path);
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(name, layout.sampleRate, 0, SoundTools::Int16));
    if (!writer || writer->open(name) != SoundTools::Ok)
        return false;
    std::unique_ptr<SoundAlgo, ReleaseAlgo> copy(new SoundAlgoScale(0.0));
    const bool done = copy->processAll(reader, writer.get()) == SoundTools::Ok;
    writer->close();
    return done && !writer->hasFailed();
}

void ReleaseAlgo::operator()(SoundAlgo* algo) const
{
    if (algo)
        algo->release();
}

DetectorPtr detectorFromRegions(const std::vector<RMSStepDetector::Region>& regions, unsigned int sampleRate,
                                bool realTimeMode, double noiseThresholdDb)
{
    QJsonObject object;
    object.insert("Class", "RMSStepDetector");
    object.insert("NoiseThreshold", noiseThresholdDb);
    object.insert("RMSTime", 0.2);
    object.insert("MinSlopeTime", 1.0);
    object.insert("OutputMode", int(RMSStepDetector::NoOutput));
    object.insert("RealTimeMode", realTimeMode);
    object.insert("SampleRate", double(sampleRate));
    QJsonArray list;
    for (const RMSStepDetector::Region& region : regions) {
        QJsonObject item;
        item.insert("BeginSample", region.begin);
        item.insert("SampleNb", region.length);
        item.insert("RMSSqrValue0", region.level0);
        item.insert("RMSSqrValue1", region.level1);
        item.insert("MeanSmpl", region.weight);
        item.insert("IsNoise", region.noise);
        list.append(item);
    }
    object.insert("Regions", list);
    return DetectorPtr(RMSStepDetector::createFromJSon(object));
}

DetectorPtr analyseSide(SoundReader& reader)
{
    DetectorPtr detector(new RMSStepDetector(-40.0, 0.2, 1.0, RMSStepDetector::NoOutput, false));
    if (detector->processAll(reader, nullptr) != SoundTools::Ok)
        return nullptr;
    SoundTrackFinder().find(*detector);
    return detector;
}

std::vector<Span> soundRuns(const RMSStepDetector& detector, double minSeconds)
{
    std::vector<Span> runs;
    const std::vector<RMSStepDetector::Region> regions = detector.getRegions();
    const double rate = detector.getSampleRate();
    size_t i = 0;
    while (i < regions.size()) {
        if (regions[i].noise) {
            ++i;
            continue;
        }
        Span run { regions[i].begin, regions[i].begin };
        while (i < regions.size() && !regions[i].noise) {
            run.end = regions[i].begin + regions[i].length;
            ++i;
        }
        if ((run.end - run.begin) / rate >= minSeconds)
            runs.push_back(run);
    }
    return runs;
}

} // namespace splitsignals
