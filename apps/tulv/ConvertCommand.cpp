#include "Arguments.h"
#include "Commands.h"
#include "ConvertChecks.h"
#include "Formats.h"
#include "Interrupt.h"
#include "OpenInput.h"
#include "Pass.h"
#include "SplitJob.h"
#include "StagedOutput.h"

#include <tulv/tulv.h>

#include <QFileInfo>

namespace {

const CommandSpec kSpec = {
    "convert",
    R"(Usage: tulv convert IN OUT [OPTIONS]

Converts any readable sound file (WAV, FLAC, Ogg Vorbis, AIFF, MP3) to any
writable one. The container follows OUT's extension: .wav, .flac, .ogg, .mp3,
.aiff (or .aif), or .raw for a headerless file of 32-bit floats; any other
extension is refused. Every tag and the front cover of IN are carried over
unless overridden. A mono IN gives a mono OUT; of an IN with more than two
channels, the first two are kept (with a warning).
)",
    {
        { "format", "F", "sample format of OUT: int8, int16, int24, int32, float,\n"
                         "double; refused when OUT's container cannot hold it\n"
                         "(default: IN's own, or the nearest OUT holds)" },
        { "bitrate", "KBPS", "MP3 bit rate in kbit/s: 8, 16, 24, 32, 40, 48, 56, 64,\n"
                             "80, 96, 112, 128, 144, 160, 192, 224, 256 or 320 (default 192)" },
        { "start", "S", "begin S seconds into IN (default 0)" },
        { "end", "S", "stop S seconds into IN (default: the end)" },
        { "gain", "DB", "amplify by DB decibels (default 0: the samples unchanged)" },
        { "limit", "DB", "put a look-ahead limiter with its ceiling at DB dBFS on the\n"
                         "output, so that a gain cannot clip (e.g. --limit -0.3)" },
        { "tag", "KEY=VALUE", "set a tag: title, artist, album, year, track (3 or 3/12),\n"
                              "disc, genre, comment, albumartist, or any other name\n"
                              "(REPLAYGAIN_TRACK_GAIN, ...). Repeat a KEY for several\n"
                              "values; an empty VALUE removes it; cover= removes the cover", true },
        { "cover", "FILE", "set the front cover from an image file" },
        { "no-dither", nullptr, "round to 16 or 8 bits without the triangular dither added\n"
                               "by default when IN has more resolution" },
        { "strict", nullptr, "refuse a truncated IN instead of converting the frames\n"
                             "present" },
        { "q,quiet", nullptr, "no progress report" },
    },
    R"(OUT is written under a temporary name and renamed when complete: an error or
Ctrl-C leaves no partial file, and OUT may even be IN itself.
Warnings on stderr say what the conversion could not keep: samples clipped at
full scale, NaN or infinite samples (written as silence), channels left out,
frames missing from a truncated IN, a sample rate the MP3 encoder changed.
)",
};

const unsigned int kDefaultBitrate = 192;

} // namespace

