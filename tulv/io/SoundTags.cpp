#include "tulv/io/SoundTags.h"

#include <QFile>

#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

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

// Decimal text to a tag number; anything that is not a number gives 0,
// which TagLib treats as unset.
unsigned int tagNumber(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return 0;
    return static_cast<unsigned int>(std::stoul(text));
}

void readText(TagLib::Tag* tag, SoundIDTag& record)
{
    if (!tag)
        return;
    record.title = utf8(tag->title());
    record.artist = utf8(tag->artist());
    record.album = utf8(tag->album());
    record.comment = utf8(tag->comment());
    record.genre = utf8(tag->genre());
    record.track = std::to_string(tag->track());
    record.year = std::to_string(tag->year());
}

void writeText(TagLib::Tag* tag, const SoundIDTag& record)
{
    if (!tag)
        return;
    tag->setAlbum(tagString(record.album));
    tag->setArtist(tagString(record.artist));
    tag->setComment(tagString(record.comment));
    tag->setGenre(tagString(record.genre));
    tag->setTitle(tagString(record.title));
    tag->setTrack(tagNumber(record.track));
    tag->setYear(tagNumber(record.year));
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

SoundIDTag readFileTags(QString fileName)
{
    SoundIDTag record;
    const QByteArray name = localName(fileName);
    TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Average);
    if (ref.isNull())
        return record;
    readText(ref.tag(), record);
    TagLib::File* file = ref.file();
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        if (wav->hasID3v2Tag())
            readId3Cover(wav->ID3v2Tag(), record);
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
    writeText(ref.tag(), tags);
    if (!tags.coverData.isEmpty()) {
        TagLib::File* file = ref.file();
        if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file))
            addId3Cover(wav->ID3v2Tag(), tags);
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
    readText(file.tag(), record);
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
    writeText(file.tag(), tags);
    if (!tags.coverData.isEmpty())
        addId3Cover(file.ID3v2Tag(true), tags);
    file.save();
}
