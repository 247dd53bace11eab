#ifndef TULV_APPS_STAGEDOUTPUT_H
#define TULV_APPS_STAGEDOUTPUT_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Output written under a temporary name next to its destination and renamed
// into place only when the job succeeded, so that a failed, interrupted or
// killed job never leaves a half-written file under a final name. The
// temporary name keeps the destination's extension, because the writer
// factory picks the container from it.
class StagedFile {
public:
    explicit StagedFile(QString finalPath);
    // Removes the temporary file unless it was committed.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    const QString& finalPath() const { return mFinal; }
    const QString& tempPath() const { return mTemp; }
    // False with `reason` when the destination's directory is missing or not
    // writable: checked before any work, so a long job does not fail at the end.
    bool check(QString& reason) const;
    // Atomically replaces the destination with the finished file.
    bool commit(QString& reason);
    void discard();

private:
    QString mFinal;
    QString mTemp;
    bool mCommitted = false;
};

// The same for a job that writes a set of files into one directory (the
// tracks of a split): they are written into a hidden scratch directory
// beside the destination and moved out one by one on success.
class StagedDirectory {
public:
    explicit StagedDirectory(QString finalDir);
    ~StagedDirectory();
    StagedDirectory(const StagedDirectory&) = delete;
    StagedDirectory& operator=(const StagedDirectory&) = delete;

    bool create(QString& reason);
    // Where the job writes; empty before create().
    QString path() const;
    // Moves every file of the scratch directory to the destination (replacing
    // files of the same name) and returns their final paths, sorted.
    bool commit(QStringList& finalPaths, QString& reason);
    void discard();

private:
    QString mFinal;
    std::unique_ptr<QTemporaryDir> mScratch;
};

// The directory a file is to be written into; "." for a bare name.
QString directoryOf(const QString& path);
// Whether `directory` exists and can be written to; `reason` names the problem.
bool writableDirectory(const QString& directory, QString& reason);

#endif
