#include "tulv/analysis/SoundStatReferenceCatalog.h"

#include "tulv/analysis/SoundStatFile.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/core/Utilities.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

void SoundStatReferenceCatalog::addReference(const SoundStatReference& reference)
{
    auto found = std::find_if(mReferences.begin(), mReferences.end(),
                              [&](const SoundStatReference& r) { return r == reference; });
    if (found != mReferences.end())
        *found = reference;
    else
        mReferences.push_back(reference);
}

bool SoundStatReferenceCatalog::removeReference(const SoundStatReference& reference)
{
    auto found = std::find_if(mReferences.begin(), mReferences.end(),
                              [&](const SoundStatReference& r) { return r == reference; });
    if (found == mReferences.end())
        return false;
    mReferences.erase(found);
    return true;
}

SoundStatReference SoundStatReferenceCatalog::getReference(const QString& name) const
{
    for (const SoundStatReference& r : mReferences)
        if (r.getName() == name)
            return r;
    return SoundStatReference();
}

QStringList SoundStatReferenceCatalog::getNameList() const
{
    QStringList names;
    for (const SoundStatReference& r : mReferences)
        names << r.getName();
    names.sort();
    return names;
}

SoundStatReference SoundStatReferenceCatalog::getNearestReference(const SoundStatFile& file) const
{
    double best = 1e6; // dB; farther than any two spectra of real sounds
    const SoundStatReference* nearest = nullptr;
    for (const SoundStatReference& r : mReferences) {
        const double distance = r.getDistance(file);
        if (distance >= 0.0 && distance < best) {
            best = distance;
            nearest = &r;
        }
    }
    return nearest ? *nearest : SoundStatReference();
}

QString SoundStatReferenceCatalog::getFileName(const QString& file)
{
    const int slash = std::max(file.lastIndexOf(QLatin1Char('/')), file.lastIndexOf(QLatin1Char('\\')));
    const int dot = file.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, it does not start an extension.
    return (dot > slash + 1 ? file.left(dot) : file) + QStringLiteral(".json");
}

bool SoundStatReferenceCatalog::readJSonFile(QString file, QString nameKey)
{
    const char* where = "SoundStatReferenceCatalog::readJSonFile";
    const QJsonDocument document = Utilities::readJSONFromFile(file, true);
    if (document.isNull()) {
        const QFileInfo info(file);
        const QString reason = !info.exists()       ? QStringLiteral("no such file")
            : !info.isReadable()                    ? QStringLiteral("permission denied")
                                                    : QStringLiteral("not a catalog (damaged or truncated)");
        SoundDebuggableClass::setError(QStringLiteral("cannot read '%1': %2").arg(file, reason), where);
        return false;
    }
    const QJsonArray array = document.array();
    if (!document.isArray() || array.isEmpty()) {
        SoundDebuggableClass::setError(QStringLiteral("'%1' holds no reference").arg(file), where);
        return false;
    }
    for (int i = 0; i < array.size(); ++i) {
        SoundStatReference reference;
        // A damaged element is not a reference: kept, it would be saved
        // back nameless and, being empty, match no sound.
        if (!array[i].isObject() || !reference.readFromJSon(array[i].toObject(), nameKey)) {
            SoundDebuggableClass::setError(
                QStringLiteral("element %1 of '%2' is not a valid reference").arg(i + 1).arg(file), where);
            return false;
        }
        mReferences.push_back(reference);
    }
    return true;
}

bool SoundStatReferenceCatalog::writeJSonFile(QString file) const
{
    const QString fileName = getFileName(file);
    const char* where = "SoundStatReferenceCatalog::writeJSonFile";
    QJsonArray array;
    for (const SoundStatReference& r : mReferences) {
        QJsonObject object;
        r.writeToJSon(object);
        array.append(object);
    }
    if (mReferences.empty()) {
        const QFileInfo info(fileName);
        if (!info.exists() && !info.isSymLink())
            return true;
        // Only a catalog file of its own is deleted; a link stays a link and
        // a device or pipe is not ours to remove, so they get an empty list.
        if (info.isFile() && !info.isSymLink()) {
            if (QFile::remove(fileName))
                return true;
            SoundDebuggableClass::setError(
                QStringLiteral("cannot delete '%1': %2").arg(fileName, Utilities::describeUnwritable(fileName)), where);
            return false;
        }
    }
    if (!Utilities::writeJSONToFile(QJsonDocument(array), fileName, true)) {
        SoundDebuggableClass::setError(
            QStringLiteral("cannot write '%1': %2").arg(fileName, Utilities::describeUnwritable(fileName)), where);
        return false;
    }
    return true;
}
