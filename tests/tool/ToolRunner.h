#ifndef TULV_TESTS_TOOL_TOOLRUNNER_H
#define TULV_TESTS_TOOL_TOOLRUNNER_H

// Runs the built tulv binary as a user would, and reads what it wrote.

#include <tulv/tulv.h>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace tooltest {

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

// Runs a peer program; true when it exits with 0.
bool runPeer(const QString& program, const QStringList& arguments, QString* output = nullptr);

// A 44.1 kHz stereo signal written by sox at `path`, -8 dB, a different tone
// in each channel so that a swapped or dropped channel shows. Empty when sox
// failed.
QString makeSignal(const QString& path, double seconds, int bits = 16);

// Every frame of a sound file, interleaved stereo, read through the library.
struct Sound {
    bool ok = false;
    std::vector<double> samples;
    size_t frames() const { return samples.size() / 2; }
};
Sound readSound(const QString& fileName);

// The largest magnitude; the mean square in dB over the samples [from, to).
double peak(const std::vector<double>& samples);
double rmsDb(const std::vector<double>& samples, size_t from = 0, size_t to = SIZE_MAX);
// The largest |a[i] - factor * b[i]|; infinite when the lengths differ.
double maxDeviation(const std::vector<double>& a, const std::vector<double>& b, double factor = 1.0);

// Writes `bytes` into a new file; true when all went.
bool writeFile(const QString& path, const QByteArray& bytes);

// Files of `directory` whose names match `pattern` (QDir wildcard), sorted.
QStringList filesIn(const QString& directory, const QString& pattern = QStringLiteral("*"));

} // namespace tooltest

#endif
