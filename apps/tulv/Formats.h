#ifndef TULV_APPS_FORMATS_H
#define TULV_APPS_FORMATS_H

#include <tulv/tulv.h>

#include <QString>
#include <QStringList>

// Names the tool shows and accepts for what the library enumerates.

// "int16", "int24", "int32", "float", "double" (and "int8"); false when unknown.
bool parseSampleFormat(const QString& text, SoundTools::SoundFormat& format);
QString sampleFormatName(SoundTools::SoundFormat format);
// The container the writer factory picks for a file name: "WAV", "FLAC",
// "Ogg Vorbis", "MP3", or "raw" for any other extension.
QString containerName(const QString& fileName);
bool isMp3(const QString& fileName);

// Applies "KEY=VALUE" overrides to a tag record. KEY is any property name
// (case does not matter) or year, track, disc, albumartist; the first
// VALUE of a key replaces the input's values, later ones add values, an
// empty one removes the tag; "cover=" removes the cover. `allowTrack`
// admits the track. False with `error` on a malformed item.
bool applyTagOverrides(const QStringList& items, bool allowTrack, SoundIDTag& tags, QString& error);
// Sets the front cover from an image file. False with `error` when it cannot
// be read or is not an image.
bool loadCover(const QString& fileName, SoundIDTag& tags, QString& error);
// One line per set tag, "  title: ...", for info.
QStringList describeTags(const SoundIDTag& tags);

// "00:03:12.500"
QString timeText(double seconds);

#endif
