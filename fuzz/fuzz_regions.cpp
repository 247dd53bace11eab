// Any bytes as a stored region list: parsed, built into a detector when the
// document passes, and the detector's queries run over what was taken.
#include "FuzzSupport.h"

#include <tulv/tulv.h>

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::quietLogs();
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));
    if (!document.isObject())
        return 0;
    RMSStepDetector* detector = RMSStepDetector::createFromJSon(document.object());
    if (!detector)
        return 0;
    detector->getSegmentsNumber();
    detector->getSignalStart(1.0);
    detector->getSignalEnd(1.0);
    detector->getFullLength();
    for (int i = 0; i < detector->size(true); ++i)
        detector->getRegion(i, true);
    QJsonObject again;
    detector->writeToJSon(again);
    detector->release();
    return 0;
}
