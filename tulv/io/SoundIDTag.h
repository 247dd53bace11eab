#ifndef TULV_IO_SOUNDIDTAG_H
#define TULV_IO_SOUNDIDTAG_H

#include <QByteArray>

#include <map>
#include <string>
#include <vector>

// The tags of a sound file. Text is UTF-8; year and track are decimal text,
// where empty or "0" means unset.
//
// `properties` holds every tag of the file under TagLib's property names
// (upper case: "ARTIST", "ALBUMARTIST", "DATE", "TRACKNUMBER" as "n/total",
// "DISCNUMBER", "REPLAYGAIN_TRACK_GAIN", ...), each with all its values, so
// that a conversion carries them all. The seven text fields are the simple
// view of them: a writer stores the properties with every field laid over
// them that differs from what the properties show, so a caller may edit
// either. After editing `properties` directly, updateFields() refreshes
// the view.
struct SoundIDTag {
    using Properties = std::map<std::string, std::vector<std::string>>;

    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string comment;
    std::string track;
    std::string genre;
    QByteArray coverData; // bytes of the front cover image; empty: no cover
    std::string coverMimeType;
    Properties properties;

    // The cover does not count: a record with only a picture is empty.
    bool isEmpty() const
    {
        auto set = [](const std::string& number) { return !number.empty() && number != "0"; };
        return title.empty() && artist.empty() && album.empty() && comment.empty() && genre.empty() && !set(year)
            && !set(track) && properties.empty();
    }

    // Sets the text fields from `properties`: several values joined by
    // "; ", the year from the date, the track number without its total.
    void updateFields();
    // Replaces the values of one property (no values removes it) and
    // refreshes the fields.
    void setProperty(const std::string& key, const std::vector<std::string>& values);
    // What a writer stores: the properties, with each field that differs
    // from the view of them put in its property.
    Properties mergedProperties() const;
};

#endif
