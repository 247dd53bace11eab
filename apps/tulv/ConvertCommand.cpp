#include "Arguments.h"
#include "Commands.h"
#include "ConvertChecks.h"
#include "ConvertFile.h"
#include "Correction.h"
#include "Formats.h"
#include "Interrupt.h"
#include "Loudness.h"
#include "OpenInput.h"
#include "Pass.h"
#include "SplitJob.h"
#include "Outputs.h"

#include <tulv/tulv.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

const unsigned int kDefaultBitrate = 192;

std::vector<OptionInfo> convertOptions()
{
    std::vector<OptionInfo> options = {
        { "gain", "DB", "amplify by DB decibels (default 0: the samples unchanged)" },
        { "limit", "DB", "put a look-ahead limiter with its ceiling at DB dBFS on the\n"
                         "output, so that a gain cannot clip (e.g. --limit -0.3)" },
        { "correct", "FILE[:NAME]", "equalise the sound towards the reference NAME of the\n"
                                    "catalog FILE (default: the nearest to its band levels)\n"
                                    "by cutting bands; a band more than 12 dB off is brought\n"
                                    "12 dB nearer. See 'tulv catalog'" },
        { "to", "EXT", "container of OUT whatever its name: wav, flac, ogg, mp3;\n"
                       "needed when OUT is a directory (then IN may be several\n"
                       "files, converted side by side, one per core) or a device;\n"
                       "'-' (standard output) takes wav, the default, or flac" },
    };
    const std::vector<OptionInfo> file = fileOptions();
    options.insert(options.begin(), file.begin(), file.end());
    return options;
}

const CommandInfo kCommand = {
    "convert",
    R"(Usage: tulv convert IN OUT [OPTIONS]

Converts any readable sound file (WAV, FLAC, Ogg Vorbis, AIFF, MP3) to any
writable one. The container follows OUT's extension: .wav, .flac, .ogg, .mp3,
.aiff (or .aif), or .raw for a headerless file of 32-bit floats; any other
extension is refused. Every tag and the front cover of IN are carried over
unless overridden. A mono IN gives a mono OUT; of an IN with more than two
channels, the first two are kept (with a warning).
)",
    convertOptions(),
    R"(OUT is written under a temporary name and renamed when complete: an error or
Ctrl-C leaves no partial file, and OUT may even be IN itself. A device node or
FIFO is written directly; a symbolic link is written through to its target.
With several inputs, a file that fails does not stop the others; each failure
is named and the exit status is then 1.
Warnings on stderr say what the conversion could not keep: samples clipped at
full scale, NaN or infinite samples (written as silence), channels left out,
frames missing from a truncated IN, a sample rate the MP3 encoder changed.
)",
};

// Convert's own stage: the gain and the optional limiter.
class GainStage : public FileStage {
public:
    explicit GainStage(const ConvertSettings& settings)
        : mSettings(settings)
    {
    }
    SoundAlgo* build(QString&) override
    {
        return buildOutputStage(mSettings.gain, mSettings.hasLimit, mSettings.limitDb);
    }

private:
    const ConvertSettings& mSettings;
};

} // namespace

std::vector<OptionInfo> fileOptions()
{
    return {
        { "format", "F", "sample format of OUT: int8, int16, int24, int32, float,\n"
                         "double; refused when OUT's container cannot hold it\n"
                         "(default: IN's own, or the nearest OUT holds)" },
        { "bitrate", "KBPS", "MP3 bit rate in kbit/s: 8, 16, 24, 32, 40, 48, 56, 64,\n"
                             "80, 96, 112, 128, 144, 160, 192, 224, 256 or 320 (default 192)" },
        { "start", "S", "begin S seconds into IN (default 0)" },
        { "end", "S", "stop S seconds into IN (default: the end)" },
        { "tag", "KEY=VALUE", "set a tag: title, artist, album, year, track (3 or 3/12),\n"
                              "disc, genre, comment, albumartist, or any other name\n"
                              "(REPLAYGAIN_TRACK_GAIN, ...). Repeat a KEY for several\n"
                              "values; an empty VALUE removes it; cover= removes the cover", true },
        { "cover", "FILE", "set the front cover from an image file" },
        { "replaygain", nullptr, "measure OUT's loudness (EBU R 128) and tag it with its\n"
                                 "ReplayGain 2.0 track gain and peak (reference -18 LUFS)" },
        { "no-dither", nullptr, "round to 16 or 8 bits without the triangular dither added\n"
                               "by default when IN has more resolution" },
        { "strict", nullptr, "refuse a truncated IN instead of converting the frames\n"
                             "present" },
        { "q,quiet", nullptr, "no progress report" },
    };
}

