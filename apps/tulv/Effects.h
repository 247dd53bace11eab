#ifndef TULV_APPS_EFFECTS_H
#define TULV_APPS_EFFECTS_H

#include "Pass.h"

#include <tulv/tulv.h>

#include <QString>
#include <QStringList>

#include <vector>

// The effects of 'tulv process': one row per effect, each naming the
// library algorithm it runs. The same rows give --list, the argument
// checks, the man page and the shell completion.

// One argument of an effect, in the order it is typed.
struct EffectArgument {
    const char* name;    // "FREQ": shown in --list and in errors
    const char* meaning; // "centre frequency, Hz"
    double low = 0.0, high = 0.0; // accepted range of a number (or of every item of a list)
    double fallback = 0.0; // value when left out; see `optional`
    bool optional = false;
    bool list = false;     // "F1,F2,…": one or more numbers, comma separated
    bool belowNyquist = false; // a frequency: must lie below half the file's sample rate
    QStringList words = {}; // a choice among these words instead of a number
};

// "--fft SIZE" or "--integrator" after an effect's arguments.
struct EffectFlag {
    const char* name;      // without the dashes
    const char* valueName; // null for a switch
    const char* meaning;
    QStringList words = {}; // the values a flag with a value takes; empty: a number in [low, high]
    double low = 0.0, high = 0.0;
    double fallback = 0.0;  // value of an absent flag with a value
};

struct EffectKind {
    const char* name;
    const char* summary;
    std::vector<EffectArgument> arguments;
    std::vector<EffectFlag> flags = {};
    const char* peer = nullptr; // the same filter as SoX writes it, when SoX has it
};

// Every effect, in the order --list shows them.
const std::vector<EffectKind>& effectKinds();
// The --list text.
QString effectListText();

// One effect of a chain as typed, checked against its row.
struct Effect {
    const EffectKind* kind = nullptr;
    std::vector<std::vector<double>> values; // per argument; a word gives its index, or its number
    std::vector<double> flags;               // per flag; a switch is 1 when given, 0 when not
    double value(size_t argument) const { return values[argument].front(); }
};

// Reads `tokens` (everything after IN and OUT) into effects. False with
// `error` naming the effect, the argument and the accepted range.
bool parseEffects(const QStringList& tokens, std::vector<Effect>& effects, QString& error);
// Whether the chain can run at `sampleRate`: frequencies below half of it,
// filters the designers can make. False with `error`.
bool checkEffects(const std::vector<Effect>& effects, unsigned int sampleRate, QString& error);

// Whether the effect needs a pass of its own over the sound before the
// written pass (an automatic gain learns the levels first).
bool needsAnalysis(const Effect& effect);
// The detector that the analysis pass of such an effect runs after the
// effects before it.
RMSStepDetector* newAnalysisDetector();
// Once the pass is over: marks the detector's quiet regions as noise.
void finishAnalysis(RMSStepDetector& detector);

// Effects [0, count) as one chain for `sampleRate`. `detectors` holds, for
// every effect that needs analysis, its finished detector (null for the
// others). Null with `error` when a member refuses the settings.
SoundAlgoComposite* buildChain(const std::vector<Effect>& effects, size_t count,
                               const std::vector<RMSStepDetector*>& detectors, unsigned int sampleRate, QString& error);
// Frames the chain adds after the end of the input (the delays).
unsigned int chainTail(const std::vector<Effect>& effects, unsigned int sampleRate);

#endif
