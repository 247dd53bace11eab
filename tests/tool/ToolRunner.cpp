#include "ToolRunner.h"

#include <QElapsedTimer>
#include <QThread>

#include <numeric>

namespace tooltest {

ToolRun tulv(const QStringList& arguments, const std::function<bool()>& whenReady, int signal)
{
    const int deadlineMs = 120000;
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
    const bool crashed = process.exitStatus() != QProcess::NormalExit;
    return { crashed && whenReady ? 128 + signal : process.exitCode(), crashed || !inTime,
             QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
}

testing::AssertionResult says(const ToolRun& run, int exitCode, const QString& message)
{
    if (run.exitCode == exitCode && run.err.contains(message))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "exit code " << run.exitCode << ", stderr: " << run.err.toStdString();
}

QStringList words(const QString& line)
{
    return line.split(' ', Qt::SkipEmptyParts);
}

bool sox(const QString& line, const QString& a, const QString& b)
{
    return runTool("sox", line.split(' ').replaceInStrings("%1", a).replaceInStrings("%2", b));
}

QString makeSignal(const QString& path, double seconds, int bits)
{
    const QString effects = " synth " + QString::number(seconds) + " sine 440 sine 997 channels 2 gain -8";
    return sox("-n -r 44100 -b %2 %1" + effects, path, QString::number(bits)) ? path : QString();
}

Samples readSound(const QString& fileName)
{
    Samples samples;
    EXPECT_TRUE(readFile(fileName, samples)) << "cannot read " << fileName.toStdString();
    return samples;
}

double rmsDb(const std::vector<double>& samples, size_t from, size_t to)
{
    const auto begin = samples.begin() + from, end = samples.begin() + std::min(to, samples.size());
    return 10.0 * std::log10(std::inner_product(begin, end, begin, 0.0) / double(end - begin));
}

QStringList filesIn(const QString& directory, const QString& pattern)
{
    return QDir(directory).entryList(QStringList { pattern }, QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace tooltest
