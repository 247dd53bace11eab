#include "SplitJob.h"

#include "ConvertChecks.h"

#include "Formats.h"
#include "Loudness.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace {

double powerDb(double meanSquare)
{
    return meanSquare <= 1e-20 ? -100.0 : 10.0 * std::log10(meanSquare);
}

// Compression ratio of --even-loudness: 1 levels each run of sound to its
// loudest region (larger ratios would even out the regions inside a track).
const double kEvenLoudnessRatio = 1.0;
// The limiter's fixed ceiling, in dB: it aims at 0.98 of full scale and
// repairs only what passes 0.981, so 0.981 is the highest peak it lets out.
const double kLimiterCeilingDb = 20.0 * std::log10(0.981);
// Look-ahead long enough to see a transient coming; a release slow enough
// not to pump on the beat, fast enough not to hold a loud passage down.
const double kLimiterLookAhead = 0.005; // seconds
const double kLimiterRelease = 0.1;     // seconds

} // namespace

AlgoRef<RMSStepDetector> detectRegions(SoundReader& reader, const SplitSettings& settings, bool quiet, PassResult& result)
{
    // The threshold given here is replaced by the estimate below; the output
    // is not needed, only the regions.
    AlgoRef<RMSStepDetector> detector(new RMSStepDetector(-40.0, settings.rmsTime, 1.0, RMSStepDetector::NoOutput, false));
    reader.rewind();
    result = runPass(QStringLiteral("detecting"), *detector, reader, nullptr, reader.getFrameNB(), quiet);
    if (result != PassResult::Done)
        return nullptr;
    return detector;
}

SoundTrackFinder::Settings finderSettings(const SplitSettings& settings)
{
    SoundTrackFinder::Settings finder;
    finder.minTrackSeconds = settings.minTrack;
    finder.quietSeconds = settings.quietTime;
    finder.globalSnrDb = settings.globalSnr;
    finder.runSnrDb = settings.snr;
    finder.minRunSeconds = settings.minRun;
    finder.thresholdDb = settings.thresholdDb;
    finder.tracks = settings.tracks;
    return finder;
}

std::vector<TrackRow> rowsOf(const std::vector<SoundTrackFinder::Track>& tracks)
{
    std::vector<TrackRow> rows;
    for (const SoundTrackFinder::Track& track : tracks) {
        TrackRow row;
        row.number = int(rows.size()) + 1;
        row.begin = track.begin;
        row.end = track.end;
        row.levelDb = track.levelDb;
        rows.push_back(row);
    }
    return rows;
}

SoundAlgo* buildLimiter(double makeUpDb)
{
    return new SoundAlgoLimiter(makeUpDb, kLimiterLookAhead, kLimiterRelease, nullptr);
}

SoundAlgo* buildOutputStage(double gainDb, bool limit, double limitDb)
{
    if (!limit)
        return new SoundAlgoScale(gainDb);
    // The limiter's ceiling is fixed; the gain before it and a small scale
    // after it put the ceiling where the user asked.
    auto* chain = new SoundAlgoComposite();
    chain->pushAlgo(buildLimiter(gainDb - (limitDb - kLimiterCeilingDb)));
    chain->pushAlgo(new SoundAlgoScale(limitDb - kLimiterCeilingDb));
    return chain;
}

PassResult writeTracks(SoundReader& reader, RMSStepDetector* detector, std::vector<TrackRow>& rows,
                       const SplitSettings& settings, const QString& directory, const QString& outName,
                       const TrackOutput& output, const SoundIDTag& tags, bool quiet)
{
    SoundWriterMultiFile writer(detector, settings.minTrack, reader.getSampleRate(), output.channels, output.bitrate,
                                output.format);
    writer.setTags(tags);
    writer.setExpectedFrames(reader.getFrameNB());
    writer.setDither(output.dither);
    std::vector<std::pair<long long, long long>> spans;
    for (const TrackRow& row : rows)
        spans.emplace_back(row.begin, row.end);
    writer.setTracks(spans, settings.gapOffset, settings.trimGaps);
    // Nothing past the end of the recording: the zeros that flush a
    // look-ahead limiter are not part of the last track.
    writer.setRange(0, int(reader.getFrameNB()));
    if (writer.open(QDir(directory).filePath(outName)) != SoundTools::Ok)
        return PassResult::Failed;
    const bool even = settings.evenLoudness && detector;
    AlgoRef<SoundAlgo> stage(settings.evenLoudness && settings.targetLufs ? buildTrackGainStage(rows)
                             : even ? buildEvenLoudnessStage(detector, settings.target)
                                    : buildOutputStage(0.0, false, 0.0));
    reader.rewind();
    const long long missingAtOpen = reader.getMissingFrames();
    const PassResult result = runPass(QStringLiteral("writing"), *stage, reader, &writer, reader.getFrameNB(), quiet);
    writer.close();
    if (result == PassResult::Done)
        reportConversion(output.in, outName, reader, missingAtOpen, writer, false);
    return result;
}

void levelTracks(RMSStepDetector& detector, std::vector<TrackRow>& rows, double targetDb)
{
    // Every region of a track takes the level of the track's loudest one,
    // so the gain that follows the regions is one gain per track: tracks
    // come out even, while each keeps its quiet passages and its fade.
    detector.compressDynamic(kEvenLoudnessRatio);
    // The gain of a track is the one its loudest region asks for.
    const std::vector<RMSStepDetector::Region> regions = detector.getRegions();
    for (TrackRow& row : rows) {
        double loudest = 0.0;
        for (const RMSStepDetector::Region& region : regions)
            if (!region.noise && region.begin >= row.begin && region.begin < row.end)
                loudest = std::max({ loudest, region.level0, region.level1 });
        row.gainDb = evenLoudnessGainDb(powerDb(loudest), targetDb);
        row.levelDb += row.gainDb;
    }
}

QString trackFileName(const QString& out, int number)
{
    // The writer's own naming, asked of a writer that never writes.
    AlgoRef<RMSStepDetector> detector(new RMSStepDetector(-40.0, 0.05, 1.0, RMSStepDetector::NoOutput, false));
    SoundWriterMultiFile namer(detector.get(), 0.0, 44100, 2, 0, SoundTools::Int16);
    namer.open(out);
    return namer.getSegmentName(number);
}

QString trackTable(const std::vector<TrackRow>& rows, unsigned int sampleRate)
{
    const double rate = sampleRate ? sampleRate : 44100.0;
    const bool files = !rows.empty() && !rows.front().file.isEmpty();
    QString text = QStringLiteral("Track  Start          End           Duration      Level");
    if (files)
        text += QStringLiteral("     File");
    text += QLatin1Char('\n');
    for (const TrackRow& row : rows) {
        text += QStringLiteral("%1  %2  %3  %4  %5 dB")
                    .arg(row.number, 5)
                    .arg(timeText(row.begin / rate), -12)
                    .arg(timeText(row.end / rate), -12)
                    .arg(timeText((row.end - row.begin) / rate), -12)
                    .arg(row.levelDb, 6, 'f', 1);
        if (files)
            text += QStringLiteral("  %1").arg(row.file);
        text += QLatin1Char('\n');
    }
    return text;
}
