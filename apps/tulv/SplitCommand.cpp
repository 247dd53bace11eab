#include "Arguments.h"
#include "Commands.h"
#include "Formats.h"
#include "Loudness.h"
#include "Interrupt.h"
#include "OpenInput.h"
#include "SplitCommand.h"
#include "SplitJob.h"
#include "ConvertChecks.h"
#include "Outputs.h"

#include <tulv/tulv.h>

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

const CommandInfo kCommand = {
    "split",
    R"(Usage: tulv split IN OUT [OPTIONS]

Splits a long recording (a record or tape side, a concert) into one file per
track. A first pass measures the loudness of IN and cuts it into regions of
steady level; the quietest regions give the noise level, regions near it
become the gaps; a second pass writes every run of sound between gaps that
lasts at least --min-track to its own numbered file named after OUT:
  side.flac     ->  001-side.flac, 002-side.flac, ...
  01 Track.mp3  ->  01 Track.mp3, 02 Track.mp3, ...
The container follows OUT's extension (as for convert). The files have IN's
channels: mono stays mono; of more than two channels the first two are kept,
with a warning. Each file is tagged with the tags of IN and the --tag values;
the title (OUT's name when IN has none) gets the track number (" 01") and
the track tag is set.

The defaults are chosen for a typical record side: tracks of 1 to 10
minutes, gaps of 1 to 5 s of surface noise with clicks, a noise floor of
-45 to -65 dBFS, fade-outs and quiet passages.
)",
    {
        { "min-track", "S",
          "runs of sound shorter than S seconds make no file\n"
          "(default 5: a needle drop, a thump or a burst of crackle\n"
          "between tracks lasts a second or two, while hardly any\n"
          "piece of music is shorter than five seconds)" },
        { "quiet-time", "S",
          "the global noise level is measured on the quietest S\n"
          "seconds of every five minutes (default 2: even a side with\n"
          "few, short gaps has that much lead-in, gap and lead-out\n"
          "time, so the measurement never reaches into the music)" },
        { "global-snr", "DB",
          "the global measurement ignores regions more than DB below\n"
          "the loudest (default 60: deeper than any record's noise\n"
          "floor under its music, shallower than the digital silence\n"
          "of a lead-in, which would otherwise pass for the noise)" },
        { "snr", "DB",
          "inside a run of sound, a stretch more than DB below the\n"
          "run's loudest region is a gap (default 30: surface noise\n"
          "lies 35 dB or more under the music, while quiet passages\n"
          "and the tails of fade-outs stay within 20 to 25 dB of it)" },
        { "min-run", "S",
          "runs of sound longer than S seconds are re-examined on\n"
          "their own (default 20: a run that long may hold two tracks\n"
          "whose gap the global level missed because the surface\n"
          "noise changes along the side)" },
        { "window", "S",
          "length of the level measurement (default 0.05: short\n"
          "enough that a gap of one second still holds windows of\n"
          "pure surface noise and a boundary lands within a tenth of\n"
          "a second, long enough to span a cycle of the lowest bass)" },
        { "format", "F",
          "sample format: int8, int16, int24, int32, float, double, as\n"
          "OUT's container holds it (default: IN's own, or the nearest;\n"
          "16 and 8 bits from a wider IN are dithered)" },
        { "bitrate", "KBPS",
          "MP3 bit rate in kbit/s (default 192)" },
        { "tag", "KEY=VALUE",
          "any tag but the track for every file (see convert --help);\n"
          "an empty VALUE removes it; may be repeated", true },
        { "even-loudness", nullptr,
          "bring every track to the same loudness: one gain per\n"
          "track, from the level of its loudest passage (so quiet\n"
          "passages and fade-outs stay as they are), moved in the\n"
          "gaps, and a peak limiter after it" },
        { "target", "DB",
          "the RMS level --even-loudness gives the loudest passage of\n"
          "every track (default -18 dBFS: the level of a typical\n"
          "pressing, with room for peaks); or, as '-16LUFS', the\n"
          "integrated loudness (EBU R 128) of every track as a whole" },
        { "replaygain", nullptr,
          "tag every track with its ReplayGain 2.0 track gain and\n"
          "peak and the album gain and peak of all of them" },
        { "save-regions", "F",
          "save the regions (with their noise flags) as JSON" },
        { "load-regions", "F",
          "take the regions from F instead of the first pass; they\n"
          "are used as saved, so a hand-edited \"IsNoise\" moves a split" },
        { "tracks", "N",
          "the side has N tracks: keep the N - 1 likeliest gaps\n"
          "(looking for quieter stretches when fewer are found)" },
        { "threshold", "DB",
          "stretches at or below DB dBFS are gaps, instead of the\n"
          "automatic estimate of the surface noise" },
        { "gap-offset", "X",
          "where a gap is cut, from 0 (all of it to the next track)\n"
          "to 1 (all to the track before it); default: at the gap's\n"
          "quietest point" },
        { "trim-gaps", nullptr,
          "leave the gaps out instead of dividing them between the\n"
          "tracks around them" },
        { "labels", "F",
          "write the tracks as Audacity labels (start, end, title,\n"
          "tab-separated, in seconds)" },
        { "cue", "F",
          "write a cue sheet of the tracks for IN" },
        { "load-labels", "F",
          "split at the tracks of an Audacity label file (such as\n"
          "one written by --labels and edited) instead of detecting" },
        { "json", nullptr,
          "print the track table as JSON" },
        { "force", nullptr,
          "replace files that bear the names of the tracks (never IN)" },
        { "dry-run", nullptr,
          "print the track table and write nothing" },
        { "q,quiet", nullptr,
          "no progress report" },
    },
    R"(The table lists number, start, end, duration and level (RMS, dBFS) of the
sound of every track (with --even-loudness, the level it was brought to).
Nothing between the start of the first track and the end of the last is
lost: each gap is divided between the files of its two tracks. What comes
before the first and after the last track is left out, and said so.
Files are written to a hidden directory next to OUT and moved into
place when all are complete: an error or Ctrl-C leaves none behind. OUT's
directory is created when missing. Files already under the names of the
tracks are not replaced without --force; a second split into the same
directory refuses while the first runs.
)",
};

