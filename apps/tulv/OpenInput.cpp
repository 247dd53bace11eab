#include "OpenInput.h"

#include "Commands.h"

#include <QFileInfo>

std::unique_ptr<SoundReader> openInput(const QString& fileName, QString& reason)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        reason = QStringLiteral("No such file or directory");
        return nullptr;
    }
    if (info.isDir()) {
        reason = QStringLiteral("Is a directory");
        return nullptr;
    }
    if (!info.isReadable()) {
        reason = QStringLiteral("Permission denied");
        return nullptr;
    }
    std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(fileName));
    if (!reader) {
        const QString known = QStringLiteral(".") + SoundReader::readableExtensions().join(QStringLiteral(", ."));
        reason = QStringLiteral("unknown file type '.%1' (tulv reads %2)").arg(SoundReader::getExtension(fileName), known);
        if (SoundReader::getExtension(fileName).isEmpty())
            reason = QStringLiteral("no file extension to tell its type by (tulv reads %1)").arg(known);
        return nullptr;
    }
    const QString before = SoundDebuggableClass::getError();
    if (reader->open(fileName) != SoundTools::Ok) {
        reason = libraryReason(before, QStringLiteral("not a readable sound file"));
        return nullptr;
    }
    if (reader->getSampleRate() == 0) {
        reason = QStringLiteral("the file declares a sample rate of 0");
        return nullptr;
    }
    return reader;
}
