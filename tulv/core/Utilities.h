#ifndef TULV_CORE_UTILITIES_H
#define TULV_CORE_UTILITIES_H

#include <QJsonDocument>
#include <QString>

// File helpers shared by everything the library saves as JSON.
namespace Utilities {

// The document in `fileName`, or a null document (test with isNull) when the
// file cannot be opened or parsed. With `allowBinary`, a name that does not
// end in ".json" (exactly, in lower case) holds Qt's binary JSON form;
// otherwise, and always without `allowBinary`, the file is JSON text.
QJsonDocument readJSONFromFile(QString fileName, bool allowBinary);

// Writes `document` under `fileName`, in binary form by the same rule as
// readJSONFromFile, otherwise as indented text, by the output rules of
// SoundOutputFile: a regular file is replaced only once the new one is
// complete (a failed or interrupted save answers false and leaves the
// previous file as it was), a device node or FIFO is written directly, a
// symbolic link is written through, "-" is standard output.
bool writeJSONToFile(QJsonDocument document, QString fileName, bool allowBinary);

// Moves a file or a directory into the user's trash (the freedesktop.org
// trash on Linux), without any dialog; true on success, false when nothing
// exists at `path` or the move failed.
bool moveToThrash(QString path);

// Why `fileName` could not be written, in a few words for a message: its
// directory is missing, not writable, or the write itself failed.
QString describeUnwritable(const QString& fileName);

} // namespace Utilities

#endif
