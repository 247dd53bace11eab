#include "tulv/core/TimeText.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace SoundTools {

std::string timeText(double seconds)
{
    const double hours = std::floor(seconds / 3600.0);
    const double rest = seconds - 3600.0 * hours;
    const double minutes = std::floor(rest / 60.0);
    const double secs = rest - 60.0 * minutes;
    std::ostringstream text;
    text << std::fixed << std::setfill('0') << std::setprecision(0) << std::setw(2) << hours << ':' << std::setw(2)
         << minutes << ':' << std::setprecision(3) << std::setw(6) << secs;
    return text.str();
}

} // namespace SoundTools
