#include "Arguments.h"
#include "Commands.h"
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

Converts any readable sound file (WAV, FLAC, Ogg Vorbis, MP3) to any writable
one. The container follows OUT's extension: .wav, .flac, .ogg, .mp3, and any
other extension gives a headerless file of 32-bit floats. Tags and the front
cover of IN are carried over unless overridden.
)",
    {
        { "format", "F", "sample format of OUT: int16, int24, int32, float, double\n"
                         "(default: IN's own; not for MP3 or Ogg Vorbis)" },
        { "bitrate", "KBPS", "MP3 bit rate in kbit/s, 8 to 320 (default 192)" },
        { "start", "S", "begin S seconds into IN (default 0)" },
        { "end", "S", "stop S seconds into IN (default: the end)" },
        { "gain", "DB", "amplify by DB decibels (default 0: the samples unchanged)" },
        { "limit", "DB", "put a look-ahead limiter with its ceiling at DB dBFS on the\n"
                         "output, so that a gain cannot clip (e.g. --limit -0.3)" },
        { "tag", "KEY=VALUE", "set a tag (title, artist, album, year, genre, comment,\n"
                              "track); an empty VALUE removes it; may be repeated", true },
        { "q,quiet", nullptr, "no progress report" },
    },
    R"(OUT is written under a temporary name and renamed when complete: an error or
Ctrl-C leaves no partial file, and OUT may even be IN itself.
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
        return args.usageError(QStringLiteral("unknown sample format '%1' (int16, int24, int32, float, double)")
                                   .arg(args.value("format")));
    if (args.has("format") && (isMp3(out) || containerName(out) == QLatin1String("Ogg Vorbis")))
        return args.usageError(QStringLiteral("--format does not apply to %1 output").arg(containerName(out)));
    if (args.has("bitrate") && !isMp3(out))
        return args.usageError(QStringLiteral("--bitrate applies to MP3 output only"));
    if (SoundReader::getExtension(out).isEmpty())
        return args.usageError(QStringLiteral("OUT needs an extension to choose its format by (.wav, .flac, .ogg, .mp3)"));
    SoundIDTag overrides;
    QString tagError;
    if (!applyTagOverrides(args.values("tag"), true, overrides, tagError))
        return args.usageError(tagError);
    const bool quiet = args.has("quiet");

    QString reason;
    std::unique_ptr<SoundReader> reader = openInput(in, reason);
    if (!reader) {
        printError(QStringLiteral("cannot open '%1': %2").arg(in, reason));
        return ExitFailed;
    }
    const double length = reader->getLength();
    if (start >= length && length > 0) {
        printError(QStringLiteral("cannot convert '%1': --start %2 lies beyond its end (%3)")
                       .arg(in)
                       .arg(start)
                       .arg(QString::fromStdString(reader->getLengthString())));
        return ExitFailed;
    }
    if (!args.has("format"))
        format = reader->getInputFormat();

    StagedFile staged(out);
    if (!staged.check(reason)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(out, reason));
        return ExitFailed;
    }
    const unsigned int rate = reader->getSampleRate();
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(staged.tempPath(), rate, unsigned(bitrate), format));
    QString before = SoundDebuggableClass::getError();
    if (!writer || writer->open(staged.tempPath()) != SoundTools::Ok) {
        printError(QStringLiteral("cannot write '%1': %2").arg(out, libraryReason(before, QStringLiteral("the format cannot be written"))));
        return ExitFailed;
    }

    SoundIDTag tags;
    reader->getTags(tags);
    QString unused;
    applyTagOverrides(args.values("tag"), true, tags, unused);
    writer->setTags(tags);

    reader->setStartPoint(start);
    reader->setEndPoint(args.has("end") ? end : 0.0);
    reader->rewind();
    const unsigned int firstFrame = unsigned(reader->getStartOffset());
    unsigned int lastFrame = reader->getFrameNB();
    if (args.has("end"))
        lastFrame = std::min(lastFrame, unsigned(reader->getEndOffset()));
    const unsigned int frames = lastFrame > firstFrame ? lastFrame - firstFrame : 0;
    // An algorithm that looks ahead is flushed with zero frames past the end
    // of the source; they are not part of the sound.
    writer->setRange(int(firstFrame), int(lastFrame));

    AlgoRef<SoundAlgo> algo(buildOutputStage(gain, args.has("limit"), limitDb));
    before = SoundDebuggableClass::getError();
    const PassResult result = runPass(QStringLiteral("converting"), *algo, *reader, writer.get(), frames, quiet);
    writer->close();
    writer.reset();
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
