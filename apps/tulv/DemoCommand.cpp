#include "Arguments.h"
#include "Commands.h"
#include "DemoRecord.h"
#include "Formats.h"
#include "Interrupt.h"
#include "Pass.h"
#include "SplitCommand.h"
#include "Outputs.h"

#include <tulv/tulv.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>

namespace {

const CommandInfo kCommand = {
    "demo",
    R"(Usage: tulv demo [DIR] [OPTIONS]

Builds a synthetic record side of three minutes: four tracks of music-like
sound (melody, bass, pad and percussion; one with a quiet passage 20 dB down,
the last fading out into the lead-out), gaps of 3 to 5 s of surface hiss with
crackle, a short thump in the last gap, lead-in and lead-out noise. It splits
the side with the default settings of 'tulv split' and prints the tracks found
next to the true ones.

With DIR, the side (side.wav) and the tracks (001-track.wav, ...) are kept
there; without, they go to a temporary directory that is removed afterwards.

The exit status is 0 when every track is found with both boundaries within
half a second of the truth, 1 otherwise.
)",
    { { "q,quiet", nullptr, "no progress report" } },
};

// How far a found boundary may lie from the true one.
const double kTolerance = 0.5; // seconds

QString signedSeconds(double seconds)
{
    return QStringLiteral("%1%2 s").arg(seconds >= 0 ? QStringLiteral("+") : QString()).arg(seconds, 0, 'f', 2);
}

} // namespace

int runDemo(const QStringList& arguments)
{
    Arguments args(kCommand);
    if (const auto stop = args.parse(arguments))
        return *stop;
    if (args.positional().size() > 1)
        return args.usageError(QStringLiteral("takes at most one directory"));
    const bool quiet = args.has("quiet");

    QTemporaryDir scratch;
    QString directory;
    if (args.positional().isEmpty()) {
        if (!scratch.isValid()) {
            printError(QStringLiteral("cannot create a temporary directory: %1").arg(scratch.errorString()));
            return ExitFailed;
        }
        directory = scratch.path();
    } else {
        directory = args.positional().first();
        QString reason;
        if (!makeDirectory(directory, reason)) {
            printError(reason);
            return ExitFailed;
        }
    }
    const QString side = QDir(directory).filePath(QStringLiteral("side.wav"));

    // The side is written through the library like any recording would be.
    DemoRecordReader record;
    const unsigned int rate = record.getSampleRate();
    if (!quiet)
        printOut(QStringLiteral("Synthetic record side of %1 with %2 tracks: %3\n")
                     .arg(QString::fromStdString(record.getLengthString()))
                     .arg(record.tracks().size())
                     .arg(side));
    {
        std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(side, rate, 0, SoundTools::Int16));
        const QString before = SoundDebuggableClass::getError();
        if (!writer || writer->open(side) != SoundTools::Ok) {
            printError(QStringLiteral("cannot write '%1': %2").arg(side, libraryReason(before, QStringLiteral("cannot create the file"))));
            return ExitFailed;
        }
        SoundIDTag tags;
        record.getTags(tags);
        writer->setTags(tags);
        writer->setRange(0, int(record.getFrameNB()));
        AlgoRef<SoundAlgo> copy(new SoundAlgoScale(0.0));
        record.rewind();
        const PassResult result = runPass(QStringLiteral("recording"), *copy, record, writer.get(), record.getFrameNB(), quiet);
        if (result != PassResult::Done)
            writer->cancel();
        writer->close();
        if (result == PassResult::Interrupted) {
            printError(QStringLiteral("interrupted"));
            return interrupt::exitCode();
        }
        if (result != PassResult::Done || writer->hasFailed()) {
            printError(QStringLiteral("cannot write '%1': %2").arg(side, libraryReason(before, QStringLiteral("writing failed"))));
            return ExitFailed;
        }
    }

    SplitJobRequest request;
    request.in = side;
    request.out = QDir(directory).filePath(QStringLiteral("track.wav"));
    request.quiet = quiet;
    // The demo's own tracks of an earlier run give way to the new ones.
    request.force = true;
    SplitOutcome outcome;
    const int status = runSplitJob(request, outcome);
    if (status != ExitOk)
        return status;

    // The table: what the split found, and beside it what the side holds.
    const std::vector<DemoRecordReader::Track>& truth = record.tracks();
    const size_t rows = std::max(truth.size(), outcome.tracks.size());
    QString table = QStringLiteral("\nTrack  Found start   Found end     Level     | True start    True end      | Start off  End off\n");
    bool match = outcome.tracks.size() == truth.size();
    for (size_t i = 0; i < rows; ++i) {
        QString line = QStringLiteral("%1  ").arg(int(i + 1), 5);
        const bool found = i < outcome.tracks.size();
        const bool real = i < truth.size();
        if (found) {
            const TrackRow& row = outcome.tracks[i];
            line += QStringLiteral("%1  %2  %3 dB")
                        .arg(timeText(double(row.begin) / rate), -12)
                        .arg(timeText(double(row.end) / rate), -12)
                        .arg(row.levelDb, 6, 'f', 1);
        } else {
            line += QString(38, QLatin1Char(' '));
        }
        line += QStringLiteral(" | ");
        if (real)
            line += QStringLiteral("%1  %2").arg(timeText(truth[i].start), -12).arg(timeText(truth[i].end), -12);
        else
            line += QString(26, QLatin1Char(' '));
        line += QStringLiteral(" | ");
        if (found && real) {
            const double startOff = double(outcome.tracks[i].begin) / rate - truth[i].start;
            const double endOff = double(outcome.tracks[i].end) / rate - truth[i].end;
            line += QStringLiteral("%1  %2").arg(signedSeconds(startOff), 9).arg(signedSeconds(endOff), 9);
            if (std::fabs(startOff) > kTolerance || std::fabs(endOff) > kTolerance) {
                match = false;
                line += QStringLiteral("  <- off");
            }
        } else {
            line += found ? QStringLiteral("extra track") : QStringLiteral("missed");
        }
        table += line + QLatin1Char('\n');
    }
    printOut(table);
    if (!match) {
        printError(QStringLiteral("demo: the split does not match the truth within %1 s").arg(kTolerance));
        return ExitFailed;
    }
    printOut(QStringLiteral("\n%1 tracks found, each boundary within %2 s of the truth.\n").arg(truth.size()).arg(kTolerance));
    if (!args.positional().isEmpty())
        printOut(QStringLiteral("Files: %1\n").arg(outcome.files.join(QStringLiteral(", "))));
    return ExitOk;
}
