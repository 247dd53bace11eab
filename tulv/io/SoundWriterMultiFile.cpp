#include "tulv/io/SoundWriterMultiFile.h"

#include "tulv/core/TimeText.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace {

// Segments take the stream's stereo frames through writeFrames, which maps
// them to the segment's own channels and counts what it clips.
struct SegmentWrite {
    static unsigned int to(SoundWriter& segment, unsigned int count, double* frames)
    {
        return segment.writeFrames(count, frames, 2);
    }
};

// The longest stretch at the end of a gap held in memory while its quietest
// point is sought: gaps between tracks last seconds; the earlier part of a
// longer one goes to the track before it.
constexpr double kMaxHeldGapSeconds = 20.0;
// The quietest point of a gap is sought with windows of this length: short
// enough to find a dip between two clicks, long enough to span a bass cycle.
constexpr double kQuietWindowSeconds = 0.02;

// The cut in `count` interleaved stereo frames: the middle of the quietest
// window, the one nearest the middle when several are as quiet (a gap of
// digital silence is cut in its middle). Linear in `count`.
long long quietestPoint(const double* frames, long long count, unsigned int sampleRate)
{
    const long long window = std::max(1LL, std::min(count, (long long)std::floor(kQuietWindowSeconds * sampleRate + 0.5)));
    if (count <= window)
        return count / 2;
    auto power = [frames](long long i) { return frames[2 * i] * frames[2 * i] + frames[2 * i + 1] * frames[2 * i + 1]; };
    // Two passes: the smallest window sum, then the window nearest the
    // middle among those as quiet. A window's sum is recomputed from scratch
    // every `window` frames so that rounding cannot pile up.
    auto scan = [&](auto&& visit) {
        double sum = 0.0;
        for (long long start = 0; start + window <= count; ++start) {
            if (start % window == 0) {
                sum = 0.0;
                for (long long i = start; i < start + window; ++i)
                    sum += power(i);
            } else {
                sum += power(start + window - 1) - power(start - 1);
            }
            visit(start, sum);
        }
    };
    double least = -1.0;
    scan([&](long long, double sum) {
        if (least < 0.0 || sum < least)
            least = sum;
    });
    const double tolerance = least * 1e-6 + 1e-12 * double(window);
    long long best = 0;
    long long bestDistance = LLONG_MAX;
    scan([&](long long start, double sum) {
        const long long distance = std::llabs(start + window / 2 - count / 2);
        if (sum <= least + tolerance && distance < bestDistance) {
            bestDistance = distance;
            best = start + window / 2;
        }
    });
    return best;
}

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
    setForwarding(true);
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
    if (!mDetector && !mTrackMode) {
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
    if (mDetector)
        mCurrentRegion = mDetector->getRegion(0, false);
    mRegionCursor = 1;
    mTrack = 0;
    mOpenTrack = SIZE_MAX;
    mGap.clear();
    mFileStarts.clear();
    return SoundTools::Ok;
}

void SoundWriterMultiFile::setTracks(const std::vector<std::pair<long long, long long>>& tracks, double gapOffset,
                                     bool trimGaps)
{
    // In order and apart: a track that overlaps the one before it starts
    // where that one ends, and an empty one is no track.
    mTracks.clear();
    long long longestGap = 0;
    for (std::pair<long long, long long> track : tracks) {
        if (!mTracks.empty()) {
            track.first = std::max(track.first, mTracks.back().second);
            longestGap = std::max(longestGap, track.first - mTracks.back().second);
        }
        if (track.second > track.first)
            mTracks.push_back(track);
    }
    mTrackMode = true;
    mTrimGaps = trimGaps;
    mGapOffset = std::min(gapOffset, 1.0);
    mHeldFrames = std::min(longestGap, (long long)std::floor(kMaxHeldGapSeconds * mSampleRate + 0.5));
    if (!trimGaps && gapOffset < 0.0)
        mGap.reserve(size_t(mHeldFrames) * 2);
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
    // A stream that ends inside a held gap: the gap stays with its track.
    if (!mResolvingGap && !mGap.empty()) {
        mSegmentFrames += SegmentWrite::to(*mSegment, unsigned(mGap.size() / 2), mGap.data());
        mGap.clear();
    }
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
    return mTrackMode ? writeTracks(count, frames) : writeRegions(count, frames);
}