std::optional<int> readFileSettings(Arguments& args, const QString& kind, const QString& out, ConvertSettings& settings)
{
    int bitrate = int(kDefaultBitrate);
    if (!args.number("start", settings.start, 0.0, 1e7) || !args.number("end", settings.end, 0.0, 1e7)
        || !args.integer("bitrate", bitrate, 8, 320))
        return args.usageError();
    settings.bitrate = unsigned(bitrate);
    settings.hasBitrate = args.has("bitrate");
    settings.hasEnd = args.has("end");
    if (settings.hasEnd && settings.end <= settings.start)
        return args.usageError(QStringLiteral("--end must lie after --start"));
    settings.hasFormat = args.has("format");
    if (settings.hasFormat && !parseSampleFormat(args.value("format"), settings.format))
        return args.usageError(QStringLiteral("unknown sample format '%1' (int8, int16, int24, int32, float, double)")
                                   .arg(args.value("format")));
    QString problem;
    if (!checkOutputChoice(kind, settings.hasFormat ? &settings.format : nullptr,
                           args.has("bitrate") ? &bitrate : nullptr, problem))
        return args.usageError(kind == out ? problem : problem.replace(kind, out));
    SoundIDTag overrides;
    if (!applyTagOverrides(args.values("tag"), true, overrides, problem)
        || (args.has("cover") && !loadCover(args.value("cover"), settings.cover, problem)))
        return args.usageError(problem);
    settings.dither = !args.has("no-dither");
    settings.strict = args.has("strict");
    settings.replayGain = args.has("replaygain");
    settings.tags = args.values("tag");
    settings.quiet = args.has("quiet");
    return std::nullopt;
}

bool FileStage::prepare(SoundReader&, QString&)
{
    return true;
}

PassResult FileStage::analyse(SoundReader&, bool)
{
    return PassResult::Done;
}

