#ifndef TULV_APPS_ARGUMENTS_H
#define TULV_APPS_ARGUMENTS_H

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

// One option a subcommand accepts. Options are long ("--start 12.5" or
// "--start=12.5"); a few flags also have a one-letter alias.
struct OptionSpec {
    const char* name;   // without the leading dashes
    bool takesValue;
    bool repeatable;
    char shortName = 0; // 0: none
};

// The command line of one subcommand after parsing.
class Arguments {
public:
    Arguments(QString command, std::vector<OptionSpec> entries);

    // False with `error()` set when an option is unknown, lacks its value or
    // is given twice without being repeatable. "--" ends the options.
    bool parse(const QStringList& arguments);
    const QString& error() const { return mError; }

    bool has(const char* name) const;
    QString value(const char* name) const;
    QStringList values(const char* name) const;
    const QStringList& positional() const { return mPositional; }

    // Numeric options: false with `error()` set when the text is not a
    // number inside [low, high]. An absent option leaves `out` unchanged.
    bool number(const char* name, double& out, double low, double high);
    bool integer(const char* name, int& out, int low, int high);

    // "tulv <command>: <message> (see 'tulv <command> --help')", exit code 2.
    int usageError(const QString& message) const;
    int usageError() const { return usageError(mError); }

private:
    const OptionSpec* find(const QString& name) const;
    const OptionSpec* findShort(QChar letter) const;

    QString mCommand;
    std::vector<OptionSpec> mSpecs;
    QMap<QString, QStringList> mValues;
    QSet<QString> mFlags;
    QStringList mPositional;
    QString mError;
};

#endif
