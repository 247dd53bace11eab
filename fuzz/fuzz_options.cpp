// Any bytes as a command's line: NUL-separated arguments through the tool's
// option parser with a table of every kind of row the commands use (values,
// flags, repeatable options, one-letter aliases), then the numeric readers.
#include "Arguments.h"

#include "FuzzSupport.h"

#include <QByteArray>

// The tool's output hooks: what the parser prints is of no interest here.
void printError(const QString&) {}
void printOut(const QString&) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzsupport::quietLogs();
    static const CommandInfo command { "convert", "Usage: tulv convert IN OUT",
                                    { { "start", "S", "seconds" },
                                      { "limit", "S", "seconds" },
                                      { "gain", "DB", "gain\nin dB" },
                                      { "bitrate", "K", "kbit/s" },
                                      { "tag", "K=V", "tags", true },
                                      { "even-loudness", nullptr, "flag" },
                                      { "q,quiet", nullptr, "quiet" } },
                                    "after" };
    QStringList arguments;
    for (const QByteArray& item : QByteArray(reinterpret_cast<const char*>(data), int(size)).split('\0'))
        arguments << QString::fromUtf8(item);
    Arguments args(command);
    if (args.parse(arguments))
        return 0;
    double seconds = 0;
    int rate = 0;
    args.number("start", seconds, 0.0, 1e6);
    args.number("gain", seconds, -60.0, 60.0);
    args.integer("bitrate", rate, 8, 320);
    args.values("tag");
    args.has("quiet");
    args.helpText();
    return 0;
}
