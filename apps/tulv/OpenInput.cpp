#include "OpenInput.h"

#include "Commands.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <vector>

namespace {

// The container of a stream, told by its first bytes; empty when unknown.
QString sniffExtension(const QByteArray& head)
{
    if (head.startsWith("RIFF") || head.startsWith("RF64"))
        return QStringLiteral("wav");
    if (head.startsWith("fLaC"))
        return QStringLiteral("flac");
    if (head.startsWith("OggS"))
        return QStringLiteral("ogg");
    if (head.startsWith("ID3") || (head.size() > 1 && uchar(head[0]) == 0xFF && (uchar(head[1]) & 0xE0) == 0xE0))
        return QStringLiteral("mp3");
    return QString();
}

// Standard input, copied whole into a temporary file: the readers count
// frames before reading and a split reads its input twice, neither of which
// a pipe allows. The copy lives until the tool exits.
QString spoolStandardInput(QString& reason)
{
    static std::vector<std::unique_ptr<QTemporaryFile>> sSpools;
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        reason = in.errorString();
        return QString();
    }
    const QByteArray head = in.peek(4);
    const QString extension = sniffExtension(head);
    if (extension.isEmpty()) {
        reason = head.isEmpty() ? QStringLiteral("standard input is empty")
                                : QStringLiteral("standard input holds no WAV, FLAC, Ogg or MP3 stream");
        return QString();
    }
    auto spool = std::make_unique<QTemporaryFile>(QDir(QDir::tempPath()).filePath(QStringLiteral("tulv-stdin-XXXXXX.") + extension));
    if (!spool->open()) {
        reason = spool->errorString();
        return QString();
    }
    QByteArray block;
    while (!(block = in.read(1 << 20)).isEmpty()) {
        if (spool->write(block) != block.size()) {
            reason = spool->errorString();
            return QString();
        }
    }
    spool->flush();
    sSpools.push_back(std::move(spool));
    return sSpools.back()->fileName();
}

} // namespace

std::unique_ptr<SoundReader> openInput(const QString& name, QString& reason)
{
    QString fileName = name;
    if (name == QLatin1String("-") && (fileName = spoolStandardInput(reason)).isEmpty())
        return nullptr;
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
