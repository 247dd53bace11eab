#ifndef TULV_TESTS_TOOL_TOOLRUNNER_H
#define TULV_TESTS_TOOL_TOOLRUNNER_H

// Runs the built tulv binary as a user would, and reads what it wrote.

#include <tulv/tulv.h>

#include "tests/support/Common.h"
#include "tests/support/IoFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <csignal>
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

// Runs `tulv arguments...`; a run still going after two minutes is killed and
// counts as crashed. With `whenReady`, that is polled every few milliseconds
// until it returns true, then `signal` is sent; a run the signal kills has
// the exit code 128 + signal, as a shell says.
ToolRun tulv(const QStringList& arguments, const std::function<bool()>& whenReady = nullptr, int signal = 0);

// Success when the run ended with `exitCode` and its stderr holds `message`;
// otherwise a failure that shows what it said.
testing::AssertionResult says(const ToolRun& run, int exitCode, const QString& message);

// The words of `line`, split at spaces: arguments written as one line.
QStringList words(const QString& line);

// sox with its arguments written as one line split at spaces; "%1" and "%2"
// in it stand for `a` and `b`, which may hold spaces.
bool sox(const QString& line, const QString& a = QString(), const QString& b = QString());

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
