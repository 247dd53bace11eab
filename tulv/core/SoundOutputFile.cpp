#include "tulv/core/SoundOutputFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

// Chains of links longer than this are loops, as the kernel counts them.
const int kMaxLinkDepth = 40;

QString followLinks(const QString& fileName)
{
    QString path = fileName;
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        const QFileInfo info(path);
        if (!info.isSymLink())
            return path;
        // symLinkTarget is absolute, and given even when the target is missing.
        path = info.symLinkTarget();
    }
    return path;
}

bool isSpecialFile(const QString& path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
}

bool processRuns(long long processId)
{
    return processId > 0 && (::kill(pid_t(processId), 0) == 0 || errno == EPERM);
}

// The newest change inside a temporary (a directory's files change while
// its own time stays put).
QDateTime lastChange(const QFileInfo& info)
{
    QDateTime newest = info.lastModified();
    if (info.isDir()) {
        QDirIterator entries(info.filePath(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            entries.next();
            newest = std::max(newest, entries.fileInfo().lastModified());
        }
    }
    return newest;
}

} // namespace

SoundOutputFile::SoundOutputFile(const QString& fileName)
{
    if (fileName == QLatin1String("-")) {
        mTarget = mWritePath = fileName;
        mStandardOutput = true;
        return;
    }
    mTarget = followLinks(fileName);
    if (isSpecialFile(mTarget)) {
        mWritePath = mTarget;
        return;
    }
    mWritePath = temporaryNameFor(mTarget);
    mStaged = true;
}

SoundOutputFile::~SoundOutputFile()
{
    discard();
}

QString SoundOutputFile::temporaryNameFor(const QString& target)
{
    static std::atomic<unsigned int> sCounter{0};
    const QFileInfo info(target);
    QString name = QStringLiteral(".%1.tulv-%2-%3")
                       .arg(info.completeBaseName())
                       .arg(QCoreApplication::applicationPid())
                       .arg(++sCounter);
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    return QDir(info.path()).filePath(name);
}

bool SoundOutputFile::commit(QString& reason)
{
    if (mDone || !mStaged) {
        mDone = true;
        return true;
    }
    const QByteArray from = QFile::encodeName(mWritePath);
    const QByteArray to = QFile::encodeName(mTarget);
    // The replaced file's permissions stay: a file the user made read-only
    // for the group stays so after a conversion onto it.
    struct stat old;
    if (::stat(to.constData(), &old) == 0)
        ::chmod(from.constData(), old.st_mode & 07777);
    // rename(2) replaces the target in one step: a reader of the name sees
    // either the old file or the complete new one.
    if (std::rename(from.constData(), to.constData()) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        discard();
        return false;
    }
    mDone = true;
    return true;
}

void SoundOutputFile::discard()
{
    if (mDone)
        return;
    mDone = true;
    if (mStaged)
        std::remove(QFile::encodeName(mWritePath).constData());
}

bool SoundOutputFile::isTemporaryName(const QString& name, long long* processId)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.(?:.*\\.)?tulv-(\\d+)-\\w+(?:\\.[^.]+)?$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return false;
    if (processId)
        *processId = match.captured(1).toLongLong();
    return true;
}

int SoundOutputFile::removeStale(const QString& directory, int minimumAgeSeconds)
{
    int removed = 0;
    const QDateTime oldest = QDateTime::currentDateTime().addSecs(-minimumAgeSeconds);
    const QFileInfoList entries =
        QDir(directory).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo& entry : entries) {
        long long processId = 0;
        if (entry.isSymLink() || !isTemporaryName(entry.fileName(), &processId))
            continue;
        if (processId == QCoreApplication::applicationPid() || processRuns(processId) || lastChange(entry) > oldest)
            continue;
        const bool gone = entry.isDir() ? QDir(entry.filePath()).removeRecursively() : QFile::remove(entry.filePath());
        removed += gone ? 1 : 0;
    }
    return removed;
}
