#include "tests/support/PulseServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <memory>

namespace pulsetest {

namespace {

bool answers()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), { QStringLiteral("info") });
    return pactl.waitForFinished(10000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

struct StartedServer {
    QTemporaryDir dir;
    qint64 pid = 0;
    ~StartedServer()
    {
        if (pid <= 0)
            return;
        ::kill(static_cast<pid_t>(pid), SIGTERM);
        // It removes its own files on the way out; the directory goes after.
        for (int i = 0; i < 100 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i)
            QThread::msleep(20);
    }
};

std::unique_ptr<StartedServer> sServer;

} // namespace

bool ensureServer(QString* error)
{
    if (sServer || answers())
        return true;
    auto server = std::make_unique<StartedServer>();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(server->dir.path()));
    QProcess daemon;
    daemon.start(QStringLiteral("pulseaudio"),
                 { QStringLiteral("--daemonize=yes"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
                   QStringLiteral("--load=module-null-sink sink_name=null"),
                   QStringLiteral("--load=module-native-protocol-unix") });
    if (!daemon.waitForFinished(20000) || daemon.exitCode() != 0) {
        *error = QStringLiteral("pulseaudio did not start: %1 %2")
                     .arg(daemon.errorString(), QString::fromLocal8Bit(daemon.readAllStandardError()));
        return false;
    }
    QFile pidFile(server->dir.path() + QStringLiteral("/pulse/pid"));
    for (int i = 0; i < 100 && !pidFile.exists(); ++i)
        QThread::msleep(50);
    if (pidFile.open(QIODevice::ReadOnly))
        server->pid = pidFile.readAll().trimmed().toLongLong();
    sServer = std::move(server);
    if (!answers()) {
        *error = QStringLiteral("the pulseaudio server started in %1 does not answer").arg(sServer->dir.path());
        return false;
    }
    return true;
}

} // namespace pulsetest
