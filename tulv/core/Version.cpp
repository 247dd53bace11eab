#include "tulv/core/Version.h"

namespace SoundTools {

const char* libraryVersion()
{
    return TULV_VERSION_STRING;
}

} // namespace SoundTools
