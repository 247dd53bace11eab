#include "StagedOutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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
    if (access(QFile::encodeName(directory).constData(), W_OK | X_OK) != 0) {
        reason = QStringLiteral("directory '%1' is not writable: %2").arg(directory, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

StagedFile::StagedFile(QString finalPath)
    : mFinal(std::move(finalPath))
{
    const QFileInfo info(mFinal);
    const QString suffix = info.suffix();
    // ".name.tulv-<pid>.part.ext": hidden, unique per process, same extension.
    QString name = QStringLiteral(".%1.tulv-%2.part").arg(info.completeBaseName()).arg(QCoreApplication::applicationPid());
    if (!suffix.isEmpty())
        name += QLatin1Char('.') + suffix;
    mTemp = QDir(directoryOf(mFinal)).filePath(name);
}

StagedFile::~StagedFile()
{
    discard();
}

bool StagedFile::check(QString& reason) const
{
    if (QFileInfo(mFinal).isDir()) {
        reason = QStringLiteral("it is a directory");
        return false;
    }
    return writableDirectory(directoryOf(mFinal), reason);
}

bool StagedFile::commit(QString& reason)
{
    // rename(2) replaces the destination in one step: a reader of the final
    // name sees either the old file or the complete new one.
    if (std::rename(QFile::encodeName(mTemp).constData(), QFile::encodeName(mFinal).constData()) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    mCommitted = true;
    return true;
}

void StagedFile::discard()
{
    if (!mCommitted)
        QFile::remove(mTemp);
}

StagedDirectory::StagedDirectory(QString finalDir)
    : mFinal(std::move(finalDir))
{
}

StagedDirectory::~StagedDirectory()
{
    discard();
}

bool StagedDirectory::create(QString& reason)
{
    if (!writableDirectory(mFinal, reason))
        return false;
    mScratch = std::make_unique<QTemporaryDir>(QDir(mFinal).filePath(QStringLiteral(".tulv-split-XXXXXX")));
    if (!mScratch->isValid()) {
        reason = mScratch->errorString();
        mScratch.reset();
        return false;
    }
    return true;
}

QString StagedDirectory::path() const
{
    return mScratch ? mScratch->path() : QString();
}

bool StagedDirectory::commit(QStringList& finalPaths, QString& reason)
{
    if (!mScratch) {
        reason = QStringLiteral("nothing was written");
        return false;
    }
    const QDir scratch(mScratch->path());
    const QDir destination(mFinal);
    const QStringList names = scratch.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        const QString target = destination.filePath(name);
        if (std::rename(QFile::encodeName(scratch.filePath(name)).constData(), QFile::encodeName(target).constData()) != 0) {
            reason = QStringLiteral("cannot move '%1' into place: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        finalPaths << target;
    }
    return true;
}

void StagedDirectory::discard()
{
    // QTemporaryDir removes itself and whatever is left in it.
    mScratch.reset();
}