const unsigned int kDefaultBitrate = 192;

// Writes `bytes` to `fileName` whole or not at all.
bool writeTextFile(const QString& fileName, const QByteArray& bytes, QString& reason)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

bool saveRegions(const RMSStepDetector& detector, const QString& fileName, QString& reason)
{
    QJsonObject object;
    detector.writeToJSon(object);
    // Text whatever the name: the file is meant to be read and edited.
    if (!Utilities::writeJSONToFile(QJsonDocument(object), fileName, false)) {
        reason = QStringLiteral("the regions could not be saved");
        return false;
    }
    return true;
}

QString trackTitle(int number)
{
    return QStringLiteral("Track %1").arg(number, 2, 10, QLatin1Char('0'));
}

// Audacity's label format: start, end and title, tab-separated, in seconds.
QByteArray labelsText(const std::vector<TrackRow>& rows, double rate)
{
    QString text;
    for (const TrackRow& row : rows)
        text += QStringLiteral("%1\t%2\t%3\n").arg(row.begin / rate, 0, 'f', 6).arg(row.end / rate, 0, 'f', 6).arg(trackTitle(row.number));
    return text.toUtf8();
}

// A cue sheet for IN itself: each track indexed where its sound starts, in
// CD frames (75 a second).
QByteArray cueText(const std::vector<TrackRow>& rows, double rate, const QString& in)
{
    const QString type = SoundReader::getExtension(in).compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0
                             ? QStringLiteral("MP3")
                             : QStringLiteral("WAVE");
    QString text = QStringLiteral("FILE \"%1\" %2\n").arg(QFileInfo(in).fileName(), type);
    for (const TrackRow& row : rows) {
        const long long cd = (long long)std::floor(row.begin / rate * 75.0);
        text += QStringLiteral("  TRACK %1 AUDIO\n    TITLE \"%2\"\n    INDEX 01 %3:%4:%5\n")
                    .arg(row.number, 2, 10, QLatin1Char('0'))
                    .arg(trackTitle(row.number))
                    .arg(cd / 75 / 60, 2, 10, QLatin1Char('0'))
                    .arg(cd / 75 % 60, 2, 10, QLatin1Char('0'))
                    .arg(cd % 75, 2, 10, QLatin1Char('0'));
    }
    return text.toUtf8();
}

