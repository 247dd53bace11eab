#include "ToolRunner.h"

#include <tulv/tulv.h>

#include "tests/support/MemoryIO.h"

#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <memory>

namespace tooltest {

namespace {

ToolRun finish(QProcess& process, bool inTime)
{
    ToolRun run;
    if (!inTime) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.crashed = !inTime || process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

ToolRun tulv(const QStringList& arguments, const QString& directory, int deadlineMs)
{
    QProcess process;
    if (!directory.isEmpty())
        process.setWorkingDirectory(directory);
    process.start(QStringLiteral(TULV_TOOL_PATH), arguments);
    process.closeWriteChannel();
    const bool inTime = process.waitForFinished(deadlineMs);
    return finish(process, inTime);
}

ToolRun tulvInterrupted(const QStringList& arguments, const std::function<bool()>& whenReady, int signal, int deadlineMs)
{
    QProcess process;
    process.start(QStringLiteral(TULV_TOOL_PATH), arguments);
    process.closeWriteChannel();
    QElapsedTimer clock;
    clock.start();
    while (!whenReady() && clock.elapsed() < deadlineMs && process.state() != QProcess::NotRunning)
        QThread::msleep(2);
    if (process.state() != QProcess::NotRunning)
        ::kill(pid_t(process.processId()), signal);
    const bool inTime = process.waitForFinished(int(std::max<qint64>(1000, deadlineMs - clock.elapsed())));
    ToolRun run = finish(process, inTime);
    // A signal that killed the process shows as a crash with no exit code.
    if (process.exitStatus() == QProcess::CrashExit)
        run.exitCode = 128 + signal;
    return run;
}

bool have(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

bool runPeer(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(300000))
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

Sound readSound(const QString& fileName)
{
    Sound sound;
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(fileName));
    if (!reader || reader->open(fileName) != SoundTools::Ok)
        return sound;
    sound.rate = reader->getSampleRate();
    testsupport::CapturingWriter writer(sound.rate);
    SoundAlgoScale* copy = new SoundAlgoScale(0.0);
    const SoundTools::Status status = copy->processAll(*reader, &writer);
    releaseAlgo(copy);
    if (status == SoundTools::Error)
        return sound;
    sound.samples = writer.samples();
    sound.ok = true;
    return sound;
}

__attribute__((noinline)) void releaseAlgo(SoundRefCounted* algo)
{
    algo->release();
}

QStringList filesIn(const QString& directory, const QString& pattern)
{
    return QDir(directory).entryList(QStringList { pattern }, QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace tooltest
