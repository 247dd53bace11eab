// tulv split on the synthesized record sides of the track-splitting tests:
// the tool finds every true track and writes exactly the files that the
// library's own two-pass split writes with the settings the tool documents.

#include "ToolRunner.h"

#include "tests/support/SplitSignals.h"

#include <tulv/tulv.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <string>

using namespace tooltest;

namespace {

struct Found {
    double start, end; // seconds
};

// The rows of the tool's track table.
std::vector<Found> parseTable(const QString& text)
{
    std::vector<Found> rows;
    const QRegularExpression row(QStringLiteral(
        "^\\s+\\d+\\s+(\\d\\d):(\\d\\d):(\\d\\d\\.\\d\\d\\d)\\s+(\\d\\d):(\\d\\d):(\\d\\d\\.\\d\\d\\d)"));
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const auto m = row.match(line);
        if (m.hasMatch())
            rows.push_back({ m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble(),
                             m.captured(4).toInt() * 3600 + m.captured(5).toInt() * 60 + m.captured(6).toDouble() });
    }
    return rows;
}

// The library's split as the track-splitting tests run it (their first pass
// and region analysis, then the multi-file writer), with their settings,
// which are the defaults of 'tulv split' except for the window: the tool
// measures over 0.05 s, so that gaps of one second are found.
bool librarySplit(const QString& in, const QString& out)
{
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(in));
    if (!reader || reader->open(in) != SoundTools::Ok)
        return false;
    splitsignals::SplitSettings settings;
    settings.rmsSeconds = 0.05;
    splitsignals::DetectorPtr detector = splitsignals::analyseSide(*reader, settings);
    if (!detector)
        return false;
    SoundWriterMultiFile writer(detector.get(), settings.minTrackSeconds, reader->getSampleRate(), 2, 192,
                                reader->getInputFormat());
    bool ok = writer.open(out) == SoundTools::Ok;
    reader->rewind();
    SoundAlgoScale* copy = new SoundAlgoScale(0.0);
    ok = ok && copy->processAll(*reader, &writer) == SoundTools::Ok;
    releaseAlgo(copy);
    writer.close();
    return ok;
}

void expectSameSplit(const splitsignals::SideSpec& layout, const char* what)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString side = dir.filePath(QStringLiteral("side.wav"));
    ASSERT_TRUE(splitsignals::writeSideWav(layout, side.toStdString()));
    QDir(dir.path()).mkdir(QStringLiteral("tool"));
    QDir(dir.path()).mkdir(QStringLiteral("library"));

    const ToolRun run = tulv({ QStringLiteral("split"), side, dir.filePath(QStringLiteral("tool/side.flac")), QStringLiteral("-q") });
    ASSERT_EQ(run.exitCode, 0) << what << ": " << run.err.toStdString();
    ASSERT_TRUE(librarySplit(side, dir.filePath(QStringLiteral("library/side.flac")))) << what;

    // One file per true track, each within half a second of the truth.
    const splitsignals::SideTruth truth = splitsignals::SideSynth(layout).truth();
    const std::vector<Found> found = parseTable(run.out);
    ASSERT_EQ(found.size(), truth.tracks.size()) << what << "\n" << run.out.toStdString();
    const double rate = layout.sampleRate;
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_NEAR(found[i].start, truth.tracks[i].begin / rate, 0.5) << what << ", track " << i + 1;
        EXPECT_NEAR(found[i].end, truth.tracks[i].end / rate, 0.5) << what << ", track " << i + 1;
    }

    const QStringList toolFiles = filesIn(dir.filePath(QStringLiteral("tool")));
    const QStringList libraryFiles = filesIn(dir.filePath(QStringLiteral("library")));
    ASSERT_EQ(toolFiles, libraryFiles) << what;
    ASSERT_EQ(toolFiles.size(), int(truth.tracks.size())) << what;
    for (const QString& name : toolFiles) {
        const Sound a = readSound(dir.filePath(QStringLiteral("tool/") + name));
        const Sound b = readSound(dir.filePath(QStringLiteral("library/") + name));
        ASSERT_TRUE(a.ok && b.ok) << name.toStdString();
        EXPECT_EQ(a.samples, b.samples) << what << ": " << name.toStdString();
    }
}

} // namespace

TEST(ToolSplitSide, TypicalSideGivesTheLibrarysFiles)
{
    expectSameSplit(splitsignals::typicalSide(), "typical side");
}

TEST(ToolSplitSide, GapsOfOneSecond)
{
    splitsignals::SideSpec layout = splitsignals::typicalSide();
    layout.gapSeconds = { 1.0, 1.5, 1.0 };
    layout.bursts.clear();
    expectSameSplit(layout, "short gaps");
}

TEST(ToolSplitSide, NoisierSideWithDigitalSilenceAndLongGaps)
{
    // A worn pressing after a digital lead-in: the hiss 13 dB higher, four
    // times the crackle, and gaps of 5 s.
    splitsignals::SideSpec layout = splitsignals::typicalSide();
    layout.surfaceNoiseDb = -45.0;
    layout.clicksPerSecond = 8.0;
    layout.clickPeakMinDb = -40.0;
    layout.clickPeakMaxDb = -30.0;
    layout.digitalSilenceSeconds = 1.0;
    layout.gapSeconds = { 5.0, 5.0, 5.0 };
    layout.bursts.clear();
    expectSameSplit(layout, "noisy side");
}

TEST(ToolSplitSide, DefaultsHandleNoiseFloorsFromMinus45ToMinus65Dbfs)
{
    // The range of surface noise the defaults are documented for: at every
    // level one file per track, the lead-out left out of the last one and
    // the tail of its fade-out kept (expectSameSplit checks both ends of
    // every track against the truth).
    for (const double noiseDb : { -45.0, -50.0, -58.0, -65.0 }) {
        splitsignals::SideSpec layout = splitsignals::typicalSide();
        layout.surfaceNoiseDb = noiseDb;
        expectSameSplit(layout, (std::to_string(int(noiseDb)) + " dBFS, fade-out").c_str());
    }
    // A last track that simply stops, on the noisiest surface.
    splitsignals::SideSpec layout = splitsignals::typicalSide();
    layout.surfaceNoiseDb = -45.0;
    layout.tracks.back().fadeOutSeconds = 0.0;
    expectSameSplit(layout, "-45 dBFS, normal ending");
}
