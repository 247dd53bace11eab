#include "tests/support/PulseServer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>

namespace pulsetest {

namespace {

bool run(const QString& program, const QStringList& arguments, QString* error = nullptr)
{
    QProcess p;
    p.start(program, arguments);
    const bool ok = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok && error)
        *error = program + QStringLiteral(" failed: ") + p.errorString() + QString::fromLocal8Bit(p.readAllStandardError());
    return ok;
}

struct StartedServer {
    QTemporaryDir dir;
    pid_t pid = 0;
    ~StartedServer()
    {
        // It removes its own files on the way out; the directory goes after.
        for (int i = 0; pid > 0 && i < 100 && ::kill(pid, i ? 0 : SIGTERM) == 0; ++i)
            QThread::msleep(20);
    }
};
std::unique_ptr<StartedServer> sServer;

} // namespace

bool ensureServer(QString* error)
{
    if (sServer || run(QStringLiteral("pactl"), { QStringLiteral("info") }))
        return true;
    sServer = std::make_unique<StartedServer>();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(sServer->dir.path()));
    if (!run(QStringLiteral("pulseaudio"),
             { QStringLiteral("--daemonize=yes"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
               QStringLiteral("--load=module-null-sink sink_name=null"), QStringLiteral("--load=module-native-protocol-unix") },
             error))
        return false;
    QFile pidFile(sServer->dir.path() + QStringLiteral("/pulse/pid"));
    if (pidFile.open(QIODevice::ReadOnly))
        sServer->pid = static_cast<pid_t>(pidFile.readAll().trimmed().toLongLong());
    return run(QStringLiteral("pactl"), { QStringLiteral("info") }, error);
}

} // namespace pulsetest
