#include "Formats.h"

#include <cmath>

namespace {

struct FormatName {
    const char* name;
    SoundTools::SoundFormat format;
};

const FormatName kFormats[] = {
    { "int8", SoundTools::Int8 },     { "int16", SoundTools::Int16 }, { "int24", SoundTools::Int24 },
    { "int32", SoundTools::Int32 },   { "float", SoundTools::Float32 }, { "double", SoundTools::Float64 },
};

} // namespace

bool parseSampleFormat(const QString& text, SoundTools::SoundFormat& format)
{
    const QString lower = text.toLower();
    for (const FormatName& entry : kFormats) {
        if (lower == QLatin1String(entry.name)) {
            format = entry.format;
            return true;
        }
    }
    if (lower == QLatin1String("float32")) {
        format = SoundTools::Float32;
        return true;
    }
    if (lower == QLatin1String("float64")) {
        format = SoundTools::Float64;
        return true;
    }
    return false;
}

QString sampleFormatName(SoundTools::SoundFormat format)
{
    for (const FormatName& entry : kFormats)
        if (entry.format == format)
            return QLatin1String(entry.name);
    return QStringLiteral("unknown");
}

QString containerName(const QString& fileName)
{
    const QString extension = SoundReader::getExtension(fileName).toLower();
    if (extension == QLatin1String("wav"))
        return QStringLiteral("WAV");
    if (extension == QLatin1String("flac"))
        return QStringLiteral("FLAC");
    if (extension == QLatin1String("ogg"))
        return QStringLiteral("Ogg Vorbis");
    if (extension == QLatin1String("mp3"))
        return QStringLiteral("MP3");
    return QStringLiteral("raw");
}

bool isMp3(const QString& fileName)
{
    return SoundReader::getExtension(fileName).toLower() == QLatin1String("mp3");
}

bool applyTagOverrides(const QStringList& items, bool allowTrack, SoundIDTag& tags, QString& error)
{
    for (const QString& item : items) {
        const int equals = item.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            error = QStringLiteral("'--tag %1' is not KEY=VALUE").arg(item);
            return false;
        }
        const QString key = item.left(equals).trimmed().toLower();
        const std::string value = item.mid(equals + 1).toStdString();
        std::string* field = nullptr;
        if (key == QLatin1String("title"))
            field = &tags.title;
        else if (key == QLatin1String("artist"))
            field = &tags.artist;
        else if (key == QLatin1String("album"))
            field = &tags.album;
        else if (key == QLatin1String("year"))
            field = &tags.year;
        else if (key == QLatin1String("genre"))
            field = &tags.genre;
        else if (key == QLatin1String("comment"))
            field = &tags.comment;
        else if (key == QLatin1String("track") && allowTrack)
            field = &tags.track;
        if (!field) {
            error = QStringLiteral("unknown tag '%1' (known: title, artist, album, year, genre, comment%2)")
                        .arg(key, allowTrack ? QStringLiteral(", track") : QString());
            return false;
        }
        if ((field == &tags.year || field == &tags.track) && !value.empty()) {
            bool ok = false;
            const int number = QString::fromStdString(value).toInt(&ok);
            if (!ok || number < 0) {
                error = QStringLiteral("tag '%1' needs a whole number, not '%2'").arg(key, QString::fromStdString(value));
                return false;
            }
        }
        *field = value;
    }
    return true;
}

QStringList describeTags(const SoundIDTag& tags)
{
    QStringList lines;
    auto add = [&lines](const char* key, const std::string& value, bool number) {
        if (value.empty() || (number && value == "0"))
            return;
        lines << QStringLiteral("%1: %2").arg(QLatin1String(key), QString::fromStdString(value));
    };
    add("title", tags.title, false);
    add("artist", tags.artist, false);
    add("album", tags.album, false);
    add("year", tags.year, true);
    add("track", tags.track, true);
    add("genre", tags.genre, false);
    add("comment", tags.comment, false);
    return lines;
}

QString timeText(double seconds)
{
    if (seconds < 0)
        seconds = 0;
    const long millis = std::lround(seconds * 1000.0);
    const long hours = millis / 3600000;
    const long minutes = (millis / 60000) % 60;
    const double secs = (millis % 60000) / 1000.0;
    return QStringLiteral("%1:%2:%3")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(secs, 6, 'f', 3, QLatin1Char('0'));
}
