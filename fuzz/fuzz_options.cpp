// Any bytes as the tool's command line: NUL-separated arguments through the
// tool's entry point, which parses the global options, picks the command and
// parses its options and values. It runs in an empty directory, and names
// that could reach outside it are dropped, so a line that parses can only
// fail on its missing input.
#include "FuzzSupport.h"

#include <QByteArray>
#include <QList>

#include <tulv/tulv.h>

#include <vector>

int tulvToolMain(int argc, char** argv);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool entered = [] { return QDir::setCurrent(fuzzsupport::scratchDir()); }();
    if (!entered)
        return 0;
    QList<QByteArray> arguments { QByteArray("tulv") };
    for (const QByteArray& item : QByteArray(reinterpret_cast<const char*>(data), int(size)).split('\0')) {
        // Absolute paths, parents, standard input and the demo (which writes
        // a whole side) would leave the sandbox or make an input slow.
        if (item.startsWith('/') || item.contains("..") || item == "-" || item == "demo" || item.contains("/dev"))
            continue;
        arguments << item;
    }
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    tulvToolMain(int(argv.size()) - 1, argv.data());
    SoundDebuggableClass::setVerbose(false);
    SoundDebuggableClass::setDebug(false);
    return 0;
}
