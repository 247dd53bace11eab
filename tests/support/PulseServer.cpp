#include "tests/support/PulseServer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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
    // The server's own stop, by the process id it keeps in the directory.
    ~StartedServer() { run(QStringLiteral("pulseaudio"), { QStringLiteral("--kill") }); }
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
    return run(QStringLiteral("pactl"), { QStringLiteral("info") }, error);
}

} // namespace pulsetest
