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
    DetectorPtr(new RMSStepDetector(noiseThresholdDb, 0.2, 1.0, RMSStepDetector::NoOutput, realTimeMode))
        ->writeToJSon(object);
    object.insert("SampleRate", double(sampleRate));
    QJsonArray list;
    for (const RMSStepDetector::Region& r : regions)
        list.append(QJsonObject { { "BeginSample", r.begin }, { "SampleNb", r.length }, { "RMSSqrValue0", r.level0 },
                                  { "RMSSqrValue1", r.level1 }, { "MeanSmpl", r.weight }, { "IsNoise", r.noise } });
    object.insert("Regions", list);
    return DetectorPtr(RMSStepDetector::createFromJSon(object));
}

} // namespace splitsignals
