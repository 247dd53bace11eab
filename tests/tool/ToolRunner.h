#ifndef TULV_TESTS_TOOL_TOOLRUNNER_H
#define TULV_TESTS_TOOL_TOOLRUNNER_H

// Runs the built tulv binary as a user would, and reads what it wrote.

#include <tulv/tulv.h>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace tooltest {

struct ToolRun {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

// Runs `tulv arguments...` in `directory` (empty: the current one), with a
// deadline after which the process is killed and the run counts as failed.
ToolRun tulv(const QStringList& arguments, const QString& directory = QString(), int deadlineMs = 120000);

// Starts tulv without waiting; `whenReady` is polled every few milliseconds
// until it returns true (or the deadline passes), then `signal` is sent.
// Returns the finished run.
ToolRun tulvInterrupted(const QStringList& arguments, const std::function<bool()>& whenReady, int signal,
                    int deadlineMs = 120000);

// Whether a peer program is on the PATH.
bool have(const QString& program);
// Runs a peer program; true when it exits with 0.
bool runPeer(const QString& program, const QStringList& arguments, QString* output = nullptr);

// Every frame of a sound file, interleaved stereo, read through the library.
struct Sound {
    bool ok = false;
    unsigned int rate = 0;
    std::vector<double> samples;
    size_t frames() const { return samples.size() / 2; }
};
Sound readSound(const QString& fileName);

// Lets an algorithm's reference go. Kept out of line: inlined next to the
// `new`, a release through the base class looks to the compiler like the
// deletion of a sub-object.
void releaseAlgo(SoundRefCounted* algo);

// Files of `directory` whose names match `pattern` (QDir wildcard), sorted.
QStringList filesIn(const QString& directory, const QString& pattern = QStringLiteral("*"));

} // namespace tooltest

#endif