int convertFile(const ConvertSettings& settings, const QString& in, const QString& out, const QString& kind,
                FileStage& stage)
{
    QString reason;
    std::unique_ptr<SoundReader> reader = openInput(in, reason);
    if (!reader) {
        printError(QStringLiteral("cannot open '%1': %2").arg(in, reason));
        return ExitFailed;
    }
    if (!stage.prepare(*reader, reason)) {
        printError(reason);
        return stage.refusalCode();
    }
    if (!checkTruncation(in, *reader, settings.strict))
        return ExitFailed;
    const long long missingAtOpen = reader->getMissingFrames();
    const double length = reader->getLength();
    if (settings.start >= length && length > 0) {
        printError(QStringLiteral("cannot convert '%1': --start %2 lies beyond its end (%3)")
                       .arg(in)
                       .arg(settings.start)
                       .arg(QString::fromStdString(reader->getLengthString())));
        return ExitFailed;
    }
    const SoundTools::SoundFormat format =
        settings.hasFormat ? settings.format : defaultOutputFormat(kind, reader->getInputFormat());
    const unsigned int channels = outputChannels(in, *reader);
    reader->setStartPoint(settings.start);
    reader->setEndPoint(settings.hasEnd ? settings.end : 0.0);
    reader->rewind();
    const unsigned int firstFrame = unsigned(reader->getStartOffset());
    unsigned int lastFrame = reader->getFrameNB();
    if (settings.hasEnd)
        lastFrame = std::min(lastFrame, unsigned(reader->getEndOffset()));
    const unsigned int frames = lastFrame > firstFrame ? lastFrame - firstFrame : 0;
    if (!checkOutput(out, in, true, reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(out, reason));
        return ExitFailed;
    }
    const PassResult analysis = stage.analyse(*reader, settings.quiet);
    if (analysis != PassResult::Done) {
        printError(analysis == PassResult::Interrupted ? QStringLiteral("interrupted; '%1' not written").arg(out)
                                                       : QStringLiteral("cannot read '%1': %2").arg(in, libraryReason(QString(), QStringLiteral("reading failed"))));
        return analysis == PassResult::Interrupted ? interrupt::exitCode() : ExitFailed;
    }
    AlgoRef<SoundAlgo> algo(stage.build(reason));
    if (!algo) {
        printError(reason);
        return ExitFailed;
    }
    // The meter comes last: the tags describe what OUT holds.
    SoundAlgoLoudness* meter = nullptr;
    if (settings.replayGain) {
        auto* chain = new SoundAlgoComposite();
        chain->pushAlgo(algo.release());
        meter = new SoundAlgoLoudness(channels);
        chain->pushAlgo(meter);
        algo.reset(chain);
    }
    reader->rewind();
    // The writer stages a regular file itself and writes a device, FIFO or
    // standard output directly.
    const unsigned int rate = reader->getSampleRate();
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(kind, rate, settings.bitrate, format, channels));
    if (writer) {
        writer->setExpectedFrames(frames + stage.tailFrames());
        writer->setDither(settings.dither && needsDither(kind, reader->getInputFormat(), format));
    }
    QString before = SoundDebuggableClass::getError();
    if (!writer || writer->open(out) != SoundTools::Ok) {
        QString why = libraryReason(before, QStringLiteral("the format cannot be written"));
        if (out == QLatin1String("-") && containerName(kind) == QLatin1String("WAV"))
            why += QStringLiteral(" (a WAV header needs a seekable file: redirect to a file, or use --to flac)");
        printError(QStringLiteral("cannot write '%1': %2").arg(out, why));
        return ExitFailed;
    }
    if (!checkEncoding(out, *writer, settings.bitrate, settings.hasBitrate)) {
        writer->cancel();
        writer->close();
        return ExitFailed;
    }

    SoundIDTag tags;
    reader->getTags(tags);
    QString unused;
    applyTagOverrides(settings.tags, true, tags, unused);
    if (!settings.cover.coverData.isEmpty()) {
        tags.coverData = settings.cover.coverData;
        tags.coverMimeType = settings.cover.coverMimeType;
    }
    if (!tags.coverData.isEmpty() && !coverFits(tags, kind)) {
        printWarning(QStringLiteral("the %1-byte cover is too large for %2 and is left out of '%3'")
                         .arg(tags.coverData.size())
                         .arg(containerName(kind), out));
        tags.coverData.clear();
    }
    writer->setTags(tags);
    // An algorithm that looks ahead is flushed with zero frames past the end
    // of the source; they are not part of the sound.
    writer->setRange(int(firstFrame), int(lastFrame + stage.tailFrames()));

    SoundBuffer::setDefaultSize(SoundWriter::kFileJobBlockSize);
    before = SoundDebuggableClass::getError();
    const PassResult result = runPass(QStringLiteral("converting"), *algo, *reader, writer.get(), frames, settings.quiet);
    const bool reported =
        result != PassResult::Done || reportConversion(in, out, *reader, missingAtOpen, *writer, settings.strict);
    if (result != PassResult::Done || !reported)
        writer->cancel();
    else if (meter && setReplayGain(tags, "TRACK", meter->getIntegratedLoudness(), meter->getTruePeak()))
        writer->setTags(tags);
    else if (meter)
        printWarning(QStringLiteral("'%1' is silent: no ReplayGain tags").arg(out));
    writer->close();
    if (!reported)
        return ExitFailed;
    if (result == PassResult::Interrupted) {
        printError(QStringLiteral("interrupted; '%1' not written").arg(out));
        return interrupt::exitCode();
    }
    if (result == PassResult::Failed || writer->hasFailed()) {
        printError(QStringLiteral("cannot write '%1': %2").arg(out, libraryReason(before, QStringLiteral("writing failed"))));
        return ExitFailed;
    }
    // A lossy encoder changes the loudness (its low pass alone takes up to a
    // dB off bright sound): the tags must describe what a player decodes, so
    // the file is measured again once it is complete.
    const bool lossy = isMp3(kind) || containerName(kind).startsWith(QLatin1String("Ogg"));
    if (meter && lossy && QFileInfo(out).isFile() && !tagReplayGain({ out }, false, true, reason)) {
        printError(reason);
        return ExitFailed;
    }
    return ExitOk;
}

