#ifndef TULV_ANALYSIS_SOUNDSTATREFERENCECATALOG_H
#define TULV_ANALYSIS_SOUNDSTATREFERENCECATALOG_H

#include "tulv/analysis/SoundStatReference.h"

#include <QString>
#include <QStringList>

#include <vector>

class SoundStatFile;

// A list of references in insertion order, saved as a JSON array of
// reference objects (text JSON in a ".json" file; a catalog under any other
// name is read as binary JSON). A plain value, used by one thread at a time.
class SoundStatReferenceCatalog {
public:
    SoundStatReferenceCatalog() = default;

    void clear() { mReferences.clear(); }
    bool isEmpty() const { return mReferences.empty(); }
    const std::vector<SoundStatReference>& getReferenceList() const { return mReferences; }

    // Replaces the first reference of the same name, or appends.
    void addReference(const SoundStatReference& reference);
    // Removes the first reference of the same name; false when there is none.
    bool removeReference(const SoundStatReference& reference);
    // A copy of the first reference named `name`, or an empty reference.
    SoundStatReference getReference(const QString& name) const;
    // Every name, sorted.
    QStringList getNameList() const;

    // The reference whose band levels lie nearest to the sound of `file`
    // (SoundStatReference::getDistance; the earlier one on a tie). References
    // that cannot be compared with it are passed over; an empty reference
    // when none is left.
    SoundStatReference getNearestReference(const SoundStatFile& file) const;

    // Appends the references of the catalog `file` (the name as given; the
    // name of each comes from `nameKey` when its object holds that key). False,
    // with SoundDebuggableClass::getError naming the file and the reason,
    // when it cannot be read, holds no reference, or holds an element that
    // is not a valid reference (the references before it stay appended).
    bool readJSonFile(QString file, QString nameKey = QString());
    // Saves under `file` with its extension set to "json", replacing an
    // existing file only once the new one is complete. An empty catalog
    // deletes the saved catalog instead (true when there was none). False,
    // with the error set, on failure.
    bool writeJSonFile(QString file) const;
    // The name writeJSonFile saves under.
    static QString getFileName(const QString& file);

private:
    std::vector<SoundStatReference> mReferences;
};

#endif