// The tracks of an Audacity label file: one "start<TAB>end[<TAB>title]" line
// each, in seconds, in order, inside the recording.
bool readLabels(const QString& fileName, const SoundReader& reader, std::vector<TrackRow>& rows, QString& reason)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reason = file.errorString();
        return false;
    }
    const double rate = reader.getSampleRate();
    const double length = reader.getFrameNB() / rate;
    int line = 0;
    while (!file.atEnd()) {
        ++line;
        const QString text = QString::fromUtf8(file.readLine()).trimmed();
        // Audacity writes a second line of frequencies for spectral labels.
        if (text.isEmpty() || text.startsWith(QLatin1Char('\\')))
            continue;
        const QStringList fields = text.split(QLatin1Char('\t'));
        bool startOk = false;
        bool endOk = false;
        const double start = fields.value(0).toDouble(&startOk);
        const double end = fields.size() > 1 ? fields.at(1).toDouble(&endOk) : 0.0;
        if (!startOk || !endOk || !(start >= 0.0) || !(end > start)) {
            reason = QStringLiteral("line %1 is not 'start<TAB>end<TAB>title' in seconds with start before end").arg(line);
            return false;
        }
        if (end > length + 1.0 / rate) {
            reason = QStringLiteral("line %1 ends at %2 s, the recording at %3 s").arg(line).arg(end).arg(length, 0, 'f', 3);
            return false;
        }
        TrackRow row;
        row.number = int(rows.size()) + 1;
        row.begin = (long long)std::floor(start * rate + 0.5);
        row.end = std::min<long long>((long long)std::floor(end * rate + 0.5), reader.getFrameNB());
        if (!rows.empty() && row.begin < rows.back().end) {
            reason = QStringLiteral("line %1 starts before the track of the line before it ends").arg(line);
            return false;
        }
        rows.push_back(row);
    }
    if (rows.empty())
        reason = QStringLiteral("no label in it");
    return !rows.empty();
}

AlgoRef<RMSStepDetector> loadRegions(const QString& fileName, const SoundReader& reader, QString& reason)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return nullptr;
    }
    const QJsonDocument document = Utilities::readJSONFromFile(fileName, false);
    if (document.isNull()) {
        reason = QStringLiteral("not valid JSON");
        return nullptr;
    }
    if (!document.isObject()) {
        reason = QStringLiteral("not a saved region list");
        return nullptr;
    }
    const QString before = SoundDebuggableClass::getError();
    AlgoRef<RMSStepDetector> detector(RMSStepDetector::createFromJSon(document.object()));
    if (!detector) {
        reason = libraryReason(before, QStringLiteral("not a saved region list"))
            + QStringLiteral(" (not a region list saved by 'tulv split --save-regions')");
        return nullptr;
    }
    if (detector->size(false) == 0) {
        reason = QStringLiteral("the list holds no regions");
        return nullptr;
    }
    if (detector->getSampleRate() != reader.getSampleRate()) {
        reason = QStringLiteral("the regions were measured at %1 Hz, the recording is at %2 Hz")
                     .arg(detector->getSampleRate())
                     .arg(reader.getSampleRate());
        return nullptr;
    }
    // The regions run to the end of the recording they were measured on, to
    // within a frame; a second either way is another recording (or another
    // edit of it), whose tracks would cut this one at the wrong places.
    const RMSStepDetector::Region last = detector->getRegion(detector->size(false) - 1, false);
    const double end = (double(last.begin) + last.length) / reader.getSampleRate();
    if (std::abs(end - reader.getLength()) > 1.0) {
        reason = (end > reader.getLength() ? QStringLiteral("the regions cover %1 s, the recording only %2 s")
                                           : QStringLiteral("the regions cover only %1 s of the %2 s recording"))
                     .arg(end, 0, 'f', 1)
                     .arg(reader.getLength(), 0, 'f', 1);
        return nullptr;
    }
    return detector;
}

