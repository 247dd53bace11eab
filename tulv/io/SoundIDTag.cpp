#include "tulv/io/SoundIDTag.h"

namespace {

struct Field {
    const char* key;
    std::string SoundIDTag::*member;
    bool number;
};

const Field kFields[] = {
    {"TITLE", &SoundIDTag::title, false},     {"ARTIST", &SoundIDTag::artist, false},
    {"ALBUM", &SoundIDTag::album, false},     {"DATE", &SoundIDTag::year, true},
    {"COMMENT", &SoundIDTag::comment, false}, {"TRACKNUMBER", &SoundIDTag::track, true},
    {"GENRE", &SoundIDTag::genre, false},
};

// The field's text for a property's values. A date gives its year
// ("2019-05-03" gives "2019"), a track number its number ("05/12" gives
// "5"); a field without a value reads "0" for numbers.
std::string view(const Field& field, const SoundIDTag::Properties& properties)
{
    const auto it = properties.find(field.key);
    if (it == properties.end() || it->second.empty())
        return field.number ? "0" : "";
    if (!field.number) {
        std::string joined;
        for (const std::string& value : it->second)
            joined += (joined.empty() ? "" : "; ") + value;
        return joined;
    }
    const std::string& text = it->second.front();
    size_t end = 0;
    while (end < text.size() && end < 9 && text[end] >= '0' && text[end] <= '9')
        ++end;
    const size_t first = text.find_first_not_of('0');
    if (end == 0 || first >= end)
        return "0";
    return text.substr(first, end - first);
}

// A year or date ("1987", "2019-05-03") or a track number with or without
// its total ("7", "7/12"); anything else is not stored.
bool isNumberText(const Field& field, const std::string& text)
{
    const char* allowed = field.key == std::string("DATE") ? "0123456789-T:" : "0123456789/";
    return !text.empty() && text[0] >= '0' && text[0] <= '9' && text.find_first_not_of(allowed) == std::string::npos;
}

bool sameField(const Field& field, const std::string& a, const std::string& b)
{
    if (field.number)
        return (a.empty() ? std::string("0") : a) == (b.empty() ? std::string("0") : b);
    return a == b;
}

} // namespace

void SoundIDTag::updateFields()
{
    for (const Field& field : kFields)
        this->*field.member = view(field, properties);
}

void SoundIDTag::setProperty(const std::string& key, const std::vector<std::string>& values)
{
    if (values.empty())
        properties.erase(key);
    else
        properties[key] = values;
    updateFields();
}

SoundIDTag::Properties SoundIDTag::mergedProperties() const
{
    Properties merged = properties;
    for (const Field& field : kFields) {
        const std::string& value = this->*field.member;
        if (sameField(field, value, view(field, properties)))
            continue;
        // Numbers that are not numbers ("abc") are not stored.
        if (value.empty() || (field.number && (value == "0" || !isNumberText(field, value))))
            merged.erase(field.key);
        else
            merged[field.key] = {value};
    }
    return merged;
}
