#ifndef TULV_APPS_CORRECTION_H
#define TULV_APPS_CORRECTION_H

#include "ConvertFile.h"
#include "Pass.h"

#include <tulv/tulv.h>

#include <QString>

#include <optional>
#include <vector>

// Band levels and references as the tool measures and uses them: what
// 'catalog add' stores and what 'convert --correct' brings a sound to.

// The bands analyze, catalog and convert measure by default: ten, split at
// 250, 500, 1000, 2000, 3000, 4000, 6000, 8000 and 10000 Hz.
std::vector<double> defaultBands();
// How far a band is brought towards a reference at most, in dB: a
// correction deeper than this would be repairing the sound, not matching it.
constexpr double kMaxCorrectionDb = 12.0;

// "F1,F2,..." into ascending frequencies above 0; false with `error`.
bool parseBands(const QString& text, std::vector<double>& bands, QString& error);

// Frames per block of a pass through the band tree: the tree holds some
// forty blocks at once, which at this size stay in the processor's cache (a
// tenth faster over a long file than the file jobs' 16384). One thread goes
// with it: the branches are a few filters each, lighter than what it takes a
// second thread to join in every block.
constexpr unsigned int kBandTreeBlockFrames = 4096;

// Measures the band levels of what `reader` gives from its position to its
// end, through the crossover tree analyze uses, with a progress report.
// `before`, when given, runs first in the same pass: the bands are those of
// what it gives.
PassResult measureBands(SoundReader& reader, const std::vector<double>& bands, SoundStatFile& stats, bool quiet,
                        SoundAlgo* before = nullptr);

// Whether the bands measured hold nothing but silence (-100 dB each).
bool isSilent(const SoundStatFile& stats);

// Reads the catalog of --correct CATALOG[:NAME]: a file of that whole name
// is the catalog, otherwise NAME follows the last colon. A catalog that
// cannot be read, holds no reference, or lacks NAME (the names it has are
// listed) is said on stderr and gives the exit code.
struct CorrectionTarget {
    QString file;
    QString name; // empty: the reference nearest to the sound
    SoundStatReferenceCatalog catalog;
};
std::optional<int> readCorrectionTarget(const QString& argument, CorrectionTarget& target);

// Runs the sound through the equaliser that brings its band levels to the
// reference, then through `next` (convert's gain and limiter). The
// equaliser only cuts; it is made of IIR sections, so OUT keeps IN's length
// and alignment.
class CorrectionStage : public FileStage {
public:
    CorrectionStage(const CorrectionTarget& target, QString in, FileStage& next);

    // Keeps the references whose bands the file's sample rate can hold;
    // refuses the file when none (or not the named one) can.
    bool prepare(SoundReader& reader, QString& problem) override;
    int refusalCode() const override { return ExitFailed; }
    PassResult analyse(SoundReader& reader, bool quiet) override;
    SoundAlgo* build(QString& problem) override;
    unsigned int tailFrames() const override { return mNext.tailFrames(); }

private:
    PassResult refine(SoundReader& reader, const SoundStatFile& original, bool quiet);

    const CorrectionTarget& mTarget;
    QString mIn;
    FileStage& mNext;
    unsigned int mRate = 0;
    std::vector<SoundStatReference> mCandidates; // in catalog order
    SoundStatReference mChosen;
    std::vector<double> mLevels; // dB per band, the equaliser's cuts
};

#endif
