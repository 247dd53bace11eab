#include "ToolRunner.h"

#include <tulv/tulv.h>

#include "tests/support/IoFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <limits>
#include <memory>
#include <numeric>

namespace tooltest {

ToolRun tulv(const QStringList& arguments, int deadlineMs)
{
    return tulvInterrupted(arguments, nullptr, 0, deadlineMs);
}

ToolRun tulvInterrupted(const QStringList& arguments, const std::function<bool()>& whenReady, int signal, int deadlineMs)
{
    QProcess process;
    process.start(QStringLiteral(TULV_TOOL_PATH), arguments);
    process.closeWriteChannel();
    QElapsedTimer clock;
    clock.start();
    if (whenReady) {
        while (!whenReady() && clock.elapsed() < deadlineMs && process.state() != QProcess::NotRunning)
            QThread::msleep(2);
        if (process.state() != QProcess::NotRunning)
            ::kill(pid_t(process.processId()), signal);
    }
    const bool inTime = process.waitForFinished(int(std::max<qint64>(1000, deadlineMs - clock.elapsed())));
    if (!inTime) {
        process.kill();
        process.waitForFinished(5000);
    }
    ToolRun run;
    run.crashed = !inTime || process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitStatus() == QProcess::CrashExit && whenReady ? 128 + signal : process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

bool runPeer(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    // sox seeds its noise and dither at random unless told to repeat.
    process.start(program, program == QLatin1String("sox") ? QStringList { QStringLiteral("-R") } + arguments : arguments);
    if (!process.waitForFinished(300000))
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString makeSignal(const QString& path, double seconds, int bits)
{
    const bool ok = runPeer("sox", { "-n", "-r", "44100", "-b", QString::number(bits), path, "synth", QString::number(seconds),
                                     "sine", "440", "sine", "997", "channels", "2", "gain", "-8" });
    return ok ? path : QString();
}

Sound readSound(const QString& fileName)
{
    Sound sound;
    sound.ok = iotest::readFile(fileName, sound.samples);
    return sound;
}

double peak(const std::vector<double>& samples)
{
    return std::accumulate(samples.begin(), samples.end(), 0.0, [](double m, double s) { return std::max(m, std::fabs(s)); });
}

double rmsDb(const std::vector<double>& samples, size_t from, size_t to)
{
    const auto begin = samples.begin() + from, end = samples.begin() + std::min(to, samples.size());
    return 10.0 * std::log10(std::inner_product(begin, end, begin, 0.0) / double(end - begin));
}

double maxDeviation(const std::vector<double>& a, const std::vector<double>& b, double factor)
{
    if (a.size() != b.size())
        return std::numeric_limits<double>::infinity();
    double worst = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::fabs(a[i] - factor * b[i]));
    return worst;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList filesIn(const QString& directory, const QString& pattern)
{
    return QDir(directory).entryList(QStringList { pattern }, QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace tooltest
