// The detector's JSON form: round trips through the builder registry and
// through JSON text, the empty detector, refused objects, and reading the
// regions while a run goes on.
#include "tests/support/MemoryIO.h"
#include "tests/support/SplitSignals.h"
#include "tulv/dynamics/RMSStepDetector.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <thread>

using splitsignals::DetectorPtr;
using Region = RMSStepDetector::Region;

namespace {

// A whole pass over a synthesized side gives a realistic list: tens of
// regions, noise and signal, weights of every size.
DetectorPtr analysedSide()
{
    splitsignals::SideSpec layout = splitsignals::typicalSide();
    layout.sampleRate = 16000;
    splitsignals::SideReader reader(layout);
    return splitsignals::analyseSide(reader);
}

// Through JSON text, as a file on disk would carry it.
QJsonObject throughText(const QJsonObject& object)
{
    return QJsonDocument::fromJson(QJsonDocument(object).toJson()).object();
}

void expectSameRegions(const std::vector<Region>& a, const std::vector<Region>& b)
{
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].begin, b[i].begin) << i;
        EXPECT_EQ(a[i].length, b[i].length) << i;
        EXPECT_EQ(a[i].level0, b[i].level0) << i;
        EXPECT_EQ(a[i].level1, b[i].level1) << i;
        EXPECT_EQ(a[i].weight, b[i].weight) << i;
        EXPECT_EQ(a[i].noise, b[i].noise) << i;
    }
}

} // namespace

TEST(DetectorJson, AnAnalysedDetectorRoundTripsThroughTheRegistry)
{
    DetectorPtr original = analysedSide();
    ASSERT_TRUE(original);
    QJsonObject object;
    original->writeToJSon(object);
    EXPECT_FALSE(object.contains("Id"));
    ASSERT_TRUE(object.value("Regions").isArray());

    SoundAlgo* built = SoundAlgo::createFromJSon(throughText(object));
    ASSERT_NE(built, nullptr);
    DetectorPtr restored(dynamic_cast<RMSStepDetector*>(built));
    ASSERT_TRUE(restored);
    expectSameRegions(original->getRegions(), restored->getRegions());
    EXPECT_EQ(restored->getSampleRate(), 16000u);
    EXPECT_EQ(restored->getSegmentsNumber(), original->getSegmentsNumber());
    EXPECT_EQ(restored->size(true), original->size(false));
    QJsonObject again;
    restored->writeToJSon(again);
    EXPECT_EQ(again, object);
}

TEST(DetectorJson, AnEmptyDetectorRoundTrips)
{
    DetectorPtr empty(new RMSStepDetector(-35.0, 0.1, 2.0, RMSStepDetector::PassThrough, true));
    QJsonObject object;
    empty->writeToJSon(object);
    EXPECT_FALSE(object.contains("Regions"));
    EXPECT_NEAR(object.value("NoiseThreshold").toDouble(), -35.0, 1e-12);
    object.insert("SampleRate", 22050);
    DetectorPtr restored(RMSStepDetector::createFromJSon(throughText(object)));
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->size(false), 0);
    EXPECT_EQ(restored->getSampleRate(), 22050u);
    EXPECT_EQ(restored->getOutputMode(), RMSStepDetector::PassThrough);
    EXPECT_TRUE(restored->isRealTimeMode());
    EXPECT_EQ(restored->getRMSTime(), 0.1);
}

TEST(DetectorJson, MissingOrMistypedKeysAreRefused)
{
    DetectorPtr empty(new RMSStepDetector);
    QJsonObject good;
    empty->writeToJSon(good);
    ASSERT_TRUE(DetectorPtr(RMSStepDetector::createFromJSon(good)));
    for (const char* key : { "Class", "NoiseThreshold", "RMSTime", "MinSlopeTime", "OutputMode", "RealTimeMode" }) {
        QJsonObject missing = good;
        missing.remove(key);
        EXPECT_FALSE(DetectorPtr(RMSStepDetector::createFromJSon(missing))) << key;
        QJsonObject mistyped = good;
        mistyped.insert(key, QJsonArray());
        EXPECT_FALSE(DetectorPtr(RMSStepDetector::createFromJSon(mistyped))) << key;
    }
    // An output mode that does not exist would leave the output undefined.
    QJsonObject badMode = good;
    badMode.insert("OutputMode", 7);
    EXPECT_FALSE(DetectorPtr(RMSStepDetector::createFromJSon(badMode)));
}

TEST(DetectorJson, ABadRegionEndsTheList)
{
    QJsonObject object;
    DetectorPtr(new RMSStepDetector)->writeToJSon(object);
    QJsonObject good { { "BeginSample", 0 }, { "SampleNb", 10 }, { "RMSSqrValue0", 1e-6 },
                       { "RMSSqrValue1", 2e-6 }, { "MeanSmpl", 4 }, { "IsNoise", true } };
    QJsonObject broken = good;
    broken.insert("MeanSmpl", "many");
    object.insert("Regions", QJsonArray { good, good, broken, good });
    DetectorPtr restored(RMSStepDetector::createFromJSon(object));
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->getRegions().size(), 2u);
}

TEST(DetectorLocking, ThreadedReadersSeeWholeRegionsWhileTheDetectorRuns)
{
    // Real-time mode completes regions after every block, so the list grows
    // all through the run while another thread reads it.
    DetectorPtr detector(new RMSStepDetector(-40.0, 0.05, 1.0, RMSStepDetector::NoOutput, true));
    splitsignals::SideSpec layout = splitsignals::typicalSide();
    layout.sampleRate = 8000;
    splitsignals::SideReader reader(layout);
    std::atomic<bool> done { false };
    auto run = std::async(std::launch::async, [&] {
        const SoundTools::Status status = detector->processAll(reader, nullptr);
        done = true;
        return status;
    });
    int reads = 0;
    bool ordered = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done && std::chrono::steady_clock::now() < deadline) {
        const int n = detector->size(false);
        int previous = -1;
        for (int i = 0; i < n; ++i) {
            const Region region = detector->getRegion(i, false);
            ordered = ordered && region.begin >= previous && region.length >= 0;
            previous = region.begin;
        }
        ++reads;
        std::this_thread::yield();
    }
    ASSERT_EQ(run.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the run did not end";
    EXPECT_EQ(run.get(), SoundTools::Ok);
    EXPECT_TRUE(ordered);
    EXPECT_GT(reads, 0);
    EXPECT_GT(detector->size(false), 1);
}
