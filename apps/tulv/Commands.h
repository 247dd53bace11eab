#ifndef TULV_APPS_COMMANDS_H
#define TULV_APPS_COMMANDS_H

#include <QString>
#include <QStringList>

// Exit codes of the tool: a failed job and a usage error are told apart so
// that scripts can react to each. An interrupted job exits with 128 plus the
// signal number, as shells expect.
enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

// One entry per subcommand; `run` receives the arguments after its name.
struct Command {
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

int runInfo(const QStringList& arguments);
int runConvert(const QStringList& arguments);
int runSplit(const QStringList& arguments);
int runDemo(const QStringList& arguments);
int runPlay(const QStringList& arguments);
int runAnalyze(const QStringList& arguments);
int runProcess(const QStringList& arguments);
int runCatalog(const QStringList& arguments);

// Prints "tulv: <message>" on stderr: the one line a failure produces.
void printError(const QString& message);
// Prints `text` on stdout (help texts, tables).
void printOut(const QString& text);

// The reason the library gave for its last failure, without the "where : "
// prefix of its error record, or `fallback` when the record did not change
// since `before` was taken (SoundDebuggableClass::getError()).
QString libraryReason(const QString& before, const QString& fallback);

#endif
