#include "tulv/io/SoundWriterMultiFile.h"

#include "tulv/core/TimeText.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('_') || c == QLatin1Char('-') || c == QLatin1Char(' ');
}

} // namespace

SoundWriterMultiFile::SoundWriterMultiFile(RMSStepDetector* detector, double minDurationSeconds,
                                           unsigned int sampleRate, unsigned int channelNum, unsigned int bitRate,
                                           SoundTools::SoundFormat format)
    : SoundWriter(sampleRate)
    , mChannelNum(channelNum)
    , mBitRate(bitRate)
    , mDetector(detector)
    , mMinDuration(minDurationSeconds)
    , mFormat(format)
{
    if (mDetector) {
        mDetector->addRef();
        mCurrentRegion = mDetector->getRegion(0, false);
    }
}

SoundWriterMultiFile::~SoundWriterMultiFile()
{
    // A host that forgets the last close still gets its last file whole.
    close();
    if (mDetector) {
        mDetector->release();
    }
    if (isVerbose() && mSampleRate)
        getOStream() << SoundTools::timeText(double(mFramesInClosedFiles) / mSampleRate) << " in " << GetWrittenFiles()
                     << " file(s) written" << std::endl;
}

SoundTools::Status SoundWriterMultiFile::open(QString name)
{
    mFullPath = name;
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    mDrive.clear();
    const int colon = path.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        mDrive = path.left(colon);
        path = path.mid(colon + 1);
    }
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    mDirectory = path.left(slash + 1);
    const QString file = path.mid(slash + 1);
    const int dot = file.lastIndexOf(QLatin1Char('.'));
    mBaseName = dot < 0 ? file : file.left(dot);
    mExtension = dot < 0 ? QString() : file.mid(dot + 1);
    if (mBaseName.isEmpty()) {
        setError(QStringLiteral("No file name to number the tracks from"), name.toUtf8().constData());
        return SoundTools::Error;
    }
    if (!mDetector) {
        setError(QStringLiteral("No detector to split along"), name.toUtf8().constData());
        return SoundTools::Error;
    }
    if (mChannelNum != 1 && mChannelNum != 2) {
        setError(QStringLiteral("%1 channels cannot be written; tracks are mono or stereo").arg(mChannelNum),
                 name.toUtf8().constData());
        return SoundTools::Error;
    }
    // The regions may have been analysed or merged since construction: the
    // walk starts from the list as it is now.
    mCurrentRegion = mDetector->getRegion(0, false);
    mRegionCursor = 1;
    return SoundTools::Ok;
}

QString SoundWriterMultiFile::getSegmentName(int number) const
{
    QString name;
    if (!mDrive.isEmpty())
        name += mDrive + QLatin1Char(':');
    name += mDirectory;
    if (!mBaseName.isEmpty()) {
        if (!mDirectory.isEmpty() && !mDirectory.endsWith(QLatin1Char('/')))
            name += QLatin1Char('/');
        // A leading track number sets the width and the separator: "01 Track"
        // numbers as "02 Track", "05_mix" as "02_mix".
        int digits = 0;
        QChar separator = QLatin1Char('-');
        int i = 0;
        for (; i < mBaseName.size(); ++i) {
            const QChar c = mBaseName.at(i);
            if (c.isDigit() && c.unicode() < 128)
                ++digits;
            else if (isSeparator(c))
                separator = c;
            else
                break;
        }
        if (digits == 0)
            digits = 3;
        name += QStringLiteral("%1").arg(number, digits, 10, QLatin1Char('0')) + separator + mBaseName.mid(i);
    }
    if (!mExtension.isEmpty())
        name += QLatin1Char('.') + mExtension;
    return name;
}

SoundTools::Status SoundWriterMultiFile::OpenSegment()
{
    if (mSegment)
        close();
    const QString name = getSegmentName(mFileNumber);
    mSegment = SoundWriter::getFromFilename(name, mSampleRate, mBitRate, mFormat, mChannelNum);
    if (!mSegment) {
        setError(QStringLiteral("No writer for this kind of file"), name.toUtf8().constData());
        return SoundTools::Error;
    }
    mSegment->setDither(getDither());
    // No track is longer than the whole stream.
    mSegment->setExpectedFrames(getExpectedFrames());
    if (!mTags.isEmpty()) {
        SoundIDTag tags = mTags;
        tags.track = std::to_string(mFileNumber);
        std::ostringstream title;
        title << mTags.title << ' ' << std::setw(2) << std::setfill('0') << mFileNumber;
        tags.title = title.str();
        mSegment->setTags(tags);
    }
    mSoundStarted = false;
    mSegmentFrames = 0;
    const SoundTools::Status status = mSegment->open(name);
    if (status != SoundTools::Ok) {
        // Nothing was created: the next run of sound tries the same number.
        delete mSegment;
        mSegment = nullptr;
    }
    return status;
}

void SoundWriterMultiFile::close()
{
    if (!mSegment)
        return;
    if (isVerbose() && mSampleRate)
        getOStream() << "File " << mFileNumber << " : " << SoundTools::timeText(double(mSegmentFrames) / mSampleRate)
                     << " written" << std::endl;
    mFramesInClosedFiles += mSegmentFrames;
    mSegment->close();
    addCounts(*mSegment);
    delete mSegment;
    mSegment = nullptr;
    ++mFileNumber;
}

long long SoundWriterMultiFile::runLength() const
{
    long long total = mCurrentRegion.length;
    const int regions = mDetector->size(false);
    for (int i = mRegionCursor; i < regions; ++i) {
        const RMSStepDetector::Region region = mDetector->getRegion(i, false);
        if (region.noise)
            break;
        total += region.length;
    }
    return total;
}

unsigned int SoundWriterMultiFile::write(unsigned int count, double* frames)
{
    if (!mDetector)
        return 0;
    const unsigned int width = getChannelNum();
    long long position = mCurrentOffset;
    unsigned int consumed = 0;
    // Per block: a few region look-ups under the detector's read lock, and
    // per frame only the scan for leading silence at the head of a file.
    while (count > 0) {
        long long n = std::min<long long>(count, (long long)mCurrentRegion.begin + mCurrentRegion.length - position);
        if (n <= 0) {
            if (mRegionCursor >= mDetector->size(false)) {
                // Past the last region: the rest belongs to it.
                n = count;
            } else {
                mCurrentRegion = mDetector->getRegion(mRegionCursor++, false);
                continue;
            }
        }
        unsigned int handled = static_cast<unsigned int>(n);
        if (mCurrentRegion.noise) {
            close();
        } else {
            if (!mSegment && double(runLength()) < mMinDuration * mSampleRate) {
                // Too short to be a track: dropped.
            } else {
                if (!mSegment && OpenSegment() != SoundTools::Ok)
                    return consumed;
                unsigned int skipped = 0;
                if (!mSoundStarted) {
                    while (skipped < handled && frames[size_t(skipped) * width] == 0.0
                           && frames[size_t(skipped) * width + width - 1] == 0.0)
                        ++skipped;
                    if (skipped < handled)
                        mSoundStarted = true;
                }
                const unsigned int rest = handled - skipped;
                if (rest > 0) {
                    const unsigned int written = mSegment->writeFrames(rest, frames + size_t(skipped) * width, width);
                    if (written < rest) {
                        handled = skipped + written;
                        mSegmentFrames += handled;
                        return consumed + handled;
                    }
                }
                mSegmentFrames += handled;
            }
        }
        consumed += handled;
        position += handled;
        frames += size_t(handled) * width;
        count -= handled;
    }
    return consumed;
}