QString tableText(const SplitOutcome& outcome, bool json)
{
    if (!json) {
        QString text = trackTable(outcome.tracks, outcome.sampleRate);
        for (const QString& note : outcome.notes)
            text += note + QLatin1Char('\n');
        return text;
    }
    const double rate = outcome.sampleRate ? outcome.sampleRate : 44100.0;
    QJsonArray tracks;
    for (const TrackRow& row : outcome.tracks) {
        QJsonObject track;
        track.insert(QStringLiteral("Number"), row.number);
        track.insert(QStringLiteral("Start"), row.begin / rate);
        track.insert(QStringLiteral("End"), row.end / rate);
        track.insert(QStringLiteral("Duration"), (row.end - row.begin) / rate);
        track.insert(QStringLiteral("Level"), row.levelDb);
        track.insert(QStringLiteral("Gain"), row.gainDb);
        if (!row.file.isEmpty())
            track.insert(QStringLiteral("File"), row.file);
        tracks.append(track);
    }
    QJsonObject table;
    table.insert(QStringLiteral("Tracks"), tracks);
    table.insert(QStringLiteral("Notes"), QJsonArray::fromStringList(outcome.notes));
    return QString::fromUtf8(QJsonDocument(table).toJson());
}

} // namespace

int runSplit(const QStringList& arguments)
{
    Arguments args(kCommand);
    if (const auto stop = args.parse(arguments))
        return *stop;
    const bool dryRun = args.has("dry-run");
    const int wanted = dryRun ? 1 : 2;
    if (args.positional().size() < wanted)
        return args.usageError(dryRun ? QStringLiteral("needs IN") : QStringLiteral("needs IN and OUT"));
    if (args.positional().size() > 2)
        return args.usageError(QStringLiteral("takes exactly IN and OUT"));

    SplitJobRequest request;
    request.in = args.positional().at(0);
    request.out = args.positional().size() > 1 ? args.positional().at(1) : QString();
    SplitSettings& settings = request.settings;
    int bitrate = int(kDefaultBitrate);
    if (!args.number("min-track", settings.minTrack, 0.0, 36000.0) || !args.number("snr", settings.snr, 1.0, 200.0)
        || !args.number("global-snr", settings.globalSnr, 1.0, 200.0)
        || !args.number("quiet-time", settings.quietTime, 0.01, 300.0)
        || !args.number("min-run", settings.minRun, 1.0, 360000.0)
        || !args.number("window", settings.rmsTime, 0.005, 5.0)
        || !args.integer("bitrate", bitrate, 8, 320)
        || !args.number("threshold", settings.thresholdDb, -120.0, 0.0)
        || !args.integer("tracks", settings.tracks, 1, 999) || !args.number("gap-offset", settings.gapOffset, 0.0, 1.0))
        return args.usageError();
    settings.trimGaps = args.has("trim-gaps");
    if (settings.trimGaps && args.has("gap-offset"))
        return args.usageError(QStringLiteral("--gap-offset divides the gaps that --trim-gaps leaves out"));
    if (args.has("load-labels") && (args.has("load-regions") || args.has("tracks") || args.has("threshold")))
        return args.usageError(QStringLiteral("--load-labels gives the tracks: no --load-regions, --tracks or --threshold"));
    request.bitrate = unsigned(bitrate);
    request.bitrateGiven = args.has("bitrate");
    if (args.has("target")
        && (!parseLoudnessTarget(args.value("target"), settings.target, settings.targetLufs) || settings.target < -60.0
            || settings.target > 0.0))
        return args.usageError(QStringLiteral("--target takes a level from -60 to 0, in dB or as '-16LUFS', not '%1'")
                                   .arg(args.value("target")));
    settings.replayGain = args.has("replaygain");
    settings.evenLoudness = args.has("even-loudness");
    if (args.has("target") && !settings.evenLoudness)
        return args.usageError(QStringLiteral("--target needs --even-loudness"));
    if (args.has("format")) {
        SoundTools::SoundFormat format;
        if (!parseSampleFormat(args.value("format"), format))
            return args.usageError(QStringLiteral("unknown sample format '%1' (int16, int24, int32, float, double)")
                                       .arg(args.value("format")));
        request.format = format;
        request.formatGiven = true;
    }
    if (!dryRun) {
        if (QFileInfo(request.out).fileName().isEmpty() || QFileInfo(request.out).completeBaseName().isEmpty())
            return args.usageError(QStringLiteral("OUT needs a file name to number, such as 'side.flac'"));
        QString problem;
        if (!checkOutputChoice(request.out, args.has("format") ? &request.format : nullptr,
                               args.has("bitrate") ? &bitrate : nullptr, problem))
            return args.usageError(problem);
    }
    QString tagError;
    SoundIDTag checked;
    if (!applyTagOverrides(args.values("tag"), false, checked, tagError))
        return args.usageError(tagError);
    request.tagItems = args.values("tag");
    request.saveRegions = args.value("save-regions");
    request.loadRegions = args.value("load-regions");
    request.labels = args.value("labels");
    request.cue = args.value("cue");
    request.loadLabels = args.value("load-labels");
    request.json = args.has("json");
    request.dryRun = dryRun;
    request.force = args.has("force");
    request.quiet = args.has("quiet");
    request.printTable = true;
    SplitOutcome outcome;
    return runSplitJob(request, outcome);
}

