#ifndef TULV_APPS_COMMANDS_H
#define TULV_APPS_COMMANDS_H

#include <QStringList>

// Exit codes of the tool: a failed job and a usage error are told apart so
// that scripts can react to each.
enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

// One entry per subcommand; `run` receives the arguments after its name.
struct Command {
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

// Prints "tulv: <message>" on stderr: the one line a failure produces.
void printError(const QString& message);

#endif
