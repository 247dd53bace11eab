#ifndef TULV_APPS_OUTPUTS_H
#define TULV_APPS_OUTPUTS_H

#include <QString>
#include <QStringList>

// The tool's side of the output rules. Replacing one file safely is the
// library's job (SoundOutputFile, used by every writer and by the JSON
// helpers); here are the checks made before any work, and the set of files a
// split commits together.

// The directory a file is to be written into; "." for a bare name.
QString directoryOf(const QString& path);
// Whether `directory` exists and can be written to; `reason` names the problem.
bool writableDirectory(const QString& directory, QString& reason);
// Creates `directory` and its missing parents; `reason` names the part that
// could not be made (a file standing where a directory should be, say).
bool makeDirectory(const QString& directory, QString& reason);
// Whether two names lead to the same file (through links, or hard links).
bool sameFile(const QString& a, const QString& b);

// Checks made before the work of a job that writes `out`: its directory
// exists and can be written, it is not a directory, it is not `input` (unless
// `mayBeInput`: a conversion onto its own input reads the old file to the
// end before the new one takes its name). Also sweeps the temporaries that
// killed runs left there. "-" (standard output) always passes.
bool checkOutput(const QString& out, const QString& input, bool mayBeInput, QString& reason);

// The tracks of a split, written into a hidden scratch directory beside
// their destination and moved into place together. A lock on the directory
// keeps a second split out of it until this one is done; a move that fails part-way takes back the files already
// moved and puts back what they replaced.
class TrackSet {
public:
    explicit TrackSet(QString directory);
    ~TrackSet();
    TrackSet(const TrackSet&) = delete;
    TrackSet& operator=(const TrackSet&) = delete;

    // Creates the destination if needed, takes the lock and the scratch
    // directory. False with `reason` when any of that fails.
    bool open(QString& reason);
    // Where the writer puts the tracks; empty before open().
    const QString& scratch() const { return mScratch; }
    // Moves the files of the scratch directory, sorted by name, to the
    // destination; their final paths in `finalPaths`. All or nothing.
    bool commit(QStringList& finalPaths, QString& reason);
    // Removes the scratch directory and whatever it holds.
    void discard();

private:
    QString mDirectory;
    QString mScratch;
    int mLock = -1;
};

#endif
