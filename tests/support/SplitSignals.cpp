#include "tests/support/SplitSignals.h"

#include <tulv/tulv.h>

#include <QJsonArray>
#include <QJsonObject>

#include <memory>

namespace splitsignals {

SideTruth truthOf(const SideLayout& layout)
{
    const DemoRecordReader reader(layout);
    SideTruth truth;
    truth.frames = int(reader.getFrameNB());
    for (const std::pair<int, int>& span : reader.spans())
        truth.tracks.push_back({ span.first, span.second });
    return truth;
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
    testsupport::AlgoRef<SoundAlgo> copy(new SoundAlgoScale(0.0));
    const bool done = copy->processAll(reader, writer.get()) == SoundTools::Ok;
    writer->close();
    return done && !writer->hasFailed();
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

} // namespace splitsignals
