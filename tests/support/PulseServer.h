#ifndef TULV_TESTS_SUPPORT_PULSESERVER_H
#define TULV_TESTS_SUPPORT_PULSESERVER_H

#include <QString>

namespace pulsetest {

// Playback tests play into a real sound server. When none answers, a private
// PulseAudio server with a null sink is started (its runtime directory
// becomes XDG_RUNTIME_DIR of this process and its children) and stopped by
// its process id at exit. False with `error` set when that fails.
bool ensureServer(QString* error);

} // namespace pulsetest

#endif