namespace {

// Refuses a split that would write over its input or, without --force, over
// any file; with --force, returns in `left` the files of the same pattern
// beyond the new last track (an earlier split's), which stay.
bool checkTrackNames(const SplitJobRequest& request, int tracks, QStringList& left, QString& reason)
{
    for (int number = 1; number <= tracks; ++number) {
        const QString name = trackFileName(request.out, number);
        if (sameFile(name, request.in)) {
            reason = QStringLiteral("track %1 would be written over the input '%2'; choose another OUT")
                         .arg(number)
                         .arg(request.in);
            return false;
        }
        if (!request.force && QFileInfo::exists(name)) {
            reason = QStringLiteral("'%1' exists; use --force to replace it").arg(name);
            return false;
        }
    }
    const QDir directory(directoryOf(request.out));
    const QRegularExpression leadingNumber(QStringLiteral("^(\\d+)"));
    for (const QString& entry : directory.entryList(QDir::Files, QDir::Name)) {
        const QRegularExpressionMatch match = leadingNumber.match(entry);
        const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
        if (number > tracks && QFileInfo(trackFileName(request.out, number)).fileName() == entry)
            left << entry;
    }
    return true;
}

} // namespace

// What the MP3 encoder makes of the tracks' rate and bit rate, checked as
// convert checks it, before the analysis: an encoder is set up on a scratch
// file and dropped. A writer that cannot be set up here fails again, and is
// reported, when the tracks are written.
bool checkTrackEncoding(const SplitJobRequest& request, SoundReader& reader)
{
    if (!isMp3(request.out))
        return true;
    QTemporaryDir scratch;
    std::unique_ptr<SoundWriter> probe(SoundWriter::getFromFilename(
        request.out, reader.getSampleRate(), request.bitrate, request.format, reader.getFileChannelNum() == 1 ? 1 : 2));
    if (!scratch.isValid() || !probe || probe->open(scratch.filePath(QStringLiteral("probe.mp3"))) != SoundTools::Ok)
        return true;
    const bool ok = checkEncoding(request.out, *probe, request.bitrate, request.bitrateGiven);
    probe->cancel();
    return ok;
}

