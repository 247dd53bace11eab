#include "tulv/io/SoundTags.h"

#include <QFile>
#include <QtGlobal>

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <cstdlib>
#include <string>

namespace {

// TagLib takes file names in the local 8-bit encoding on this platform.
QByteArray localName(const QString& fileName)
{
    return QFile::encodeName(fileName);
}

std::string utf8(const TagLib::String& text)
{
    return text.toCString(true);
}

TagLib::String tagString(const std::string& text)
{
    return TagLib::String(text, TagLib::String::UTF8);
}

void readProperties(const TagLib::File* file, SoundIDTag& record)
{
    record.properties.clear();
    if (file) {
        const TagLib::PropertyMap map = file->properties();
        for (const auto& entry : map) {
            // Names the software that encoded this file, not the sound: a
            // copy made by another encoder must not claim it.
            if (entry.first == "ENCODER" || entry.first == "ENCODING")
                continue;
            std::vector<std::string>& values = record.properties[utf8(entry.first)];
            for (const TagLib::String& value : entry.second)
                values.push_back(utf8(value));
        }
    }
    record.updateFields();
}

void writeProperties(TagLib::File* file, const SoundIDTag& record)
{
    TagLib::PropertyMap map;
    for (const auto& entry : record.mergedProperties()) {
        TagLib::StringList values;
        for (const std::string& value : entry.second)
            values.append(tagString(value));
        map.insert(tagString(entry.first), values);
    }
    // Keys a container has no place for come back unstored; the others are
    // all it can hold.
    file->setProperties(map);
}

// The first picture of an ID3v2 tag; later ones are ignored.
void readId3Cover(TagLib::ID3v2::Tag* tag, SoundIDTag& record)
{
    if (!tag)
        return;
    const TagLib::ID3v2::FrameList& frames = tag->frameListMap()["APIC"];
    if (frames.isEmpty())
        return;
    auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.front());
    if (!picture || picture->picture().isEmpty())
        return;
    record.coverMimeType = utf8(picture->mimeType());
    record.coverData = QByteArray(picture->picture().data(), static_cast<int>(picture->picture().size()));
}

void addId3Cover(TagLib::ID3v2::Tag* tag, const SoundIDTag& record)
{
    if (!tag || record.coverData.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setMimeType(TagLib::String(record.coverMimeType, TagLib::String::Latin1));
    frame->setDescription("Cover");
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(TagLib::ByteVector(record.coverData.constData(), static_cast<unsigned int>(record.coverData.size())));
    tag->addFrame(frame); // the tag owns the frame from here on
}

void readFlacCover(const TagLib::List<TagLib::FLAC::Picture*>& pictures, SoundIDTag& record)
{
    for (TagLib::FLAC::Picture* picture : pictures) {
        if (picture && !picture->data().isEmpty()) {
            record.coverMimeType = utf8(picture->mimeType());
            record.coverData = QByteArray(picture->data().data(), static_cast<int>(picture->data().size()));
            return;
        }
    }
}

TagLib::FLAC::Picture* flacCover(const SoundIDTag& record)
{
    auto* picture = new TagLib::FLAC::Picture;
    picture->setMimeType(TagLib::String(record.coverMimeType, TagLib::String::Latin1));
    picture->setDescription("Cover");
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setData(TagLib::ByteVector(record.coverData.constData(), static_cast<unsigned int>(record.coverData.size())));
    return picture;
}

} // namespace

bool coverFits(const SoundIDTag& tags, QString fileName)
{
    // A FLAC metadata block counts its length in 24 bits; the picture block
    // adds its type, texts and image dimensions to the image. Ogg Vorbis
    // carries the same block in a comment, ID3v2 frames reach 256 MiB.
    constexpr qint64 kFlacBlockBytes = 0xFFFFFF;
    constexpr qint64 kId3FrameBytes = 0x0FFFFFFF;
    const qint64 block = 32 + qint64(tags.coverMimeType.size()) + 5 /* "Cover" */ + tags.coverData.size();
    const QByteArray name = fileName.toLower().toUtf8();
    const qint64 limit = name.endsWith(".flac") ? kFlacBlockBytes : kId3FrameBytes;
    return block <= limit;
}

namespace {

bool coverFitsOrWarn(const SoundIDTag& tags, const QString& fileName)
{
    if (coverFits(tags, fileName))
        return true;
    qWarning("%s: the %lld-byte cover is too large for this format and is left out", qUtf8Printable(fileName),
             (long long)tags.coverData.size());
    return false;
}

} // namespace

SoundIDTag readFileTags(QString fileName)
{
    SoundIDTag record;
    const QByteArray name = localName(fileName);
    TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Average);
    if (ref.isNull())
        return record;
    TagLib::File* file = ref.file();
    readProperties(file, record);
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        if (wav->hasID3v2Tag())
            readId3Cover(wav->ID3v2Tag(), record);
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        if (aiff->hasID3v2Tag())
            readId3Cover(aiff->tag(), record);
    } else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        readFlacCover(flac->pictureList(), record);
    } else if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) {
        if (vorbis->tag())
            readFlacCover(vorbis->tag()->pictureList(), record);
    }
    return record;
}

void writeFileTags(const SoundIDTag& tags, QString fileName)
{
    const QByteArray name = localName(fileName);
    TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Average);
    if (ref.isNull())
        return;
    writeProperties(ref.file(), tags);
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(ref.file())) {
        // LIST INFO keeps numbers only: a full date or a total leaves them
        // out unless given as the bare year and track.
        wav->InfoTag()->setYear(static_cast<unsigned int>(std::atoi(tags.year.c_str())));
        wav->InfoTag()->setTrack(static_cast<unsigned int>(std::atoi(tags.track.c_str())));
    }
    if (!tags.coverData.isEmpty() && coverFitsOrWarn(tags, fileName)) {
        TagLib::File* file = ref.file();
        if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file))
            addId3Cover(wav->ID3v2Tag(), tags);
        else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file))
            addId3Cover(aiff->tag(), tags);
        else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file))
            flac->addPicture(flacCover(tags));
        else if (auto* vorbis = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file)) {
            if (vorbis->tag())
                vorbis->tag()->addPicture(flacCover(tags));
        }
    }
    ref.save();
}

SoundIDTag readMp3Tags(QString fileName)
{
    SoundIDTag record;
    const QByteArray name = localName(fileName);
    TagLib::MPEG::File file(name.constData(), false, TagLib::AudioProperties::Average);
    if (!file.isOpen())
        return record;
    readProperties(&file, record);
    if (file.hasID3v2Tag())
        readId3Cover(file.ID3v2Tag(), record);
    return record;
}

void writeMp3Tags(const SoundIDTag& tags, QString fileName)
{
    const QByteArray name = localName(fileName);
    TagLib::MPEG::File file(name.constData(), false, TagLib::AudioProperties::Average);
    if (!file.isOpen())
        return;
    writeProperties(&file, tags);
    if (!tags.coverData.isEmpty() && coverFitsOrWarn(tags, fileName))
        addId3Cover(file.ID3v2Tag(true), tags);
    file.save();
}
