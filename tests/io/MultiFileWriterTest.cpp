// The multi-file writer: segment names, which frames go to which file, the
// minimum duration, leading digital silence, tags and failures. Whole record
// sides are split through the tool (tests/tool).
#include "tests/support/Common.h"
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tests/support/SplitSignals.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriterMultiFile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using splitsignals::DetectorPtr;

namespace {

constexpr unsigned int kRate = 8000;

// A detector holding regions of these seconds of sound, or of noise.
DetectorPtr detectorOf(const std::vector<testsupport::RegionLayout>& layouts)
{
    return splitsignals::detectorFromRegions(testsupport::regionsOf(layouts, kRate), kRate);
}

// The second pass of a split: the stream, unchanged, into the writer.
SoundTools::Status secondPass(SoundReader& reader, SoundWriterMultiFile& writer)
{
    testsupport::AlgoRef<SoundAlgoBypass> bypass(new SoundAlgoBypass);
    const SoundTools::Status status = bypass->processAll(reader, &writer);
    writer.close();
    return status;
}

// A distinct non-zero value for every frame, within full scale.
double marker(int index, int channel)
{
    return (channel ? -1.0 : 1.0) * (0.001 + (index % 9973) * 1e-4);
}

} // namespace

TEST(MultiFileNames, NumbersFollowTheLeadingDigitsOfTheName)
{
    DetectorPtr detector(new RMSStepDetector);
    SoundWriterMultiFile writer(detector.get(), 5.0, kRate, 2, 128, SoundTools::Int16);
    const struct {
        const char* opened;
        int n;
        const char* segment;
    } cases[] = {
        { "C:/rec/side.wav", 1, "C:/rec/001-side.wav" },   { "C:/rec/side.wav", 2, "C:/rec/002-side.wav" },
        { "/out/01 Track.flac", 1, "/out/01 Track.flac" }, { "/out/01 Track.flac", 2, "/out/02 Track.flac" },
        { "/out/05_mix.mp3", 1, "/out/01_mix.mp3" },       { "/out/05_mix.mp3", 12, "/out/12_mix.mp3" },
        { "D:\\rips\\live", 3, "D:/rips/003-live" },       { "side.ogg", 1, "001-side.ogg" },
        { "/side.ogg", 1, "/001-side.ogg" },
    };
    for (const auto& c : cases) {
        ASSERT_EQ(writer.open(c.opened), SoundTools::Ok) << c.opened;
        EXPECT_EQ(writer.getSegmentName(c.n), c.segment) << c.opened << " " << c.n;
    }
    EXPECT_EQ(writer.open("/out/.wav"), SoundTools::Error);
}

TEST(MultiFileRuns, TheRegionsAreTakenAsTheyAreWhenTheWriterIsOpened)
{
    // A writer made before the analysis pass, opened after it.
    QTemporaryDir dir;
    DetectorPtr detector(new RMSStepDetector(-40.0, 0.2, 1.0, RMSStepDetector::NoOutput, false));
    SoundWriterMultiFile writer(detector.get(), 1.0, kRate, 2, 128, SoundTools::Float32);
    auto source = [](int i, int c) { return i < 4 * int(kRate) ? marker(i, c) : 1e-6 * marker(i, c); };
    testsupport::GeneratorReader first(8 * kRate, kRate, source);
    ASSERT_EQ(detector->processAll(first, nullptr), SoundTools::Ok);
    ASSERT_EQ(writer.open(dir.filePath("side.wav")), SoundTools::Ok);
    testsupport::GeneratorReader second(8 * kRate, kRate, source);
    ASSERT_EQ(secondPass(second, writer), SoundTools::Ok);
    iotest::Samples samples;
    ASSERT_TRUE(iotest::readFile(dir.filePath("001-side.wav"), samples));
    EXPECT_NEAR(double(samples.size() / 2), 4.0 * kRate, 0.2 * kRate);
}

