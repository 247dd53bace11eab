#ifndef TULV_IO_SOUNDIDTAG_H
#define TULV_IO_SOUNDIDTAG_H

#include <QByteArray>

#include <string>

// The tags of a sound file. Text is UTF-8; year and track are decimal text,
// where empty or "0" means unset.
struct SoundIDTag {
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string comment;
    std::string track;
    std::string genre;
    QByteArray coverData; // bytes of the front cover image; empty: no cover
    std::string coverMimeType;

    // The cover does not count: a record with only a picture is empty.
    bool isEmpty() const
    {
        auto set = [](const std::string& number) { return !number.empty() && number != "0"; };
        return title.empty() && artist.empty() && album.empty() && comment.empty() && genre.empty() && !set(year)
            && !set(track);
    }
};

#endif
