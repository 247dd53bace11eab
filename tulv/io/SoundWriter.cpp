#include "tulv/io/SoundWriter.h"

#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

SoundTools::Status SoundWriter::writeBuffer(std::shared_ptr<SoundBuffer> buffer, unsigned int tail)
{
    int from = buffer->getStartPoint();
    if (from > mRangeEnd)
        return SoundTools::Ok;
    // A block that starts after the next frame due is written straight after
    // the last frame written: the output has no gap. A block that starts
    // before it skips the frames already written.
    if (from - mRangeStart > mCurrentOffset)
        mRangeStart = from - mCurrentOffset;
    else
        from = mRangeStart + mCurrentOffset;
    if (from > mRangeEnd)
        return SoundTools::Ok;
    if (buffer->getSampleRate() != mSampleRate) {
        setError(QStringLiteral("SoundWriter::WriteBuffer : Samplerate conversion not implemented"), nullptr);
        return SoundTools::Error;
    }
    if (buffer->getChannelNum() != getChannelNum()) {
        setError(QStringLiteral("SoundWriter::WriteBuffer : Incorrect number of channels"), nullptr);
        return SoundTools::Error;
    }
    long long count = (long long)buffer->getOrigin() + buffer->getFrameNB() - from - tail;
    if (from + count > mRangeEnd)
        count = (long long)mRangeEnd - from;
    if (count <= 0)
        return SoundTools::Ok;
    const unsigned int n = write(static_cast<unsigned int>(count), buffer->getFrame(from));
    mCurrentOffset += static_cast<int>(n);
    return n == count ? SoundTools::Ok : SoundTools::Error;
}

SoundWriter* SoundWriter::getFromFilename(QString fileName, unsigned int sampleRate, unsigned int bitRate,
                                          SoundTools::SoundFormat format)
{
    if (fileName.isEmpty())
        return nullptr;
    const QString ext = SoundReader::getExtension(fileName);
    if (ext.isEmpty())
        return nullptr;
    if (ext == QLatin1String("mp3"))
        return new SoundWriterMp3(sampleRate, 2, bitRate);
    SoundWriterSndfile::FileType type = SoundWriterSndfile::Raw;
    if (ext == QLatin1String("wav"))
        type = SoundWriterSndfile::Wav;
    else if (ext == QLatin1String("flac"))
        type = SoundWriterSndfile::Flac;
    else if (ext == QLatin1String("ogg"))
        type = SoundWriterSndfile::Ogg;
    return new SoundWriterSndfile(sampleRate, 2, format, type);
}

QString SoundWriter::partialFileName(const QString& fileName)
{
    // Unique per process and writer, so two writers never share a partial
    // file; hidden so that a directory listing does not show it as a result.
    static std::atomic<unsigned int> sCounter{0};
    const QFileInfo info(fileName);
    return info.path() + QStringLiteral("/.") + info.fileName()
        + QStringLiteral(".%1-%2.part").arg(QCoreApplication::applicationPid()).arg(++sCounter);
}

bool SoundWriter::commitPartialFile(const QString& partialName, const QString& fileName, bool keep)
{
    const QByteArray from = QFile::encodeName(partialName);
    if (!keep) {
        std::remove(from.constData());
        return true;
    }
    if (std::rename(from.constData(), QFile::encodeName(fileName).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        std::remove(from.constData());
        setError(QStringLiteral("cannot move the finished file to its name: ") + reason, fileName.toUtf8().constData());
        return false;
    }
    return true;
}
