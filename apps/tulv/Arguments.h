#ifndef TULV_APPS_ARGUMENTS_H
#define TULV_APPS_ARGUMENTS_H

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// One option of a subcommand: one row of its table. Options are long
// ("--start 12.5" or "--start=12.5"); a few also have a one-letter alias.
struct OptionInfo {
    const char* names;     // "start", or "q,quiet" for an alias
    const char* valueName; // "S", "DB", ...; null for a flag
    const char* help;      // its lines of --help; "\n" starts a continuation line
    bool repeatable = false;
};

// What a subcommand's --help shows: the text before the options, the option
// table (-h, --help is added) and the text after it.
struct CommandInfo {
    const char* name;
    const char* usage;
    std::vector<OptionInfo> options;
    const char* epilogue = nullptr;
};

// The command line of one subcommand after parsing with QCommandLineParser.
class Arguments {
public:
    explicit Arguments(const CommandInfo& command);

    // The exit code when the command should stop here: 0 after printing
    // --help, 2 after a usage error (unknown option, missing value, a value
    // given twice to an option that takes one). Empty when the job can run.
    // A lone "-" is a name (standard input or output), "--" ends the options.
    std::optional<int> parse(const QStringList& arguments);
    // The --help text: usage, the option table, the epilogue.
    QString helpText() const;

    bool has(const char* name) const;
    QString value(const char* name) const;
    QStringList values(const char* name) const;
    const QStringList& positional() const { return mPositional; }
    // The options given, as "--name" and "--name=value" items, less those
    // named in `except`: to hand them on to another run of the tool.
    QStringList optionArguments(const QStringList& except) const;

    // Numeric options: false with `error()` set when the text is not a
    // number inside [low, high]. An absent option leaves `out` unchanged.
    bool number(const char* name, double& out, double low, double high);
    bool integer(const char* name, int& out, int low, int high);
    const QString& error() const { return mError; }

    // "tulv <command>: <message> (see 'tulv <command> --help')", exit code 2.
    int usageError(const QString& message) const;
    int usageError() const { return usageError(mError); }

private:
    QString translateError() const;

    const CommandInfo& mCommand;
    QCommandLineParser mParser;
    QStringList mPositional;
    QString mError;
};

#endif