namespace {

// Converts every input into `directory` as NAME.<to>, one file per core.
// Each file runs in its own tulv process: a file that fails, or crashes a
// decoder, takes no other with it, and the library's process-wide error
// record is never shared between jobs.
int convertMany(const QStringList& inputs, const QString& directory, const QString& to, const QStringList& options)
{
    QString reason;
    if (!makeDirectory(directory, reason)) {
        printError(reason);
        return ExitFailed;
    }
    QStringList outputs;
    for (const QString& in : inputs) {
        const QString out = QDir(directory).filePath(QFileInfo(in).completeBaseName() + QLatin1Char('.') + to);
        const int clash = outputs.indexOf(out);
        if (clash >= 0) {
            printError(QStringLiteral("'%1' and '%2' would both be written to '%3'").arg(inputs.at(clash), in, out));
            return ExitUsage;
        }
        outputs << out;
    }
    struct Job {
        int index;
        std::unique_ptr<QProcess> process;
    };
    std::vector<Job> running;
    QStringList failed;
    int next = 0, finished = 0;
    const int total = inputs.size();
    const int workers = std::max(1, QThread::idealThreadCount());
    while (next < total || !running.empty()) {
        while (next < total && int(running.size()) < workers && !interrupt::requested()) {
            auto process = std::make_unique<QProcess>();
            process->setProcessChannelMode(QProcess::SeparateChannels);
            process->setStandardOutputFile(QProcess::nullDevice());
            process->start(QCoreApplication::applicationFilePath(),
                           QStringList{ QStringLiteral("convert"), inputs.at(next), outputs.at(next), QStringLiteral("-q") }
                               + options);
            running.push_back(Job{ next++, std::move(process) });
        }
        if (interrupt::requested()) {
            for (Job& job : running)
                ::kill(pid_t(job.process->processId()), interrupt::signalNumber());
            next = total;
        }
        for (auto it = running.begin(); it != running.end();) {
            QProcess& process = *it->process;
            if (process.state() != QProcess::NotRunning && !process.waitForFinished(20)) {
                ++it;
                continue;
            }
            const QString in = inputs.at(it->index);
            const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
            const QString errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
            ++finished;
            if (ok) {
                if (!errors.isEmpty())
                    std::fprintf(stderr, "%s\n", qUtf8Printable(errors));
                std::fprintf(stderr, "[%d/%d] %s -> %s\n", finished, total, qUtf8Printable(in),
                             qUtf8Printable(outputs.at(it->index)));
            } else {
                failed << in;
                std::fprintf(stderr, "[%d/%d] %s\n", finished, total,
                             qUtf8Printable(errors.isEmpty() ? QStringLiteral("tulv: '%1' failed").arg(in) : errors));
            }
            it = running.erase(it);
        }
    }
    if (interrupt::requested()) {
        printError(QStringLiteral("interrupted after %1 of %2 files").arg(finished - failed.size()).arg(total));
        return interrupt::exitCode();
    }
    if (!failed.isEmpty()) {
        printError(QStringLiteral("converted %1 of %2 files; failed: %3")
                       .arg(total - failed.size())
                       .arg(total)
                       .arg(failed.join(QStringLiteral(", "))));
        return ExitFailed;
    }
    std::fprintf(stderr, "converted %d files into '%s'\n", total, qUtf8Printable(directory));
    return ExitOk;
}

} // namespace

int runConvert(const QStringList& arguments)
{
    Arguments args(kCommand);
    if (const auto stop = args.parse(arguments))
        return *stop;
    QStringList positional = args.positional();
    if (positional.size() < 2)
        return args.usageError(QStringLiteral("needs IN and OUT"));
    const QString out = positional.takeLast();
    const QString to = args.value("to").toLower();
    const bool toDirectory = positional.size() > 1 || QFileInfo(out).isDir();
    if (toDirectory && to.isEmpty())
        return args.usageError(QStringLiteral("takes IN and OUT, or IN... DIR --to EXT"));
    const QString kind = to.isEmpty() ? (out == QLatin1String("-") ? QStringLiteral("-.wav") : out)
                                      : QStringLiteral("out.") + to;
    if (out == QLatin1String("-") && !QStringList{ QStringLiteral("WAV"), QStringLiteral("FLAC") }.contains(containerName(kind)))
        return args.usageError(QStringLiteral("standard output takes WAV or FLAC (--to wav, --to flac)"));

    ConvertSettings settings;
    if (!args.number("gain", settings.gain, -120.0, 60.0) || !args.number("limit", settings.limitDb, -60.0, 0.0))
        return args.usageError();
    settings.hasLimit = args.has("limit");
    if (const auto stop = readFileSettings(args, kind, to.isEmpty() ? kind : out, settings))
        return *stop;

    CorrectionTarget target;
    if (args.has("correct"))
        if (const auto stop = readCorrectionTarget(args.value("correct"), target))
            return *stop;

    if (toDirectory)
        return convertMany(positional, out, to, args.optionArguments({ "to", "quiet" }));
    GainStage gain(settings);
    if (!args.has("correct"))
        return convertFile(settings, positional.first(), out, kind, gain);
    CorrectionStage correction(target, positional.first(), gain);
    return convertFile(settings, positional.first(), out, kind, correction);
}
