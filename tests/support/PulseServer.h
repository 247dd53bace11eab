#ifndef TULV_TESTS_SUPPORT_PULSESERVER_H
#define TULV_TESTS_SUPPORT_PULSESERVER_H

#include <QString>

// Playback tests play into a real sound server. When none answers, a private
// PulseAudio server with a null sink is started (its runtime directory
// becomes XDG_RUNTIME_DIR for this process and its children) and stopped,
// by its process id, at exit.
namespace pulsetest {

// False with `error` set when no server answers and none could be started.
bool ensureServer(QString* error);

} // namespace pulsetest

#endif
