#include "Formats.h"

#include <QFile>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>

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
    if (extension == QLatin1String("aiff") || extension == QLatin1String("aif"))
        return QStringLiteral("AIFF");
    return QStringLiteral("raw");
}

bool isMp3(const QString& fileName)
{
    return SoundReader::getExtension(fileName).toLower() == QLatin1String("mp3");
}

namespace {

// Short names the tool accepts for TagLib's property names.
struct TagAlias {
    const char* alias;
    const char* key;
};

const TagAlias kTagAliases[] = {
    { "year", "DATE" },         { "track", "TRACKNUMBER" },     { "disc", "DISCNUMBER" },
    { "albumartist", "ALBUMARTIST" }, { "album_artist", "ALBUMARTIST" },
};

QString propertyKey(const QString& name)
{
    for (const TagAlias& alias : kTagAliases)
        if (name.compare(QLatin1String(alias.alias), Qt::CaseInsensitive) == 0)
            return QLatin1String(alias.key);
    return name.toUpper();
}

// A date or year, or a number with an optional total ("3/12").
bool validValue(const QString& key, const QString& value)
{
    if (key == QLatin1String("DATE"))
        return QRegularExpression(QStringLiteral("^\\d{4}(-\\d{2}(-\\d{2})?)?$")).match(value).hasMatch();
    if (key == QLatin1String("TRACKNUMBER") || key == QLatin1String("DISCNUMBER"))
        return QRegularExpression(QStringLiteral("^\\d+(/\\d+)?$")).match(value).hasMatch();
    return true;
}

} // namespace

bool applyTagOverrides(const QStringList& items, bool allowTrack, SoundIDTag& tags, QString& error)
{
    // Edits of the text fields so far become properties, so that the
    // overrides below and the fields agree.
    tags.properties = tags.mergedProperties();
    QSet<QString> replaced;
    for (const QString& item : items) {
        const int equals = item.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            error = QStringLiteral("'--tag %1' is not KEY=VALUE").arg(item);
            return false;
        }
        const QString name = item.left(equals).trimmed();
        const QString value = item.mid(equals + 1);
        if (name.compare(QLatin1String("cover"), Qt::CaseInsensitive) == 0) {
            if (!value.isEmpty()) {
                error = QStringLiteral("'--tag cover=' only removes the cover; --cover FILE sets one");
                return false;
            }
            tags.coverData.clear();
            tags.coverMimeType.clear();
            continue;
        }
        const QString key = propertyKey(name);
        if (!QRegularExpression(QStringLiteral("^[A-Z0-9_ :.-]+$")).match(key).hasMatch()) {
            error = QStringLiteral("'%1' is not a tag name (letters, digits and _)").arg(name);
            return false;
        }
        if (key == QLatin1String("TRACKNUMBER") && !allowTrack) {
            error = QStringLiteral("the track tag is set for each file by the split itself");
            return false;
        }
        if (!value.isEmpty() && !validValue(key, value)) {
            error = QStringLiteral("tag '%1' needs %2, not '%3'")
                        .arg(name,
                             key == QLatin1String("DATE") ? QStringLiteral("a year or a date (1987, 1987-06-01)")
                                                          : QStringLiteral("a number or n/total (3, 3/12)"),
                             value);
            return false;
        }
        // The first value given replaces the input's; later ones add to it.
        std::vector<std::string>& values = tags.properties[key.toStdString()];
        if (!replaced.contains(key)) {
            values.clear();
            replaced.insert(key);
        }
        if (!value.isEmpty())
            values.push_back(value.toStdString());
        if (values.empty())
            tags.properties.erase(key.toStdString());
    }
    tags.updateFields();
    return true;
}

bool loadCover(const QString& fileName, SoundIDTag& tags, QString& error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the cover '%1': %2").arg(fileName, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    const QMimeType type = QMimeDatabase().mimeTypeForData(bytes);
    if (!type.name().startsWith(QLatin1String("image/"))) {
        error = QStringLiteral("the cover '%1' is not an image (%2)").arg(fileName, type.name());
        return false;
    }
    tags.coverData = bytes;
    tags.coverMimeType = type.name().toStdString();
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
    // Every other property, and a date or track that says more than the
    // lines above (a full date, a total).
    for (const auto& entry : tags.properties) {
        const QString key = QString::fromStdString(entry.first);
        QStringList values;
        for (const std::string& value : entry.second)
            values << QString::fromStdString(value);
        const QString text = values.join(QStringLiteral("; "));
        static const QStringList shown = { "TITLE", "ARTIST", "ALBUM", "GENRE", "COMMENT" };
        if (shown.contains(key) || (key == QLatin1String("DATE") && text == QString::fromStdString(tags.year))
            || (key == QLatin1String("TRACKNUMBER") && text == QString::fromStdString(tags.track)))
            continue;
        lines << QStringLiteral("%1: %2").arg(key.toLower(), text);
    }
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
