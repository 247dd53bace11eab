#include "tests/support/IoFiles.h"

#include "tulv/core/SoundBuffer.h"

#include <QDataStream>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace iotest {

bool runTool(const QString& program, const QStringList& arguments, QString* output, QString* error)
{
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        ADD_FAILURE() << program.toStdString() << " is not installed";
        return false;
    }
    QProcess process;
    process.start(program, program == "sox" ? QStringList { "-R" } + arguments : arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished(1000);
        if (error)
            *error = QStringLiteral("%1 did not run to completion").arg(program);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (error)
        *error = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

Samples readAll(SoundReader& reader, unsigned int block)
{
    Samples out;
    auto buffer = SoundBuffer::createNew(reader.getSampleRate());
    buffer->alloc(block, 2, 1, 1);
    buffer->setOrigin(reader.getOffset());
    while (!reader.atEnd()) {
        const unsigned int n = reader.stereoRead(buffer, 0);
        const double* p = buffer->getRelFrame(0);
        out.insert(out.end(), p, p + size_t(n) * 2);
        if (n == 0)
            break;
    }
    return out;
}

bool readFile(const QString& fileName, Samples& samples, unsigned int* rate)
{
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(fileName));
    if (!reader || reader->open(fileName) != SoundTools::Ok)
        return false;
    samples = readAll(*reader);
    if (rate)
        *rate = reader->getSampleRate();
    return true;
}

SoundTools::Status writeAll(SoundWriter& writer, const Samples& samples, unsigned int rate, unsigned int block)
{
    auto buffer = SoundBuffer::createNew(rate);
    buffer->alloc(block, 2, 1, 1);
    const size_t frames = samples.size() / 2;
    for (size_t at = 0; at < frames; at += block) {
        const unsigned int n = static_cast<unsigned int>(std::min<size_t>(block, frames - at));
        buffer->setOrigin(static_cast<int>(at));
        buffer->setFrameNB(n);
        std::copy_n(samples.data() + 2 * at, 2 * size_t(n), buffer->getRelFrame(0));
        const SoundTools::Status status = writer.writeBuffer(buffer, 0);
        if (status != SoundTools::Ok)
            return status;
    }
    return SoundTools::Ok;
}

bool writeFile(const QString& fileName, const Samples& samples, unsigned int rate, SoundTools::SoundFormat format,
               unsigned int bitRate)
{
    std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(fileName, rate, bitRate, format));
    if (writer)
        writer->setExpectedFrames((long long)samples.size() / 2);
    if (!writer || writer->open(fileName) != SoundTools::Ok)
        return false;
    const bool ok = writeAll(*writer, samples, rate) == SoundTools::Ok;
    writer->close();
    return ok;
}

double maxDifference(const Samples& a, const Samples& b, double factor)
{
    if (a.size() != b.size())
        return INFINITY;
    double worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::fabs(a[i] - factor * b[i]));
    return worst;
}

double correlation(const Samples& a, const Samples& b, int channel)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = size_t(channel); i < std::min(a.size(), b.size()); i += 2) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

bool writeBytes(const QString& fileName, const QByteArray& bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeSparseWav(const QString& fileName, quint32 frames, quint32 rate)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 padded = frames + (frames & 1);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + padded);
    out.writeRawData("WAVEfmt ", 8);
    // PCM, mono, the rate, a byte a frame in bytes per second and block align, 8 bits.
    out << quint32(16) << quint16(1) << quint16(1) << rate << rate << quint16(1) << quint16(8);
    out.writeRawData("data", 4);
    out << frames;
    return out.status() == QDataStream::Ok && file.resize(44 + qint64(padded));
}

} // namespace iotest
