#ifndef TULV_APPS_INTERRUPT_H
#define TULV_APPS_INTERRUPT_H

// Ctrl-C and termination requests. The handler only raises an atomic flag;
// the running algorithm is asked to stop from the processing thread itself
// (see Progress), so nothing unsafe happens inside the signal handler. A
// second signal while the first is being honoured ends the process at once.
namespace interrupt {

// Catches SIGINT, SIGTERM and SIGHUP for the rest of the process.
void install();
bool requested();
// The signal that was caught, 0 when none.
int signalNumber();
// The exit code a shell expects after that signal: 128 + its number.
int exitCode();

} // namespace interrupt

#endif
