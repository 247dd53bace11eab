#include "Commands.h"

#include <tulv/tulv.h>

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

const Command kCommands[] = {
    { nullptr, nullptr, nullptr },
};

void printUsage(FILE* to)
{
    QTextStream out(to);
    out << "Usage: tulv COMMAND [ARGUMENTS...]\n"
           "       tulv --help | --version\n\n"
           "tulv reads, processes, splits and writes recorded sound.\n";
    bool any = false;
    for (const Command& command : kCommands) {
        if (!command.name)
            continue;
        if (!any)
            out << "\nCommands:\n";
        any = true;
        out << "  " << QString::fromLatin1(command.name).leftJustified(10) << command.summary << '\n';
    }
    out << "\nRun 'tulv COMMAND --help' for the options of a command.\n";
}

} // namespace

void printError(const QString& message)
{
    std::fprintf(stderr, "tulv: %s\n", qUtf8Printable(message));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments.isEmpty()) {
        printUsage(stderr);
        return ExitUsage;
    }
    const QString first = arguments.takeFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        printUsage(stdout);
        return ExitOk;
    }
    if (first == QLatin1String("--version")) {
        std::printf("tulv %s\n", SoundTools::libraryVersion());
        return ExitOk;
    }
    for (const Command& command : kCommands)
        if (command.name && first == QLatin1String(command.name))
            return command.run(arguments);
    printError(QStringLiteral("unknown command '%1' (see 'tulv --help')").arg(first));
    return ExitUsage;
}