TEST(MultiFileRuns, LeadingDigitalSilenceIsLeftOutButCounted)
{
    QTemporaryDir dir;
    // One sound region over the whole stream, whose first 1000 frames are
    // exact zeros; then a frame with a silent right channel.
    DetectorPtr detector = detectorOf({ { 3, -20 } });
    testsupport::GeneratorReader reader(3 * kRate, kRate, [](int i, int c) {
        if (i < 1000)
            return 0.0;
        if (i == 1000)
            return c == 0 ? -0.5 : 0.0;
        return marker(i, c);
    });
    testsupport::DebugCapture log(true);
    {
        // Destroyed without a close, which the destructor makes.
        SoundWriterMultiFile writer(detector.get(), 1.0, kRate, 2, 128, SoundTools::Float32);
        ASSERT_EQ(writer.open(dir.filePath("take.wav")), SoundTools::Ok);
        testsupport::AlgoRef<SoundAlgoBypass> bypass(new SoundAlgoBypass);
        ASSERT_EQ(bypass->processAll(reader, &writer), SoundTools::Ok);
    }
    EXPECT_EQ(detector->getRefCount(), 1) << "the writer held the detector while it lived";
    iotest::Samples samples;
    ASSERT_TRUE(iotest::readFile(dir.filePath("001-take.wav"), samples));
    ASSERT_EQ(samples.size(), size_t(2 * (3 * kRate - 1000)));
    EXPECT_EQ(samples[0], -0.5);
    EXPECT_EQ(samples[1], 0.0);
    EXPECT_FLOAT_EQ(samples[2], marker(1001, 0));
    // The length reported counts the dropped head.
    EXPECT_NE(log.text().find("File 1 : 00:00:03.000 written"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("00:00:03.000 in 1 file(s) written"), std::string::npos) << log.text();
}

TEST(MultiFileRuns, AShortRunMakesNoFileAndEveryFileIsNumberedInItsTitleAndTrack)
{
    // Runs of sound of 1.5 (exactly the minimum), 2, 1 and 2 s with a
    // minimum of 1.5 s: three files. The last run is two regions.
    QTemporaryDir dir;
    DetectorPtr detector = detectorOf({ { 1.5, -20 }, { 1.5, -70, true }, { 2, -20 }, { 1, -70, true }, { 1, -20 },
                                        { 0.5, -70, true }, { 1, -20 }, { 1, -20 } });
    testsupport::GeneratorReader reader(int(9.5 * kRate), kRate, marker);
    SoundWriterMultiFile writer(detector.get(), 1.5, kRate, 2, 128, SoundTools::Int24);
    SoundIDTag tags;
    tags.title = "Live";
    tags.artist = "The Band";
    tags.year = "1977";
    writer.setTags(tags);
    ASSERT_EQ(writer.open(dir.filePath("concert.flac")), SoundTools::Ok);
    ASSERT_EQ(secondPass(reader, writer), SoundTools::Ok);
    EXPECT_EQ(writer.GetWrittenFiles(), 3);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList { "001-concert.flac", "002-concert.flac", "003-concert.flac" }));
    std::unique_ptr<SoundReader> third(SoundReader::getFromFilename(dir.filePath("003-concert.flac")));
    ASSERT_EQ(third->open(dir.filePath("003-concert.flac")), SoundTools::Ok);
    SoundIDTag read;
    ASSERT_TRUE(third->getTags(read));
    EXPECT_EQ((std::vector<std::string> { read.title, read.track, read.artist, read.year }),
              (std::vector<std::string> { "Live 03", "3", "The Band", "1977" }));
    EXPECT_EQ(third->getInputFormat(), SoundTools::Int24);
    EXPECT_EQ(third->getSampleRate(), kRate);
    ASSERT_EQ(third->getFrameNB(), 2 * kRate);
    // The file holds the frames of its run, 7.5 s to 9.5 s.
    const iotest::Samples samples = iotest::readAll(*third);
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_NEAR(samples[i], marker(int(i / 2 + 7.5 * kRate), int(i % 2)), 2.0 / 8388608) << i;
}

TEST(MultiFileFailures, AFileThatCannotBeMadeOrTooManyChannels)
{
    QTemporaryDir dir;
    DetectorPtr detector = detectorOf({ { 2, -20 } });
    testsupport::GeneratorReader reader(2 * kRate, kRate, marker);
    SoundWriterMultiFile writer(detector.get(), 1.0, kRate, 2, 128, SoundTools::Int16);
    ASSERT_EQ(writer.open(dir.filePath("missing/side.wav")), SoundTools::Ok);
    EXPECT_EQ(secondPass(reader, writer), SoundTools::Error) << "a file that cannot be created";
    EXPECT_EQ(writer.GetWrittenFiles(), 0);
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    // Tracks are mono or stereo files.
    SoundWriterMultiFile wide(detector.get(), 1.0, kRate, 3, 128, SoundTools::Int16);
    EXPECT_EQ(wide.open(dir.filePath("side.wav")), SoundTools::Error);
}
