#ifndef TULV_APPS_OPENINPUT_H
#define TULV_APPS_OPENINPUT_H

#include <tulv/tulv.h>

#include <QString>

#include <memory>

// Opens a sound file for reading through the library's factory. On failure
// returns null with `reason` set to what the user needs to hear: a missing
// file, an unknown extension, or what the back end said about the content.
// "-" is standard input, in any container the readers know.
std::unique_ptr<SoundReader> openInput(const QString& fileName, QString& reason);

#endif
