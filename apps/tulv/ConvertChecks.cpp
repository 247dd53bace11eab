#include "ConvertChecks.h"

#include "Commands.h"
#include "Formats.h"

#include <algorithm>

namespace {

QString formatList(const std::vector<SoundTools::SoundFormat>& formats)
{
    QStringList names;
    for (SoundTools::SoundFormat format : formats)
        names << sampleFormatName(format);
    return names.join(QStringLiteral(", "));
}

int bitsOf(SoundTools::SoundFormat format)
{
    switch (format) {
    case SoundTools::Int8:
        return 8;
    case SoundTools::Int16:
        return 16;
    case SoundTools::Int24:
        return 24;
    case SoundTools::Int32:
        return 32;
    default:
        return 64; // floats: more resolution than any integer format here
    }
}

} // namespace

void printWarning(const QString& message)
{
    printError(QStringLiteral("warning: ") + message);
}

bool checkOutputChoice(const QString& out, const SoundTools::SoundFormat* format, const int* bitrate, QString& error)
{
    const QString extension = SoundReader::getExtension(out);
    const QStringList known = SoundWriter::writableExtensions();
    if (extension.isEmpty() || !known.contains(extension)) {
        error = QStringLiteral("%1 '%2' (tulv writes .%3; .raw is headerless 32-bit float)")
                    .arg(extension.isEmpty() ? QStringLiteral("no extension to choose the format by in")
                                             : QStringLiteral("unknown output type '.%1' of").arg(extension),
                         out, known.join(QStringLiteral(", .")));
        return false;
    }
    if (format) {
        const std::vector<SoundTools::SoundFormat> formats = SoundWriter::sampleFormats(out);
        if (formats.empty()) {
            error = QStringLiteral("--format does not apply to %1 output (its encoder chooses)").arg(containerName(out));
            return false;
        }
        if (std::find(formats.begin(), formats.end(), *format) == formats.end()) {
            error = QStringLiteral("%1 cannot hold %2 samples (it holds %3)")
                        .arg(containerName(out), sampleFormatName(*format), formatList(formats));
            return false;
        }
    }
    if (bitrate) {
        if (!isMp3(out)) {
            error = QStringLiteral("--bitrate applies to MP3 output only");
            return false;
        }
        const std::vector<unsigned int> rates = SoundWriterMp3::bitRates();
        if (std::find(rates.begin(), rates.end(), unsigned(*bitrate)) == rates.end()) {
            QStringList names;
            for (unsigned int rate : rates)
                names << QString::number(rate);
            error = QStringLiteral("MP3 has no bit rate of %1 kbit/s (it has %2)").arg(*bitrate).arg(names.join(QStringLiteral(", ")));
            return false;
        }
    }
    return true;
}

SoundTools::SoundFormat defaultOutputFormat(const QString& out, SoundTools::SoundFormat input)
{
    const std::vector<SoundTools::SoundFormat> formats = SoundWriter::sampleFormats(out);
    if (formats.empty() || std::find(formats.begin(), formats.end(), input) != formats.end())
        return input;
    // The widest format held that loses least: the largest not above the
    // input's resolution, else the smallest above it.
    SoundTools::SoundFormat chosen = formats.front();
    for (SoundTools::SoundFormat format : formats)
        if (bitsOf(format) <= bitsOf(input) && bitsOf(format) >= bitsOf(chosen))
            chosen = format;
    printWarning(QStringLiteral("%1 cannot hold %2 samples; '%3' is written as %4")
                     .arg(containerName(out), sampleFormatName(input), out, sampleFormatName(chosen)));
    return chosen;
}

bool needsDither(const QString& out, SoundTools::SoundFormat input, SoundTools::SoundFormat output)
{
    return !SoundWriter::sampleFormats(out).empty() && bitsOf(output) <= 16 && bitsOf(input) > bitsOf(output);
}

unsigned int outputChannels(const QString& in, const SoundReader& reader)
{
    const unsigned int channels = reader.getFileChannelNum();
    if (channels > 2)
        printWarning(QStringLiteral("'%1' has %2 channels; only the first two are kept").arg(in).arg(channels));
    return channels == 1 ? 1 : 2;
}

bool checkTruncation(const QString& in, const SoundReader& reader, bool strict)
{
    const long long missing = reader.getMissingFrames();
    if (missing <= 0)
        return true;
    if (strict) {
        printError(QStringLiteral("cannot convert '%1': truncated: %2 frames missing (without --strict the %3 "
                                  "frames present are converted)")
                       .arg(in)
                       .arg(missing)
                       .arg(reader.getFrameNB()));
        return false;
    }
    printWarning(QStringLiteral("'%1' is truncated: %2 frames missing; the %3 frames present are used")
                     .arg(in)
                     .arg(missing)
                     .arg(reader.getFrameNB()));
    return true;
}

bool reportConversion(const QString& in, const QString& out, const SoundReader& reader, long long missingAtOpen,
                      const SoundWriter& writer, bool strict)
{
    const long long cut = reader.getMissingFrames() - missingAtOpen;
    if (cut > 0) {
        const QString what = QStringLiteral("'%1' came up %2 frames short while it was read").arg(in).arg(cut);
        if (strict) {
            printError(QStringLiteral("cannot convert %1; '%2' not written").arg(what, out));
            return false;
        }
        printWarning(QStringLiteral("%1; '%2' holds the frames read").arg(what, out));
    }
    if (writer.getClippedSamples() > 0)
        printWarning(QStringLiteral("'%1': %2 samples clipped at full scale; lower --gain or add --limit")
                         .arg(out)
                         .arg(writer.getClippedSamples()));
    if (writer.getNonFiniteSamples() > 0) {
        const double rate = writer.getSampleRate() ? writer.getSampleRate() : 1.0;
        printWarning(QStringLiteral("'%1': %2 non-finite samples (NaN or infinity) written as silence, the first "
                                    "at %3")
                         .arg(out)
                         .arg(writer.getNonFiniteSamples())
                         .arg(timeText(writer.getFirstNonFiniteFrame() / rate)));
    }
    return true;
}

bool checkEncoding(const QString& out, const SoundWriter& writer, unsigned int bitrate, bool bitrateGiven)
{
    const auto* mp3 = dynamic_cast<const SoundWriterMp3*>(&writer);
    if (!mp3)
        return true;
    const unsigned int rate = mp3->getOutputSampleRate();
    if (rate && rate != mp3->getSampleRate())
        printWarning(QStringLiteral("the MP3 encoder resamples '%1' from %2 Hz to %3 Hz")
                         .arg(out)
                         .arg(mp3->getSampleRate())
                         .arg(rate));
    const unsigned int written = mp3->getOutputBitRate();
    if (written == 0 || written == bitrate)
        return true;
    // The lower sample rates have fewer bit rates: the encoder would quietly
    // take its nearest, which is not what an explicit --bitrate asked for.
    const QString what = QStringLiteral("MP3 at %1 Hz has no bit rate of %2 kbit/s").arg(rate).arg(bitrate);
    if (bitrateGiven) {
        printError(QStringLiteral("cannot write '%1': %2 (the nearest is %3)").arg(out, what).arg(written));
        return false;
    }
    printWarning(QStringLiteral("%1; '%2' is written at %3 kbit/s").arg(what, out).arg(written));
    return true;
}
