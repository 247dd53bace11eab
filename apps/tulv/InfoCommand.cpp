#include "Arguments.h"
#include "Commands.h"
#include "Formats.h"
#include "OpenInput.h"

#include <tulv/tulv.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const CommandInfo kCommand = {
    "info",
    R"(Usage: tulv info [--json] FILE...

Shows, for each sound file: its container, sample format, sample rate,
channels, frames, length, tags and whether it carries a front cover.

A file that cannot be read gives one error line; the others are still shown,
and the exit status is then 1.
)",
    { { "json", nullptr, "print one JSON array with an object per readable file:\n"
                         "file, container, sampleFormat, sampleRate, channels,\n"
                         "frames, seconds, tags (name to text), cover (mimeType,\n"
                         "bytes; null when none)" } },
};

QString describe(const QString& fileName, SoundReader& reader)
{
    QString text;
    auto row = [&text](const char* label, const QString& value) {
        text += QStringLiteral("  %1 %2\n").arg(QString::fromLatin1(label).leftJustified(15), value);
    };
    text += fileName + QLatin1Char('\n');
    row("container:", containerName(fileName));
    row("sample format:", sampleFormatName(reader.getInputFormat()));
    row("sample rate:", QStringLiteral("%1 Hz").arg(reader.getSampleRate()));
    row("channels:", QString::number(reader.getFileChannelNum()));
    row("frames:", QString::number(reader.getFrameNB()));
    if (reader.getMissingFrames() > 0)
        row("truncated:", QStringLiteral("%1 frames missing").arg(reader.getMissingFrames()));
    row("length:", QString::fromStdString(reader.getLengthString()));
    SoundIDTag tags;
    reader.getTags(tags);
    const QStringList lines = describeTags(tags);
    if (lines.isEmpty())
        row("tags:", QStringLiteral("none"));
    for (int i = 0; i < lines.size(); ++i)
        row(i == 0 ? "tags:" : "", lines.at(i));
    if (tags.coverData.isEmpty())
        row("cover:", QStringLiteral("none"));
    else
        row("cover:", QStringLiteral("%1, %2 bytes")
                          .arg(tags.coverMimeType.empty() ? QStringLiteral("image") : QString::fromStdString(tags.coverMimeType))
                          .arg(tags.coverData.size()));
    return text;
}

QJsonObject describeJson(const QString& fileName, SoundReader& reader)
{
    QJsonObject object;
    object[QStringLiteral("file")] = fileName;
    object[QStringLiteral("container")] = containerName(fileName);
    object[QStringLiteral("sampleFormat")] = sampleFormatName(reader.getInputFormat());
    object[QStringLiteral("sampleRate")] = qint64(reader.getSampleRate());
    int channels = 2;
    if (auto* sndfile = dynamic_cast<SoundReaderSndfile*>(&reader))
        channels = sndfile->getFileChannelNum();
    object[QStringLiteral("channels")] = channels;
    object[QStringLiteral("frames")] = qint64(reader.getFrameNB());
    object[QStringLiteral("seconds")] = reader.getLength();
    SoundIDTag tags;
    reader.getTags(tags);
    QJsonObject tagObject;
    for (const QString& line : describeTags(tags)) {
        const int colon = line.indexOf(QLatin1String(": "));
        tagObject[line.left(colon)] = line.mid(colon + 2);
    }
    object[QStringLiteral("tags")] = tagObject;
    if (tags.coverData.isEmpty())
        object[QStringLiteral("cover")] = QJsonValue::Null;
    else
        object[QStringLiteral("cover")] = QJsonObject{ { QStringLiteral("mimeType"), QString::fromStdString(tags.coverMimeType) },
                                                       { QStringLiteral("bytes"), tags.coverData.size() } };
    return object;
}

} // namespace

int runInfo(const QStringList& arguments)
{
    Arguments args(kCommand);
    if (const auto stop = args.parse(arguments))
        return *stop;
    if (args.positional().isEmpty())
        return args.usageError(QStringLiteral("no file given"));
    const bool json = args.has("json");
    QJsonArray described;
    int status = ExitOk;
    bool first = true;
    for (const QString& fileName : args.positional()) {
        QString reason;
        std::unique_ptr<SoundReader> reader = openInput(fileName, reason);
        if (!reader) {
            printError(QStringLiteral("cannot open '%1': %2").arg(fileName, reason));
            status = ExitFailed;
            continue;
        }
        if (json) {
            described.append(describeJson(fileName, *reader));
            continue;
        }
        printOut((first ? QString() : QStringLiteral("\n")) + describe(fileName, *reader));
        first = false;
    }
    if (json)
        printOut(QString::fromUtf8(QJsonDocument(described).toJson(QJsonDocument::Indented)));
    return status;
}
