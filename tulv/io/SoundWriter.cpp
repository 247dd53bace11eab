#include "tulv/io/SoundWriter.h"

#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"



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

bool SoundWriter::finishOutput(SoundOutputFile& output, bool keep, const QString& fileName)
{
    if (!keep) {
        output.discard();
        return true;
    }
    QString reason;
    if (!output.commit(reason)) {
        setError(QStringLiteral("cannot move the finished file to its name: ") + reason, fileName.toUtf8().constData());
        return false;
    }
    return true;
}
