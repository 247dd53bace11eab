#include "Arguments.h"
#include "Commands.h"
#include "Interrupt.h"
#include "OpenInput.h"

#include <tulv/tulv.h>

#include <QAudioDeviceInfo>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <unistd.h>

namespace {

const CommandInfo kCommand = {
    "play",
    R"(Usage: tulv play [options] FILE...
       tulv play --list-presets

Plays the files one after the other on the default audio output, through
the nine-band equaliser (60 Hz to 15 kHz), showing the position and length.
Ctrl-C stops.
)",
    {
        { "preset", "NAME", "equaliser preset (see --list-presets)" },
        { "eq", "G1,...,G9", "the nine band gains in dB, 60 Hz first (-8 to 8)" },
        { "bass-boost", nullptr, "add the bass-boost band (+8 dB at 150 Hz)" },
        { "gain", "DB", "output gain in dB (-40 to 20); lowered on its own\nwhere the output would clip" },
        { "levels", nullptr, "show a live level meter" },
        { "list-presets", nullptr, "print the equaliser presets and exit" },
    },
};

// The level thread writes, the display timer reads.
class LevelMeter : public SoundAlgoDevice::RMSLevelCallback {
public:
    void rmsLevel(double left, double right) override
    {
        mLeft.store(left);
        mRight.store(right);
    }
    QString text() const { return bar(mLeft.load()) + QLatin1Char(' ') + bar(mRight.load()); }

private:
    // 20 cells over 60 dB.
    static QString bar(double rms)
    {
        const double db = rms > 1e-10 ? 20.0 * std::log10(rms) : -100.0;
        const int cells = std::clamp(static_cast<int>((db + 60.0) / 3.0), 0, 20);
        return QString(cells, QLatin1Char('#')).leftJustified(20, QLatin1Char('.'));
    }
    std::atomic<double> mLeft { 0.0 };
    std::atomic<double> mRight { 0.0 };
};

QString clock(double seconds)
{
    const int s = static_cast<int>(seconds);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

struct Settings {
    int preset = -1;
    std::vector<double> gains;
    bool bassBoost = false;
    double gainDb = 0.0;
    bool levels = false;
};

enum class Outcome { Played, NoOutput, Interrupted };

Outcome playOne(const QString& fileName, std::shared_ptr<SoundReader> reader, const Settings& settings)
{
    const double length = reader->getLength();
    SoundPlayerQt player(reader, nullptr, true);
    if (settings.preset >= 0)
        player.setEqPreset(static_cast<unsigned int>(settings.preset));
    for (size_t band = 0; band < settings.gains.size(); ++band)
        player.setEqLevel(static_cast<unsigned int>(band), settings.gains[band]);
    player.switchEq(true);
    player.switchBassBoost(settings.bassBoost);
    player.setEqGain(std::pow(10.0, settings.gainDb / 20.0));
    player.setPostProcessingChain(nullptr);
    LevelMeter meter;
    if (settings.levels)
        player.getDevice()->setRMSCallback(&meter, 10.0, 8192);

    QEventLoop loop;
    bool started = false;
    bool complete = false;
    double position = 0.0;
    QObject::connect(&player, &SoundPlayer::playingStarted, &loop, [&] { started = true; });
    QObject::connect(&player, &SoundPlayer::playingProgress, &loop, [&](double s) { position = s; });
    QObject::connect(&player, &SoundPlayer::playingHasFinished, &loop, [&](bool ok) {
        complete = ok;
        loop.quit();
    });
    const bool tty = isatty(STDERR_FILENO);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (interrupt::requested()) {
            player.stop();
            loop.quit();
            return;
        }
        if (!tty || !started)
            return;
        QString line = QStringLiteral("\r%1 / %2  %3").arg(clock(position), clock(length), fileName);
        if (settings.levels)
            line += QStringLiteral("  ") + meter.text();
        std::fputs(qUtf8Printable(line), stderr);
        std::fflush(stderr);
    });
    tick.start(100);

    // The library's own line about the output goes into the tool's one line.
    std::ostringstream library;
    SoundDebuggableClass::setOStream(&library);
    player.preload();
    player.start();
    SoundDebuggableClass::setOStream(&std::cerr);
    if (player.isStopped() && !complete)
        return Outcome::NoOutput;
    loop.exec();
    tick.stop();
    if (settings.levels)
        player.getDevice()->setRMSCallback(nullptr, 10.0, 8192);
    player.stop();
    if (tty && started)
        std::fputs("\n", stderr);
    if (interrupt::requested())
        return Outcome::Interrupted;
    return complete || started ? Outcome::Played : Outcome::NoOutput;
}

// The default equaliser and its presets, without an audio output.
class PresetTable : public SoundPlayer {
public:
    PresetTable()
        : SoundPlayer(nullptr, nullptr, true)
    {
    }
    void preload() override {}
    void start() override {}
    void stop() override {}
    void endOfData() override {}
};

} // namespace

int runPlay(const QStringList& arguments)
{
    Arguments args(kCommand);
    if (const auto stop = args.parse(arguments))
        return *stop;
    PresetTable presets;
    if (args.has("list-presets")) {
        printOut(presets.getEqPresets().join(QLatin1Char('\n')) + QLatin1Char('\n'));
        return ExitOk;
    }
    if (args.positional().isEmpty())
        return args.usageError(QStringLiteral("no file given"));
    Settings settings;
    if (args.has("preset")) {
        const QStringList names = presets.getEqPresets();
        for (int i = 0; i < names.size(); ++i)
            if (names.at(i).compare(args.value("preset"), Qt::CaseInsensitive) == 0)
                settings.preset = i;
        if (settings.preset < 0)
            return args.usageError(QStringLiteral("unknown preset '%1' (see --list-presets)").arg(args.value("preset")));
    }
    if (args.has("eq")) {
        const QStringList parts = args.value("eq").split(QLatin1Char(','));
        if (parts.size() != 9)
            return args.usageError(QStringLiteral("--eq needs nine gains, got %1").arg(parts.size()));
        for (const QString& part : parts) {
            bool ok = false;
            const double g = part.trimmed().toDouble(&ok);
            if (!ok || !(g >= -8.0 && g <= 8.0))
                return args.usageError(QStringLiteral("--eq gain '%1' is not a number from -8 to 8").arg(part));
            settings.gains.push_back(g);
        }
    }
    if (!args.number("gain", settings.gainDb, -40.0, 20.0))
        return args.usageError();
    settings.bassBoost = args.has("bass-boost");
    settings.levels = args.has("levels");

    std::vector<std::shared_ptr<SoundReader>> readers;
    for (const QString& fileName : args.positional()) {
        QString reason;
        std::unique_ptr<SoundReader> reader = openInput(fileName, reason);
        if (!reader) {
            printError(QStringLiteral("cannot open '%1': %2").arg(fileName, reason));
            return ExitFailed;
        }
        readers.emplace_back(std::move(reader));
    }
    if (QAudioDeviceInfo::defaultOutputDevice().isNull()) {
        printError(QStringLiteral("no audio output: no sound server or sound card is available"));
        return ExitFailed;
    }
    for (size_t i = 0; i < readers.size(); ++i) {
        switch (playOne(args.positional().at(int(i)), readers[i], settings)) {
        case Outcome::NoOutput:
            printError(QStringLiteral("no audio output: the default output could not be opened"));
            return ExitFailed;
        case Outcome::Interrupted:
            return interrupt::exitCode();
        case Outcome::Played:
            break;
        }
    }
    return ExitOk;
}
