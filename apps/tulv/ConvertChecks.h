#ifndef TULV_APPS_CONVERTCHECKS_H
#define TULV_APPS_CONVERTCHECKS_H

#include <tulv/tulv.h>

#include <QString>

// What a conversion must refuse up front and must say afterwards: the
// container's limits, channels left out, truncated input, clipped and
// non-finite samples, resampling. Shared by convert and split.

// Prints "tulv: warning: <message>" on stderr: the job goes on.
void printWarning(const QString& message);

// Refuses an OUT the tool cannot write as asked: an unknown extension, a
// sample format its container does not hold, a bit rate MP3 does not
// define. Each message lists what is possible. `format` and `bitrate` are
// checked only when given.
bool checkOutputChoice(const QString& out, const SoundTools::SoundFormat* format, const int* bitrate,
                       QString& error);
// The sample format OUT gets when none is asked: the input's, or the
// nearest its container holds (said on stderr).
SoundTools::SoundFormat defaultOutputFormat(const QString& out, SoundTools::SoundFormat input);
// Whether rounding `input` to `output` samples loses resolution that
// dither should turn into noise: 16 or 8-bit PCM from a wider source.
bool needsDither(const QString& out, SoundTools::SoundFormat input, SoundTools::SoundFormat output);
// The channels OUT gets: the input's own, mono or stereo; a file of more
// channels keeps its first two, which is said.
unsigned int outputChannels(const QString& in, const SoundReader& reader);
// Says that IN is truncated. With `strict`, prints the error and returns
// false instead.
bool checkTruncation(const QString& in, const SoundReader& reader, bool strict);
// After the pass: frames that went missing while IN was read (false with
// `strict`: the output must then be discarded), and what OUT's writer
// counted (clipped and non-finite samples) and its encoder changed.
// Says what the MP3 encoder makes of the settings, known once the writer is
// open: a resampled rate, a bit rate that the output's sample rate lacks
// (refused when --bitrate asked for it). False: do not write.
bool checkEncoding(const QString& out, const SoundWriter& writer, unsigned int bitrate, bool bitrateGiven);
bool reportConversion(const QString& in, const QString& out, const SoundReader& reader, long long missingAtOpen,
                      const SoundWriter& writer, bool strict);

#endif
