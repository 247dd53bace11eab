#include "Arguments.h"
#include "Commands.h"
#include "ConvertFile.h"
#include "Effects.h"

#include <tulv/tulv.h>

namespace {

std::vector<OptionInfo> processOptions()
{
    std::vector<OptionInfo> options = fileOptions();
    options.push_back({ "list", nullptr, "list the effects with their arguments, units and ranges" });
    return options;
}

const CommandInfo kProcessCommand = {
    "process",
    R"(Usage: tulv process [OPTIONS] IN OUT EFFECT [ARGS...] [EFFECT [ARGS...]]...
       tulv process --list

Runs IN through a chain of effects into OUT: each effect takes the sound as
the one before it left it. Effects and their arguments come after IN and OUT;
the options below may stand anywhere. For example:

  tulv process in.flac out.flac eq 100 1 3 eq 8000 2 -2 limit 3
  tulv process in.wav out.wav bandpass 300 3400 --fft 4096 gain 6

'tulv process --list' shows every effect. Linear-phase filters (bandpass,
bandstop, multiband-agc --fft) are compensated: OUT lines up with IN frame for
frame. agc and multiband-agc read IN once more first, to learn its levels.
)",
    processOptions(),
    R"(OUT is written under a temporary name and renamed when complete, as by
'tulv convert'; a bad effect or argument stops before anything is read or
written (exit status 2).
)",
};

// The effect chain between IN and OUT, with the passes its automatic gains
// need before.
class ChainStage : public FileStage {
public:
    ChainStage(const std::vector<Effect>& effects, QString in)
        : mEffects(effects)
        , mIn(std::move(in))
        , mDetectors(effects.size(), nullptr)
    {
    }
    ~ChainStage() override
    {
        for (RMSStepDetector* detector : mDetectors)
            if (detector)
                detector->release();
    }

    bool prepare(SoundReader& reader, QString& problem) override
    {
        mRate = reader.getSampleRate();
        if (checkEffects(mEffects, mRate, problem))
            return true;
        problem = QStringLiteral("process: %1 (in '%2')").arg(problem, mIn);
        return false;
    }

    // One pass per automatic gain, through the effects before it: each
    // learns the sound it will see.
    PassResult analyse(SoundReader& reader, bool quiet) override
    {
        for (size_t i = 0; i < mEffects.size(); ++i) {
            if (!needsAnalysis(mEffects[i]))
                continue;
            QString problem;
            AlgoRef<SoundAlgoComposite> chain(buildChain(mEffects, i, mDetectors, mRate, problem));
            if (!chain)
                return PassResult::Failed;
            RMSStepDetector* detector = newAnalysisDetector();
            chain->pushAlgo(detector);
            detector->addRef();
            mDetectors[i] = detector;
            reader.rewind();
            const PassResult result = runPass(QStringLiteral("measuring"), *chain, reader, nullptr, 0, quiet);
            if (result != PassResult::Done)
                return result;
            finishAnalysis(*detector);
        }
        return PassResult::Done;
    }

    SoundAlgo* build(QString& problem) override
    {
        return buildChain(mEffects, mEffects.size(), mDetectors, mRate, problem);
    }

    unsigned int tailFrames() const override { return chainTail(mEffects, mRate); }

private:
    const std::vector<Effect>& mEffects;
    QString mIn;
    std::vector<RMSStepDetector*> mDetectors; // a counted reference per automatic gain
    unsigned int mRate = 0;
};

// The options of the command (anywhere on the line) and IN and OUT go to
// `head`; the effects after OUT, with their own options ("--fft 4096"), go
// to `chain`. A negative number is an argument, never an option.
void splitCommandLine(const QStringList& arguments, QStringList& head, QStringList& chain)
{
    int positional = 0;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& item = arguments.at(i);
        const QString name = item.mid(item.startsWith(QLatin1String("--")) ? 2 : 1).section(QLatin1Char('='), 0, 0);
        const OptionInfo* option = nullptr;
        for (const OptionInfo& candidate : kProcessCommand.options)
            if (QString::fromLatin1(candidate.names).split(QLatin1Char(',')).contains(name))
                option = &candidate;
        const bool isOption = item.startsWith(QLatin1Char('-')) && item != QLatin1String("-")
                              && (positional < 2 || option || name == QLatin1String("h") || name == QLatin1String("help"));
        if (isOption) {
            head << item;
            // An option's value is the next item unless given with '='.
            if (option && option->valueName && !item.contains(QLatin1Char('=')) && i + 1 < arguments.size())
                head << arguments.at(++i);
        } else if (positional < 2) {
            head << item;
            ++positional;
        } else {
            chain << item;
        }
    }
}

} // namespace

int runProcess(const QStringList& arguments)
{
    QStringList head, tokens;
    splitCommandLine(arguments, head, tokens);
    Arguments args(kProcessCommand);
    if (const auto stop = args.parse(head))
        return *stop;
    if (args.has("list")) {
        printOut(effectListText());
        return ExitOk;
    }
    const QStringList positional = args.positional();
    if (positional.size() < 2)
        return args.usageError(QStringLiteral("needs IN, OUT and an effect"));
    std::vector<Effect> effects;
    QString problem;
    if (!parseEffects(tokens, effects, problem)) {
        printError(QStringLiteral("process: %1 (see 'tulv process --list')").arg(problem));
        return ExitUsage;
    }
    const QString& out = positional.at(1);
    const QString kind = out == QLatin1String("-") ? QStringLiteral("-.wav") : out;
    ConvertSettings settings;
    if (const auto stop = readFileSettings(args, kind, kind, settings))
        return *stop;
    ChainStage stage(effects, positional.at(0));
    return convertFile(settings, positional.at(0), out, kind, stage);
}