int runConvert(const QStringList& arguments)
{
    Arguments args(kSpec);
    if (const auto stop = args.parse(arguments))
        return *stop;
    if (args.positional().size() != 2)
        return args.usageError(args.positional().size() < 2 ? QStringLiteral("needs IN and OUT")
                                                           : QStringLiteral("takes exactly IN and OUT"));
    const QString in = args.positional().at(0);
    const QString out = args.positional().at(1);

    double start = 0.0, end = 0.0, gain = 0.0, limitDb = 0.0;
    int bitrate = int(kDefaultBitrate);
    if (!args.number("start", start, 0.0, 1e7) || !args.number("end", end, 0.0, 1e7)
        || !args.number("gain", gain, -120.0, 60.0) || !args.number("limit", limitDb, -60.0, 0.0)
        || !args.integer("bitrate", bitrate, 8, 320))
        return args.usageError();
    if (args.has("end") && end <= start)
        return args.usageError(QStringLiteral("--end must lie after --start"));
    SoundTools::SoundFormat format = SoundTools::Int16;
    if (args.has("format") && !parseSampleFormat(args.value("format"), format))
        return args.usageError(QStringLiteral("unknown sample format '%1' (int8, int16, int24, int32, float, double)")
                                   .arg(args.value("format")));
    QString problem;
    if (!checkOutputChoice(out, args.has("format") ? &format : nullptr, args.has("bitrate") ? &bitrate : nullptr,
                           problem))
        return args.usageError(problem);
    SoundIDTag overrides;
    if (!applyTagOverrides(args.values("tag"), true, overrides, problem)
        || (args.has("cover") && !loadCover(args.value("cover"), overrides, problem)))
        return args.usageError(problem);
    const bool quiet = args.has("quiet");
    const bool strict = args.has("strict");

    QString reason;
    std::unique_ptr<SoundReader> reader = openInput(in, reason);
    if (!reader) {
        printError(QStringLiteral("cannot open '%1': %2").arg(in, reason));
        return ExitFailed;
    }
    if (!checkTruncation(in, *reader, strict))
        return ExitFailed;
    const long long missingAtOpen = reader->getMissingFrames();
    const double length = reader->getLength();
    if (start >= length && length > 0) {
        printError(QStringLiteral("cannot convert '%1': --start %2 lies beyond its end (%3)")
                       .arg(in)
                       .arg(start)
                       .arg(QString::fromStdString(reader->getLengthString())));
        return ExitFailed;
    }
    if (!args.has("format"))
        format = defaultOutputFormat(out, reader->getInputFormat());
    const unsigned int channels = outputChannels(in, *reader);

    reader->setStartPoint(start);
    reader->setEndPoint(args.has("end") ? end : 0.0);
    reader->rewind();
    const unsigned int firstFrame = unsigned(reader->getStartOffset());
    unsigned int lastFrame = reader->getFrameNB();
    if (args.has("end"))
        lastFrame = std::min(lastFrame, unsigned(reader->getEndOffset()));
    const unsigned int frames = lastFrame > firstFrame ? lastFrame - firstFrame : 0;

    StagedFile staged(out);
    if (!staged.check(reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(out, reason));
        return ExitFailed;
    }
    const unsigned int rate = reader->getSampleRate();
    std::unique_ptr<SoundWriter> writer(
        SoundWriter::getFromFilename(staged.tempPath(), rate, unsigned(bitrate), format, channels));
    if (writer) {
        writer->setExpectedFrames(frames);
        writer->setDither(!args.has("no-dither") && needsDither(out, reader->getInputFormat(), format));
    }
    QString before = SoundDebuggableClass::getError();
    if (!writer || writer->open(staged.tempPath()) != SoundTools::Ok) {
        printError(QStringLiteral("cannot write '%1': %2").arg(out, libraryReason(before, QStringLiteral("the format cannot be written"))));
        return ExitFailed;
    }

    SoundIDTag tags;
    reader->getTags(tags);
    applyTagOverrides(args.values("tag"), true, tags, problem);
    if (args.has("cover")) {
        tags.coverData = overrides.coverData;
        tags.coverMimeType = overrides.coverMimeType;
    }
    if (!tags.coverData.isEmpty() && !coverFits(tags, out)) {
        printWarning(QStringLiteral("the %1-byte cover is too large for %2 and is left out of '%3'")
                         .arg(tags.coverData.size())
                         .arg(containerName(out), out));
        tags.coverData.clear();
    }
    writer->setTags(tags);

    // An algorithm that looks ahead is flushed with zero frames past the end
    // of the source; they are not part of the sound.
    writer->setRange(int(firstFrame), int(lastFrame));

    AlgoRef<SoundAlgo> algo(buildOutputStage(gain, args.has("limit"), limitDb));
    before = SoundDebuggableClass::getError();
    const PassResult result = runPass(QStringLiteral("converting"), *algo, *reader, writer.get(), frames, quiet);
    writer->close();
    const bool reported =
        result != PassResult::Done || reportConversion(in, out, *reader, missingAtOpen, *writer, strict);
    writer.reset();
    if (!reported) {
        staged.discard();
        return ExitFailed;
    }
    if (result == PassResult::Interrupted) {
        staged.discard();
        printError(QStringLiteral("interrupted; '%1' not written").arg(out));
        return interrupt::exitCode();
    }
    if (result == PassResult::Failed || !QFileInfo::exists(staged.tempPath())) {
        staged.discard();
        printError(QStringLiteral("cannot write '%1': %2").arg(out, libraryReason(before, QStringLiteral("writing failed"))));
        return ExitFailed;
    }
    if (!staged.commit(reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(out, reason));
        return ExitFailed;
    }
    return ExitOk;
}
