#ifndef TULV_CORE_TIMETEXT_H
#define TULV_CORE_TIMETEXT_H

#include <string>

namespace SoundTools {

// A duration as HH:MM:SS.mmm, the one way the library prints times:
// 3725.5 s gives 01:02:05.500.
std::string timeText(double seconds);

} // namespace SoundTools

#endif
