#ifndef TULV_TESTS_SUPPORT_IOFILES_H
#define TULV_TESTS_SUPPORT_IOFILES_H

#include "tests/support/Common.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"

#include <QString>
#include <QStringList>

#include <vector>

// Files on disk for the input/output tests: peer tools, whole-file reads and
// writes through the public block interface, and signal comparisons.
namespace iotest {

// Interleaved stereo samples.
using Samples = std::vector<double>;
using testsupport::sine;

// Runs a peer tool; false (with its stderr in `error`) when it fails or
// takes longer than 5 minutes. A tool that is not installed is a test failure
// naming it, never a silent pass. sox gets -R: its dither and noise repeat.
bool runTool(const QString& program, const QStringList& arguments, QString* output = nullptr,
             QString* error = nullptr);

// Everything a reader delivers from its present position, through stereoRead
// in blocks of `block` frames.
Samples readAll(SoundReader& reader, unsigned int block = 4096);
// Opens `fileName` with the factory's reader and reads it all; false when the
// factory or open fails.
bool readFile(const QString& fileName, Samples& samples, unsigned int* rate = nullptr);
// Writes interleaved stereo samples through writeBuffer in blocks of `block`.
SoundTools::Status writeAll(SoundWriter& writer, const Samples& samples, unsigned int rate, unsigned int block = 4096);
// Factory writer, open, write, close. False on any failure.
bool writeFile(const QString& fileName, const Samples& samples, unsigned int rate, SoundTools::SoundFormat format,
               unsigned int bitRate = 128);

// The largest |a[i] - factor * b[i]|; infinite when the lengths differ.
double maxDifference(const Samples& a, const Samples& b, double factor = 1.0);
// Normalised correlation of one channel (0 left, 1 right) of two signals,
// over their common length.
double correlation(const Samples& a, const Samples& b, int channel);

// A small file's bytes, written whole or read whole (empty when unreadable).
bool writeBytes(const QString& fileName, const QByteArray& bytes);
QByteArray readBytes(const QString& fileName);

// An 8-bit mono WAV declaring `frames` frames whose data is a hole in a
// sparse file: long files at no cost in disk space.
bool writeSparseWav(const QString& fileName, quint32 frames, quint32 rate);

} // namespace iotest

#endif
