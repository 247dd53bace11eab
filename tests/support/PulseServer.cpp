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
        *error = program + " failed: " + p.errorString() + QString::fromLocal8Bit(p.readAllStandardError());
    return ok;
}

struct StartedServer {
    QTemporaryDir dir;
    // The server's own stop, by the process id it keeps in the directory.
    ~StartedServer() { run("pulseaudio", { "--kill" }); }
};
std::unique_ptr<StartedServer> sServer;

} // namespace

bool ensureServer(QString* error)
{
    if (sServer || run("pactl", { "info" }))
        return true;
    sServer = std::make_unique<StartedServer>();
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(sServer->dir.path()));
    const QStringList daemon = { "--daemonize=yes", "--exit-idle-time=-1", "-n",
                                 "--load=module-null-sink sink_name=null", "--load=module-native-protocol-unix" };
    return run("pulseaudio", daemon, error) && run("pactl", { "info" }, error);
}

} // namespace pulsetest
