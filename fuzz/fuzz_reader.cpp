// Any bytes as a sound file: opened by the reader its content calls for
// (tags and cover read at open), then read to the end through the block
// interface with an overlap, as the processing loop reads.
#include "FuzzSupport.h"

#include <tulv/tulv.h>

#include <QByteArray>

#include <memory>

namespace {

// The extension TagLib and the readers would meet for such content.
const char* extensionFor(const QByteArray& head)
{
    if (head.startsWith("RIFF") || head.startsWith("RF64"))
        return "wav";
    if (head.startsWith("FORM"))
        return "aiff";
    if (head.startsWith("fLaC"))
        return "flac";
    if (head.startsWith("OggS"))
        return "ogg";
    return "mp3";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::quietLogs();
    const QByteArray head(reinterpret_cast<const char*>(data), int(std::min<size_t>(size, 4)));
    const QString ext = QString::fromLatin1(extensionFor(head));
    const QString name = fuzzsupport::scratchDir() + QStringLiteral("/input.") + ext;
    if (!fuzzsupport::writeInput(name, data, size))
        return 0;
    std::unique_ptr<SoundReader> reader;
    if (ext == QLatin1String("mp3"))
        reader = std::make_unique<SoundReaderMp3>();
    else
        reader = std::make_unique<SoundReaderSndfile>();
    if (reader->open(name) != SoundTools::Ok)
        return 0;
    SoundIDTag tags;
    reader->getTags(tags);
    reader->getLengthString();
    auto buffer = SoundBuffer::createNew(reader->getSampleRate());
    buffer->alloc(4096, 2, 1, 1);
    // A header may declare hours behind a few bytes: a bounded number of
    // blocks covers every path without making one input slow.
    for (int block = 0; block < 64 && !reader->atEnd(); ++block)
        reader->stereoRead(buffer, 1024);
    reader->setStartPoint(0.5 * reader->getLength());
    reader->rewind();
    reader->stereoRead(buffer, 1024);
    reader->close();
    return 0;
}
