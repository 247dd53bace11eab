#ifndef TULV_CORE_SOUNDOUTPUTFILE_H
#define TULV_CORE_SOUNDOUTPUTFILE_H

#include <QString>

// Where the bytes of one output file go, so that nothing the user did not
// ask to write is ever replaced and a file is replaced only by a complete one:
// - a regular file, or a name not taken yet, is written under a hidden
//   temporary name beside it and renamed over it by commit (a failed, stopped
//   or killed job leaves the old file, or nothing, under the name);
// - a device node, FIFO or socket is written directly (it is not replaced);
// - a symbolic link is followed to its target, which is then treated as
//   above: the link stays a link and the target gets the new content;
// - "-" is standard output, written directly.
// Every file writer of the library and the JSON file helpers go through it;
// a host that stages its outputs itself would stage them twice.
class SoundOutputFile {
public:
    explicit SoundOutputFile(const QString& fileName);
    // Removes the temporary file unless it was committed.
    ~SoundOutputFile();
    SoundOutputFile(const SoundOutputFile&) = delete;
    SoundOutputFile& operator=(const SoundOutputFile&) = delete;

    // The name to open for writing: the temporary file, the target itself
    // when written directly, or "-" for standard output. The temporary
    // name keeps the target's extension, since readers and tag editors pick
    // the container by it.
    const QString& writePath() const { return mWritePath; }
    // The file that receives the content: the name given, or the end of
    // its chain of symbolic links.
    const QString& targetPath() const { return mTarget; }
    bool isStaged() const { return mStaged; }
    bool isStandardOutput() const { return mStandardOutput; }

    // Renames the finished temporary file over the target (nothing to do
    // when written directly). False with `reason` set on failure, and the
    // temporary file is then removed.
    bool commit(QString& reason);
    // Gives the output up: a temporary file is removed; what went to a
    // device or FIFO has gone.
    void discard();

    // Whether `name` (a file name without directory) is one of the hidden
    // temporary names this library or its tool makes, and the process id
    // it carries.
    static bool isTemporaryName(const QString& name, long long* processId = nullptr);
    // Removes the temporaries left in `directory` by runs that were killed:
    // those whose process no longer runs and that have not changed for at
    // least `minimumAgeSeconds`. Returns how many were removed.
    static int removeStale(const QString& directory, int minimumAgeSeconds = kStaleAgeSeconds);
    // A temporary untouched this long belongs to no running job that writes.
    static constexpr int kStaleAgeSeconds = 600;

    // A hidden temporary name for a file or directory beside `target`,
    // unique within this process: ".<base>.tulv-<pid>-<n>[.<ext>]".
    static QString temporaryNameFor(const QString& target);

private:
    QString mTarget;
    QString mWritePath;
    bool mStaged = false;
    bool mStandardOutput = false;
    bool mDone = false;
};

#endif
