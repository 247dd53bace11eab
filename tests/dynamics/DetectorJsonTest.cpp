// The detector's JSON form: round trips through the builder registry and
// through JSON text, the empty detector, refused objects, and reading the
// regions while a run goes on.
#include "tests/support/Common.h"
#include "tests/support/SplitSignals.h"
#include "tulv/dynamics/RMSStepDetector.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using splitsignals::DetectorPtr;
using Region = RMSStepDetector::Region;

namespace {

// Through JSON text, as a file on disk would carry it.
QJsonObject throughText(const QJsonObject& object)
{
    return QJsonDocument::fromJson(QJsonDocument(object).toJson()).object();
}

} // namespace

TEST(DetectorJson, AnalysedAndEmptyDetectorsRoundTripThroughTheRegistry)
{
    // A whole pass over a synthesized side gives a realistic list: tens of
    // regions, noise and signal, weights of every size.
    splitsignals::SideLayout layout = splitsignals::typicalSide();
    layout.sampleRate = 16000;
    splitsignals::SideReader reader(layout);
    DetectorPtr analysed(new RMSStepDetector(-40.0, 0.2, 1.0, RMSStepDetector::NoOutput, false));
    ASSERT_EQ(analysed->processAll(reader, nullptr), SoundTools::Ok);
    SoundTrackFinder().find(*analysed);
    // Settings away from the defaults, and a rate without regions.
    DetectorPtr empty(new RMSStepDetector(-35.0, 0.1, 2.0, RMSStepDetector::PassThrough, true));
    for (RMSStepDetector* original : { analysed.get(), empty.get() }) {
        QJsonObject object;
        original->writeToJSon(object);
        EXPECT_EQ(object.value("Regions").isArray(), original == analysed.get());
        if (original == empty.get())
            object.insert("SampleRate", 22050);
        DetectorPtr restored(dynamic_cast<RMSStepDetector*>(SoundAlgo::createFromJSon(throughText(object))));
        ASSERT_TRUE(restored);
        EXPECT_EQ(restored->size(true), original->size(false));
        QJsonObject again;
        restored->writeToJSon(again);
        EXPECT_EQ(again, object);
    }
}

TEST(DetectorJson, ADamagedDocumentIsRefusedWholeNamingTheFirstFault)
{
    // Three regions tiling 0..151 at 44100 Hz, then one change per case.
    const auto region = [](int begin, int length) {
        return QJsonObject { { "BeginSample", begin }, { "SampleNb", length }, { "RMSSqrValue0", 1e-6 },
                             { "RMSSqrValue1", 2e-6 }, { "MeanSmpl", length }, { "IsNoise", false } };
    };
    QJsonObject good;
    DetectorPtr(new RMSStepDetector)->writeToJSon(good);
    good.insert("SampleRate", 44100);
    good.insert("Regions", QJsonArray { region(0, 100), region(100, 50), region(150, 1) });
    // Name, region (-1: a key of the detector itself), key, value, error.
    using Case = std::tuple<const char*, int, const char*, QJsonValue, const char*>;
    const Case cases[] = {
        { "missing field", 1, "MeanSmpl", QJsonValue::Undefined, "region 2 of 3: MeanSmpl is missing" },
        { "mistyped field", 1, "MeanSmpl", "many", "region 2 of 3: MeanSmpl must be a whole number" },
        { "fraction", 2, "SampleNb", 0.5, "region 3 of 3: SampleNb must be a whole number" },
        { "2^32", 0, "SampleNb", 4294967296.0, "region 1 of 3: SampleNb" },
        { "1e300", 1, "RMSSqrValue1", 1e300, "region 2 of 3: RMSSqrValue1" },
        { "negative", 0, "RMSSqrValue0", -1e-6, "region 1 of 3: RMSSqrValue0" },
        { "not a flag", 2, "IsNoise", 1, "region 3 of 3: IsNoise must be true or false" },
        { "out of order", 2, "BeginSample", 50, "region 3 of 3: BeginSample 50 comes before region 2" },
        { "overlap", 2, "BeginSample", 120, "region 3 of 3: BeginSample 120 overlaps region 2, which ends at 150" },
        { "gap", 2, "BeginSample", 160, "region 3 of 3: BeginSample 160 leaves a gap after region 2" },
        { "not an object", 1, nullptr, 7, "region 2 of 3: is 7, not an object" },
        { "rate 2^32+44100", -1, "SampleRate", 4294967296.0 + 44100, "SampleRate must be a whole number" },
        // An output mode that does not exist would leave the output undefined.
        { "mode 7", -1, "OutputMode", 7, "OutputMode" },
        { "class of another", -1, "Class", "SoundAlgoStats", "Class must be" },
        { "list of numbers", -1, "Regions", 3, "Regions must be a list" },
    };
    for (const auto& [name, index, key, value, fault] : cases) {
        SCOPED_TRACE(name);
        QJsonObject object = good;
        // Inserting an undefined value removes the key.
        if (index < 0) {
            object.insert(key, value);
        } else {
            QJsonArray regions = object.value("Regions").toArray();
            QJsonObject item = regions.at(index).toObject();
            item.insert(key ? key : "x", value);
            regions.replace(index, key ? QJsonValue(item) : value);
            object.insert("Regions", regions);
        }
        SoundDebuggableClass::setError("none", nullptr);
        DetectorPtr restored(RMSStepDetector::createFromJSon(throughText(object)));
        EXPECT_FALSE(restored) << "a damaged list was taken, " << (restored ? restored->size(false) : 0) << " regions";
        const QString message = SoundDebuggableClass::getError();
        EXPECT_TRUE(message.contains(fault)) << message.toStdString();
    }
}

TEST(DetectorLocking, ThreadedReadersSeeWholeRegionsWhileTheDetectorRuns)
{
    // Real-time mode completes regions after every block, so the list grows
    // all through the run while another thread reads it.
    DetectorPtr detector(new RMSStepDetector(-40.0, 0.05, 1.0, RMSStepDetector::NoOutput, true));
    splitsignals::SideLayout layout = splitsignals::typicalSide();
    layout.sampleRate = 8000;
    splitsignals::SideReader reader(layout);
    int reads = 0;
    bool ordered = true;
    testsupport::runWhilePoked(*detector, reader, [&] {
        int previous = -1;
        for (int i = 0, n = detector->size(false); i < n; ++i) {
            const Region region = detector->getRegion(i, false);
            ordered = ordered && region.begin >= previous && region.length >= 0;
            previous = region.begin;
        }
        ++reads;
    }, 0);
    EXPECT_TRUE(ordered);
    EXPECT_GT(reads, 0);
    EXPECT_GT(detector->size(false), 1);
}
