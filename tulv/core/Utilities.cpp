#include "tulv/core/Utilities.h"

#include "tulv/core/SoundOutputFile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonParseError>

namespace {

bool isBinaryName(const QString& fileName, bool allowBinary)
{
    return allowBinary && !fileName.endsWith(QLatin1String(".json"), Qt::CaseSensitive);
}

// Qt's binary JSON is deprecated in favour of CBOR, but it is the format
// that files saved by earlier versions of the library are in.
QJsonDocument decodeBinary(const QByteArray& bytes)
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return QJsonDocument::fromBinaryData(bytes, QJsonDocument::Validate);
    QT_WARNING_POP
}

QByteArray encodeBinary(const QJsonDocument& document)
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return document.toBinaryData();
    QT_WARNING_POP
}

} // namespace

namespace Utilities {

QJsonDocument readJSONFromFile(QString fileName, bool allowBinary)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonDocument();
    const QByteArray bytes = file.readAll();
    if (isBinaryName(fileName, allowBinary))
        return decodeBinary(bytes);
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (document.isNull())
        qCritical().noquote() << "JSON read error offset" << error.offset << ":" << error.errorString() << "in"
                              << fileName;
    return document;
}

bool writeJSONToFile(QJsonDocument document, QString fileName, bool allowBinary)
{
    SoundOutputFile output(fileName);
    QFile file(output.writePath());
    const bool opened = output.isStandardOutput() ? file.open(stdout, QIODevice::WriteOnly)
                                                  : file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (!opened) {
        qCritical().noquote() << "JSON write error ; unable to open file" << fileName << ":" << file.errorString();
        return false;
    }
    const QByteArray bytes =
        isBinaryName(fileName, allowBinary) ? encodeBinary(document) : document.toJson(QJsonDocument::Indented);
    // Only a file whose every byte reached the disk takes the name.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        qCritical().noquote() << "JSON write error ; unable to write file" << fileName << ":" << file.errorString();
        return false;
    }
    file.close();
    QString reason;
    if (!output.commit(reason)) {
        qCritical().noquote() << "JSON write error ; unable to save file" << fileName << ":" << reason;
        return false;
    }
    return true;
}

bool moveToThrash(QString path)
{
    const QFileInfo info(path);
    // exists() follows links; a dangling symbolic link is still something
    // the user sees in the folder and may trash.
    if (!info.exists() && !info.isSymLink())
        return false;
    return QFile::moveToTrash(info.absoluteFilePath());
}

QString describeUnwritable(const QString& fileName)
{
    const QFileInfo directory(QFileInfo(fileName).absolutePath());
    if (!directory.isDir())
        return QStringLiteral("no such directory");
    if (!directory.isWritable())
        return QStringLiteral("permission denied");
    return QStringLiteral("write error");
}

} // namespace Utilities
