#include "SplitJob.h"

#include "Formats.h"

#include <QDir>

#include <cmath>

namespace {

double powerDb(double meanSquare)
{
    return meanSquare <= 1e-20 ? -100.0 : 10.0 * std::log10(meanSquare);
}

// Quiet time handed to the re-examination of each run: more than any run
// holds, so that the walk of the estimate reaches the run's loudest region.
const double kRunQuietSeconds = 600.0;
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
    // The global estimate: the level below which lie the quietest
    // `quietTime` seconds of every five minutes.
    detector->applyNoise(detector->estimateNoise(settings.quietTime, settings.globalSnr));
    // Then each long run on its own: a quiet budget larger than any run makes
    // the estimate of a run its loudest region minus `snr`, so a gap is judged
    // against the music around it, not against the loudest track of the side.
    detector->split(kRunQuietSeconds, settings.minRun, settings.snr);
    return detector;
}

std::vector<TrackRow> tracksOf(const RMSStepDetector& detector, double minTrackSeconds)
{
    // The same walk as the multi-file writer: a run of sound regions between
    // noise regions is one file unless it is shorter than the minimum.
    const std::vector<RMSStepDetector::Region> regions = detector.getRegions();
    const double rate = detector.getSampleRate() ? detector.getSampleRate() : 44100.0;
    std::vector<TrackRow> rows;
    size_t i = 0;
    while (i < regions.size()) {
        if (regions[i].noise) {
            ++i;
            continue;
        }
        TrackRow row;
        row.begin = regions[i].begin;
        double energy = 0.0;
        long long frames = 0;
        for (; i < regions.size() && !regions[i].noise; ++i) {
            energy += 0.5 * (regions[i].level0 + regions[i].level1) * regions[i].length;
            frames += regions[i].length;
        }
        row.end = row.begin + frames;
        row.levelDb = frames ? powerDb(energy / frames) : -100.0;
        if (frames / rate >= minTrackSeconds) {
            row.number = int(rows.size()) + 1;
            rows.push_back(row);
        }
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

PassResult writeTracks(SoundReader& reader, RMSStepDetector& detector, const SplitSettings& settings,
                       const QString& directory, const QString& outName, SoundTools::SoundFormat format,
                       unsigned int bitrate, const SoundIDTag& tags, bool quiet)
{
    SoundWriterMultiFile writer(&detector, settings.minTrack, reader.getSampleRate(), 2, bitrate, format);
    writer.setTags(tags);
    // Nothing past the end of the recording: the zeros that flush a
    // look-ahead limiter are not part of the last track.
    writer.setRange(0, int(reader.getFrameNB()));
    if (writer.open(QDir(directory).filePath(outName)) != SoundTools::Ok)
        return PassResult::Failed;
    if (settings.evenLoudness) {
        // Every region of a track takes the level of the track's loudest one,
        // so the gain that follows the regions is one gain per track: tracks
        // come out even, while each keeps its quiet passages and its fade.
        detector.compressDynamic(kEvenLoudnessRatio);
    }
    AlgoRef<SoundAlgo> stage(settings.evenLoudness ? buildEvenLoudnessStage(&detector, settings.target)
                                                   : buildOutputStage(0.0, false, 0.0));
    reader.rewind();
    const PassResult result = runPass(QStringLiteral("writing"), *stage, reader, &writer, reader.getFrameNB(), quiet);
    writer.close();
    return result;
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
