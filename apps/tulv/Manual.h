#ifndef TULV_APPS_MANUAL_H
#define TULV_APPS_MANUAL_H

#include <QString>

#include <vector>

// The man page and the bash completion, made from what the tool prints
// itself (its usage, every command's --help, the effect list), so that the
// three never disagree. The build runs 'tulv --man' and 'tulv --completion'.

struct CommandHelp {
    QString name;
    QString summary;
    QString help; // the command's --help text
};

// tulv.1 in man(7) format.
QString manualPage(const QString& usage, const std::vector<CommandHelp>& commands, const QString& version);
// A bash completion script for 'tulv'.
QString bashCompletion(const std::vector<CommandHelp>& commands);

#endif
