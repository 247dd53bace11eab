#include "Outputs.h"

#include <tulv/tulv.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray local(const QString& path)
{
    return QFile::encodeName(path);
}

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool moveFile(const QString& from, const QString& to)
{
    return std::rename(local(from).constData(), local(to).constData()) == 0;
}

} // namespace

QString directoryOf(const QString& path)
{
    const QString directory = QFileInfo(path).path();
    return directory.isEmpty() ? QStringLiteral(".") : directory;
}

bool writableDirectory(const QString& directory, QString& reason)
{
    const QFileInfo info(directory);
    if (!info.exists()) {
        reason = QStringLiteral("directory '%1' does not exist").arg(directory);
        return false;
    }
    if (!info.isDir()) {
        reason = QStringLiteral("'%1' is not a directory").arg(directory);
        return false;
    }
    if (access(local(directory).constData(), W_OK | X_OK) != 0) {
        reason = QStringLiteral("directory '%1' is not writable: %2").arg(directory, systemReason());
        return false;
    }
    return true;
}

bool makeDirectory(const QString& directory, QString& reason)
{
    const QFileInfo info(directory);
    if (info.isDir())
        return true;
    if (!info.exists() && !info.isSymLink()) {
        const QString parent = QFileInfo(QDir::cleanPath(info.absoluteFilePath())).path();
        if (parent != info.absoluteFilePath() && !makeDirectory(parent, reason))
            return false;
        if (::mkdir(local(directory).constData(), 0777) == 0 || errno == EEXIST)
            return true;
    }
    reason = info.exists() ? QStringLiteral("cannot create directory '%1': a file stands there").arg(directory)
                           : QStringLiteral("cannot create directory '%1': %2").arg(directory, systemReason());
    return false;
}

bool sameFile(const QString& a, const QString& b)
{
    struct stat first, second;
    return ::stat(local(a).constData(), &first) == 0 && ::stat(local(b).constData(), &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool checkOutput(const QString& out, const QString& input, bool mayBeInput, QString& reason)
{
    if (out == QLatin1String("-"))
        return true;
    if (QFileInfo(out).isDir()) {
        reason = QStringLiteral("it is a directory");
        return false;
    }
    if (!mayBeInput && sameFile(out, input)) {
        reason = QStringLiteral("it is the input '%1'").arg(input);
        return false;
    }
    const SoundOutputFile output(out);
    const QString directory = directoryOf(output.targetPath());
    if (!writableDirectory(directory, reason))
        return false;
    SoundOutputFile::removeStale(directory);
    return true;
}

TrackSet::TrackSet(QString directory)
    : mDirectory(std::move(directory))
{
}

TrackSet::~TrackSet()
{
    discard();
    if (mLock >= 0)
        ::close(mLock);
}

bool TrackSet::open(QString& reason)
{
    if (!makeDirectory(mDirectory, reason) || !writableDirectory(mDirectory, reason))
        return false;
    SoundOutputFile::removeStale(mDirectory);
    // The lock is on the directory itself: nothing to leave behind, and
    // the kernel lets it go when a killed split dies.
    mLock = ::open(local(mDirectory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mLock < 0 || ::flock(mLock, LOCK_EX | LOCK_NB) != 0) {
        reason = errno == EWOULDBLOCK
            ? QStringLiteral("another split is writing into '%1'; try again when it is done").arg(mDirectory)
            : QStringLiteral("cannot lock '%1': %2").arg(mDirectory, systemReason());
        return false;
    }
    mScratch = SoundOutputFile::temporaryNameFor(QDir(mDirectory).filePath(QStringLiteral("split")));
    if (::mkdir(local(mScratch).constData(), 0777) != 0) {
        reason = QStringLiteral("cannot create '%1': %2").arg(mScratch, systemReason());
        mScratch.clear();
        return false;
    }
    return true;
}

bool TrackSet::commit(QStringList& finalPaths, QString& reason)
{
    const QDir scratch(mScratch);
    const QDir destination(mDirectory);
    const QStringList names = scratch.entryList(QDir::Files, QDir::Name);
    // Each replaced file waits in the scratch directory until every track
    // is in place, so that a failure can put it back.
    struct Move {
        QString track, target, replaced;
    };
    std::vector<Move> done;
    bool ok = true;
    for (int i = 0; i < names.size() && ok; ++i) {
        Move move{ scratch.filePath(names.at(i)), destination.filePath(names.at(i)), QString() };
        if (QFileInfo(move.target).isFile()) {
            move.replaced = scratch.filePath(QStringLiteral(".replaced-%1").arg(i));
            if (!moveFile(move.target, move.replaced)) {
                reason = QStringLiteral("cannot replace '%1': %2").arg(move.target, systemReason());
                ok = false;
                break;
            }
        }
        if (!moveFile(move.track, move.target)) {
            reason = QStringLiteral("cannot move '%1' into place: %2").arg(move.target, systemReason());
            if (!move.replaced.isEmpty())
                moveFile(move.replaced, move.target);
            ok = false;
            break;
        }
        done.push_back(move);
    }
    if (!ok) {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            QFile::remove(it->target);
            if (!it->replaced.isEmpty())
                moveFile(it->replaced, it->target);
        }
        return false;
    }
    for (const Move& move : done)
        finalPaths << move.target;
    return true;
}

void TrackSet::discard()
{
    if (!mScratch.isEmpty())
        QDir(mScratch).removeRecursively();
    mScratch.clear();
}
