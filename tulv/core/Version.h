#ifndef TULV_CORE_VERSION_H
#define TULV_CORE_VERSION_H

namespace SoundTools {

// The version of the library the host is running against, "major.minor.patch".
const char* libraryVersion();

} // namespace SoundTools

#endif
