#ifndef TULV_IO_SOUNDTAGS_H
#define TULV_IO_SOUNDTAGS_H

#include "tulv/io/SoundIDTag.h"

#include <QString>

// Tags and front cover through TagLib. All four are silent: a file TagLib
// cannot open reads as an empty record and is left unchanged on writing.

// WAV, FLAC, Ogg Vorbis and anything else TagLib recognises. The front cover
// travels too where the container carries pictures (ID3v2 in WAV, FLAC
// picture blocks, Vorbis comment pictures).
SoundIDTag readFileTags(QString fileName);
void writeFileTags(const SoundIDTag& tags, QString fileName);

// Whether the container of `fileName` can hold the cover of `tags` (a FLAC
// picture block holds at most 16 MiB). The writers leave out a cover that
// does not fit, with a warning, rather than write a file decoders refuse.
bool coverFits(const SoundIDTag& tags, QString fileName);

// MPEG files, with the front cover in the ID3v2 tag.
SoundIDTag readMp3Tags(QString fileName);
void writeMp3Tags(const SoundIDTag& tags, QString fileName);

#endif