bool SoundWriterMultiFile::writeToTrack(size_t track, long long position, unsigned int count, double* frames)
{
    if (mOpenTrack != track || !mSegment) {
        close();
        if (OpenSegment() != SoundTools::Ok)
            return false;
        mOpenTrack = track;
        // Nothing is dropped from a track's file: it holds every frame from
        // its cut on, silence included.
        mSoundStarted = true;
        mFileStarts.push_back(position);
    }
    if (count == 0)
        return true;
    const unsigned int written = SegmentWrite::to(*mSegment, count, frames);
    mSegmentFrames += written;
    return written == count;
}

bool SoundWriterMultiFile::resolveGap()
{
    const long long count = (long long)(mGap.size() / 2);
    mResolvingGap = true;
    const long long cut = quietestPoint(mGap.data(), count, mSampleRate);
    const bool ok = writeToTrack(mTrack, mGapStart, unsigned(cut), mGap.data())
        && writeToTrack(mTrack + 1, mGapStart + cut, unsigned(count - cut), mGap.data() + 2 * cut);
    mResolvingGap = false;
    mGap.clear();
    return ok;
}

unsigned int SoundWriterMultiFile::writeTracks(unsigned int count, double* frames)
{
    const unsigned int width = getChannelNum();
    long long position = mCurrentOffset;
    unsigned int consumed = 0;
    // Per block: a comparison or two per track boundary crossed; per frame
    // only the copy of a gap held for its quietest point.
    while (count > 0) {
        while (mTrack + 1 < mTracks.size() && position >= mTracks[mTrack + 1].first)
            ++mTrack;
        long long n = count;
        if (mTracks.empty() || position >= mTracks.back().second) {
            close(); // the lead-out is left out
        } else if (position < mTracks.front().first) {
            n = std::min(n, mTracks.front().first - position); // the lead-in too
        } else if (position < mTracks[mTrack].second) {
            n = std::min(n, mTracks[mTrack].second - position);
            if (!writeToTrack(mTrack, position, unsigned(n), frames))
                return consumed;
        } else {
            const long long gapBegin = mTracks[mTrack].second;
            const long long gapEnd = mTracks[mTrack + 1].first;
            n = std::min(n, gapEnd - position);
            if (mTrimGaps) {
                close();
            } else if (mGapOffset >= 0.0) {
                const long long cut = gapBegin + (long long)std::floor(mGapOffset * double(gapEnd - gapBegin) + 0.5);
                const size_t track = position < cut ? mTrack : mTrack + 1;
                if (position < cut)
                    n = std::min(n, cut - position);
                if (!writeToTrack(track, position, unsigned(n), frames))
                    return consumed;
            } else {
                const long long held = std::max(gapBegin, gapEnd - mHeldFrames);
                if (position < held) {
                    n = std::min(n, held - position);
                    if (!writeToTrack(mTrack, position, unsigned(n), frames))
                        return consumed;
                } else {
                    if (mGap.empty())
                        mGapStart = position;
                    mGap.insert(mGap.end(), frames, frames + size_t(n) * width);
                    if (position + n == gapEnd && !resolveGap()) {
                        // The frames of the gap were taken; the failure is
                        // the back end's, reported by the short count.
                        return consumed;
                    }
                }
            }
        }
        consumed += unsigned(n);
        position += n;
        frames += size_t(n) * width;
        count -= unsigned(n);
    }
    return consumed;
}

unsigned int SoundWriterMultiFile::writeRegions(unsigned int count, double* frames)
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