int runSplitJob(const SplitJobRequest& request, SplitOutcome& outcome)
{
    const SplitSettings& settings = request.settings;
    QString reason;
    std::unique_ptr<SoundReader> reader = openInput(request.in, reason);
    if (!reader) {
        printError(QStringLiteral("cannot open '%1': %2").arg(request.in, reason));
        return ExitFailed;
    }
    outcome.sampleRate = reader->getSampleRate();
    checkTruncation(request.in, *reader, false);
    // Both passes carry the whole file: large blocks, few system calls.
    SoundBuffer::setDefaultSize(SoundWriter::kFileJobBlockSize);

    // Everything that can be checked before an hour of work is checked first.
    if (!request.saveRegions.isEmpty() && !checkOutput(request.saveRegions, request.in, false, reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(request.saveRegions, reason));
        return ExitFailed;
    }
    TrackSet trackSet(directoryOf(request.out));
    if (!request.dryRun && !checkTrackEncoding(request, *reader))
        return ExitFailed;
    if (!request.dryRun) {
        if (sameFile(trackFileName(request.out, 1), request.in)) {
            printError(QStringLiteral("cannot write '%1': track 1 would be written over the input '%2'; choose another OUT")
                           .arg(request.out, request.in));
            return ExitFailed;
        }
        if (!trackSet.open(reason)) {
            printError(QStringLiteral("cannot write '%1': %2").arg(request.out, reason));
            return ExitFailed;
        }
    }

    AlgoRef<RMSStepDetector> detector;
    std::vector<TrackRow> labelled;
    if (!request.loadLabels.isEmpty() && !readLabels(request.loadLabels, *reader, labelled, reason)) {
        printError(QStringLiteral("cannot load labels from '%1': %2").arg(request.loadLabels, reason));
        return ExitFailed;
    }
    if (!request.loadRegions.isEmpty()) {
        detector = loadRegions(request.loadRegions, *reader, reason);
        if (!detector) {
            printError(QStringLiteral("cannot load regions from '%1': %2").arg(request.loadRegions, reason));
            return ExitFailed;
        }
    } else if (request.loadLabels.isEmpty() || settings.evenLoudness || !request.saveRegions.isEmpty()) {
        PassResult result;
        const QString before = SoundDebuggableClass::getError();
        detector = detectRegions(*reader, settings, request.quiet, result);
        if (result == PassResult::Interrupted) {
            printError(QStringLiteral("interrupted; nothing written"));
            return interrupt::exitCode();
        }
        if (!detector) {
            printError(QStringLiteral("cannot read '%1': %2").arg(request.in, libraryReason(before, QStringLiteral("the analysis failed"))));
            return ExitFailed;
        }
    }
    SoundTrackFinder finder(finderSettings(settings));
    outcome.notes.clear();
    const double rate = outcome.sampleRate ? outcome.sampleRate : 44100.0;
    if (!request.loadLabels.isEmpty()) {
        // The labels give the tracks; the regions, when measured, only the
        // levels for --even-loudness.
        if (detector)
            finder.find(*detector);
        outcome.tracks = labelled;
    } else {
        // Regions loaded from a file are split as they are classified there:
        // an edited "IsNoise" moves a split.
        const bool found = request.loadRegions.isEmpty() ? finder.find(*detector) : finder.findAsClassified(*detector);
        if (!found) {
            printError(QStringLiteral("no track found in '%1': %2").arg(request.in, finder.reason()));
            return ExitFailed;
        }
        outcome.tracks = rowsOf(finder.tracks());
        if (!finder.reason().isEmpty())
            outcome.notes << finder.reason();
    }
    if (!request.saveRegions.isEmpty() && !saveRegions(*detector, request.saveRegions, reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(request.saveRegions, reason));
        return ExitFailed;
    }
    if (settings.evenLoudness && settings.targetLufs) {
        PassResult result;
        if (!measureTrackLoudness(*reader, outcome.tracks, settings.target, request.quiet, result)) {
            printError(result == PassResult::Interrupted ? QStringLiteral("interrupted; nothing written")
                                                         : QStringLiteral("cannot read '%1'").arg(request.in));
            return result == PassResult::Interrupted ? interrupt::exitCode() : ExitFailed;
        }
    } else if (settings.evenLoudness && detector) {
        levelTracks(*detector, outcome.tracks, settings.target);
    }
    const long long leadIn = outcome.tracks.front().begin;
    const long long leadOut = (long long)reader->getFrameNB() - outcome.tracks.back().end;
    if (leadIn > 0 || leadOut > 0)
        outcome.notes << QStringLiteral("left out: %1 s before the first track, %2 s after the last")
                             .arg(leadIn / rate, 0, 'f', 2)
                             .arg(leadOut / rate, 0, 'f', 2);
    if (!request.labels.isEmpty() && !writeTextFile(request.labels, labelsText(outcome.tracks, rate), reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(request.labels, reason));
        return ExitFailed;
    }
    if (!request.cue.isEmpty() && !writeTextFile(request.cue, cueText(outcome.tracks, rate, request.in), reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(request.cue, reason));
        return ExitFailed;
    }
    if (request.dryRun) {
        if (request.printTable)
            printOut(tableText(outcome, request.json));
        return ExitOk;
    }
    QStringList left;
    if (!checkTrackNames(request, int(outcome.tracks.size()), left, reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(request.out, reason));
        return ExitFailed;
    }

    SoundIDTag tags;
    reader->getTags(tags);
    tags.track.clear();
    // Every track is titled "<title> NN": without a title from IN, OUT's name
    // (less any track number it starts with) keeps that from reading " 02".
    if (tags.title.empty()) {
        QString base = QFileInfo(request.out).completeBaseName();
        base.remove(QRegularExpression(QStringLiteral("^[0-9]+[ ._-]*")));
        tags.title = (base.isEmpty() ? QFileInfo(request.out).completeBaseName() : base).toStdString();
    }
    applyTagOverrides(request.tagItems, false, tags, reason);
    const SoundTools::SoundFormat format =
        request.formatGiven ? request.format : defaultOutputFormat(request.out, reader->getInputFormat());
    const QString before = SoundDebuggableClass::getError();
    TrackOutput output{ format, request.bitrate, outputChannels(request.in, *reader),
                        needsDither(request.out, reader->getInputFormat(), format), request.in };
    const PassResult result = writeTracks(*reader, detector.get(), outcome.tracks, settings, trackSet.scratch(),
                                          QFileInfo(request.out).fileName(), output, tags, request.quiet);
    if (result == PassResult::Interrupted) {
        printError(QStringLiteral("interrupted; no track written"));
        return interrupt::exitCode();
    }
    if (result == PassResult::Failed) {
        printError(QStringLiteral("cannot write '%1': %2").arg(request.out, libraryReason(before, QStringLiteral("writing the tracks failed"))));
        return ExitFailed;
    }
    // The tags describe the tracks as written, before they take their names.
    if (settings.replayGain) {
        const QDir scratch(trackSet.scratch());
        QStringList written;
        for (const QString& name : scratch.entryList(QDir::Files, QDir::Name))
            written << scratch.filePath(name);
        if (!tagReplayGain(written, true, request.quiet, reason)) {
            printError(reason);
            return ExitFailed;
        }
    }
    QStringList files;
    if (!trackSet.commit(files, reason)) {
        printError(QStringLiteral("cannot write '%1': %2; no track written").arg(request.out, reason));
        return ExitFailed;
    }
    if (files.size() == int(outcome.tracks.size()))
        for (size_t i = 0; i < outcome.tracks.size(); ++i)
            outcome.tracks[i].file = QFileInfo(files.at(int(i))).fileName();
    outcome.files = files;
    if (request.printTable)
        printOut(tableText(outcome, request.json));
    if (!left.isEmpty())
        printError(QStringLiteral("warning: older files of the same pattern were left in '%1': %2")
                       .arg(directoryOf(request.out), left.join(QStringLiteral(", "))));
    return ExitOk;
}
