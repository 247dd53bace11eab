#ifndef TULV_FUZZ_FUZZSUPPORT_H
#define TULV_FUZZ_FUZZSUPPORT_H

#include <QDir>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace fuzzsupport {

// Errors are what the targets provoke; printing each one would slow the run
// to a crawl without telling anything a crash report does not.
inline void quietLogs()
{
    static const bool once = [] {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtFatalMsg)
                qFatal("%s", qUtf8Printable(message));
        });
        return true;
    }();
    (void)once;
}

// A directory of this process's own, empty at start.
inline QString scratchDir()
{
    static const QString dir = [] {
        const QString path = QDir::temp().filePath(QStringLiteral("tulv-fuzz-%1").arg(getpid()));
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        return path;
    }();
    return dir;
}

inline bool writeInput(const QString& fileName, const uint8_t* data, size_t size)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size);
}

} // namespace fuzzsupport

#endif
