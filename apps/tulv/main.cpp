#include "Commands.h"
#include "Interrupt.h"
#include "Manual.h"

#include <tulv/tulv.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>
#include <iostream>
#include <memory>

namespace {

const Command kCommands[] = {
    { "info", "show the format, length, tags and cover of sound files", runInfo },
    { "convert", "convert a sound file to another format, with gain, range and tags", runConvert },
    { "process", "run a sound file through a chain of effects: equalisers, filters, dynamics", runProcess },
    { "split", "split a recorded side into one file per track", runSplit },
    { "analyze", "measure loudness (LUFS, true peak) and band levels, and plot them", runAnalyze },
    { "catalog", "keep the reference spectra that analyze and convert --correct use", runCatalog },
    { "play", "play sound files through the equaliser, with presets, bass boost and levels", runPlay },
    { "demo", "split a built-in synthetic record side and compare with the truth", runDemo },
};

bool sVerbose = false;
// While set, printOut collects here instead of writing: the man page and
// the completion are made from the commands' own --help.
QString* sCapture = nullptr;

// Only a PNG plot draws text, and text needs the font database of a
// QGuiApplication; every other run keeps to the plain core application.
bool drawsPng(int argc, char** argv)
{
    bool analyze = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        analyze = analyze || argument == "analyze";
        if (analyze && argument.toLower().endsWith(".png"))
            return true;
    }
    return false;
}

QString usageText()
{
    QString text;
    QTextStream out(&text);
    out << "Usage: tulv [--verbose|--debug] COMMAND [ARGUMENTS...]\n"
           "       tulv --help | --version\n\n"
           "tulv reads, processes, splits and writes recorded sound.\n"
           "Files: WAV, FLAC, Ogg Vorbis, AIFF and MP3 are read; the same (and .raw,\n"
           "headerless 32-bit float) are written, the container chosen by the\n"
           "output's extension (MP3 needs libmp3lame).\n";
    out << "\nCommands:\n";
    for (const Command& command : kCommands)
        out << "  " << QString::fromLatin1(command.name).leftJustified(10) << command.summary << '\n';
    out << "\nOptions:\n"
           "  --verbose   also show the library's own diagnostics\n"
           "  --debug     and its detailed dumps (the region lists of a split)\n"
           "\nExit status: 0 done, 1 the job failed, 2 usage error, 128+N stopped by signal N.\n"
           "Run 'tulv COMMAND --help' for the options of a command.\n";
    out.flush();
    return text;
}

void printUsage(FILE* to)
{
    std::fputs(qUtf8Printable(usageText()), to);
}

std::vector<CommandHelp> commandHelps()
{
    std::vector<CommandHelp> helps;
    for (const Command& command : kCommands) {
        QString help;
        sCapture = &help;
        command.run({ QStringLiteral("--help") });
        sCapture = nullptr;
        helps.push_back({ QLatin1String(command.name), QLatin1String(command.summary), help });
    }
    return helps;
}

// The library logs every error it records as a Qt warning. The tool reports
// each failure once, in its own words, so those lines stay hidden unless asked.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg || sVerbose)
        std::fprintf(stderr, "tulv: [library] %s\n", qUtf8Printable(message));
}

} // namespace

void printError(const QString& message)
{
    std::fprintf(stderr, "tulv: %s\n", qUtf8Printable(message));
    std::fflush(stderr);
}

void printOut(const QString& text)
{
    if (sCapture) {
        *sCapture += text;
        return;
    }
    std::fputs(qUtf8Printable(text), stdout);
    std::fflush(stdout);
}

QString libraryReason(const QString& before, const QString& fallback)
{
    const QString now = SoundDebuggableClass::getError();
    if (now.isEmpty() || now == before)
        return fallback;
    const int separator = now.indexOf(QLatin1String(" : "));
    return separator >= 0 ? now.mid(separator + 3) : now;
}

int main(int argc, char** argv)
{
    // Between blocks the OpenMP threads of parallel branches spin by default.
    // On a machine shared with other jobs a spinning thread keeps the one it
    // waits for off the processor, and a chain with parallel branches slows
    // down twentyfold. The runtime reads its wait policy only when it is
    // loaded, so the tool starts itself once more with the policy set,
    // unless the user chose one.
    if (!std::getenv("OMP_WAIT_POLICY")) {
        ::setenv("OMP_WAIT_POLICY", "passive", 1);
        ::execv("/proc/self/exe", argv);
    }
    qInstallMessageHandler(messageHandler);
    std::unique_ptr<QCoreApplication> app;
    if (drawsPng(argc, argv)) {
        // Drawn into an image, never shown: no display is needed or used.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    interrupt::install();
    // Library reports go where the tool's own messages go, never into a table on stdout.
    SoundDebuggableClass::setOStream(&std::cerr);
    // Options before the command are the tool's; everything from the command
    // on belongs to the command's own parser.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOptions({ QCommandLineOption(QStringLiteral("verbose")), QCommandLineOption(QStringLiteral("debug")),
                        QCommandLineOption(QStringList{ QStringLiteral("h"), QStringLiteral("help") }),
                        QCommandLineOption(QStringLiteral("version")), QCommandLineOption(QStringLiteral("man")),
                        QCommandLineOption(QStringLiteral("completion")) });
    if (!parser.parse(QCoreApplication::arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        printError(QStringLiteral("%1 (see 'tulv --help')")
                       .arg(unknown.isEmpty() ? parser.errorText() : QStringLiteral("unknown option '%1%2'").arg(unknown.first().size() == 1 ? "-" : "--", unknown.first())));
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("verbose")) || parser.isSet(QStringLiteral("debug"))) {
        sVerbose = true;
        SoundDebuggableClass::setVerbose(true);
        SoundDebuggableClass::setDebug(parser.isSet(QStringLiteral("debug")));
    }
    QStringList arguments = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("help")) || arguments.value(0) == QLatin1String("help")) {
        printUsage(stdout);
        return ExitOk;
    }
    // Run by the build: the man page and the completion script.
    if (parser.isSet(QStringLiteral("man"))) {
        printOut(manualPage(usageText(), commandHelps(), QLatin1String(SoundTools::libraryVersion())));
        return ExitOk;
    }
    if (parser.isSet(QStringLiteral("completion"))) {
        printOut(bashCompletion(commandHelps()));
        return ExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("tulv %s\n", SoundTools::libraryVersion());
        return ExitOk;
    }
    if (arguments.isEmpty()) {
        printUsage(stderr);
        return ExitUsage;
    }
    const QString first = arguments.takeFirst();
    for (const Command& command : kCommands)
        if (first == QLatin1String(command.name))
            return command.run(arguments);
    printError(QStringLiteral("unknown command '%1' (see 'tulv --help')").arg(first));
    return ExitUsage;
}
