#ifndef TULV_TESTS_TOOL_TOOLRUNNER_H
#define TULV_TESTS_TOOL_TOOLRUNNER_H

// Runs the built tulv binary as a user would, and reads what it wrote.

#include <tulv/tulv.h>

#include "tests/support/Common.h"
#include "tests/support/IoFiles.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace tooltest {

using namespace iotest;
using namespace testsupport;

struct ToolRun {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

// Runs `tulv arguments...` with a deadline after which the process is
// killed and the run counts as crashed.
ToolRun tulv(const QStringList& arguments, int deadlineMs = 120000);

// Starts tulv; `whenReady` is polled every few milliseconds until it returns
// true (or the deadline passes), then `signal` is sent. Returns the finished
// run; killed by the signal, its exit code is 128 + signal, as a shell says.
ToolRun tulvInterrupted(const QStringList& arguments, const std::function<bool()>& whenReady, int signal,
                        int deadlineMs = 120000);

// A 44.1 kHz stereo signal written by sox at `path`, -8 dB, a different tone
// in each channel so that a swapped or dropped channel shows. Empty when sox
// failed.
QString makeSignal(const QString& path, double seconds, int bits = 16);

// Every frame of a sound file, interleaved stereo, read through the library;
// a file that cannot be read fails the test, naming it.
Samples readSound(const QString& fileName);

// The mean square in dB over the samples [from, to).
double rmsDb(const std::vector<double>& samples, size_t from = 0, size_t to = SIZE_MAX);

// Files of `directory` whose names match `pattern` (QDir wildcard), sorted.
QStringList filesIn(const QString& directory, const QString& pattern = QStringLiteral("*"));

} // namespace tooltest

#endif
