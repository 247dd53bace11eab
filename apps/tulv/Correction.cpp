#include "Correction.h"

#include "Commands.h"
#include "ConvertChecks.h"

#include <QFileInfo>

#include <omp.h>

#include <algorithm>
#include <cmath>

namespace {

// A band within this of where it should be is left as it is.
const double kCloseEnoughDb = 0.3;
const int kRefinePasses = 2;

QString hz(double f)
{
    return QString::number(f, 'f', 0);
}

} // namespace

std::vector<double> defaultBands()
{
    return SoundStatReference::getDefaultFrequencies();
}

bool parseBands(const QString& text, std::vector<double>& bands, QString& error)
{
    bands.clear();
    for (const QString& item : text.split(QLatin1Char(','))) {
        bool ok = false;
        const double f = item.trimmed().toDouble(&ok);
        if (!ok || !(f > 0.0) || !std::isfinite(f) || (!bands.empty() && f <= bands.back())) {
            error = QStringLiteral("--bands takes ascending frequencies above 0 Hz separated by commas, not '%1'").arg(text);
            return false;
        }
        bands.push_back(f);
    }
    return true;
}

PassResult measureBands(SoundReader& reader, const std::vector<double>& bands, SoundStatFile& stats, bool quiet,
                        SoundAlgo* before)
{
    SoundBuffer::setDefaultSize(kBandTreeBlockFrames);
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    PassResult result = PassResult::Done;
    stats.measure(reader, bands, 0, before, [&](SoundAlgo& graph, SoundReader& source) {
        result = runPass(QStringLiteral("measuring bands"), graph, source, nullptr, 0, quiet);
        return result == PassResult::Done ? SoundTools::Ok : SoundTools::Error;
    });
    omp_set_num_threads(threads);
    return result;
}

bool isSilent(const SoundStatFile& stats)
{
    std::vector<double> frequencies;
    std::vector<SoundAlgoStats*> bands;
    stats.getStats(frequencies, bands);
    return !bands.empty()
        && std::all_of(bands.begin(), bands.end(), [](const SoundAlgoStats* s) { return s->getFullRMS() <= -100.0; });
}

std::optional<int> readCorrectionTarget(const QString& argument, CorrectionTarget& target)
{
    target.file = argument;
    target.name.clear();
    const int colon = argument.lastIndexOf(QLatin1Char(':'));
    if (!QFileInfo::exists(argument) && colon > 0) {
        target.file = argument.left(colon);
        target.name = argument.mid(colon + 1);
    }
    const QString before = SoundDebuggableClass::getError();
    target.catalog.clear();
    if (!target.catalog.readJSonFile(target.file)) {
        printError(QStringLiteral("cannot read catalog '%1': %2")
                       .arg(target.file, QFileInfo::exists(target.file) ? libraryReason(before, QStringLiteral("not a catalog"))
                                                                        : QStringLiteral("No such file or directory")));
        return ExitFailed;
    }
    if (!target.name.isEmpty() && target.catalog.getReference(target.name).getName() != target.name) {
        printError(QStringLiteral("catalog '%1' has no reference '%2' (it has: %3)")
                       .arg(target.file, target.name, target.catalog.getNameList().join(QStringLiteral(", "))));
        return ExitFailed;
    }
    return std::nullopt;
}

CorrectionStage::CorrectionStage(const CorrectionTarget& target, QString in, FileStage& next)
    : mTarget(target)
    , mIn(std::move(in))
    , mNext(next)
{
}

bool CorrectionStage::prepare(SoundReader& reader, QString& problem)
{
    if (!mNext.prepare(reader, problem))
        return false;
    mRate = reader.getSampleRate();
    const double top = mRate / 2.0;
    // A reference compares only with a sound measured the same way; one
    // with a band edge at or above half the rate has a band the file cannot
    // hold, and its equaliser could not be built.
    const QString version = SoundStatFile().getVersion();
    QString refused;
    mCandidates.clear();
    for (const SoundStatReference& r : mTarget.catalog.getReferenceList()) {
        if (!mTarget.name.isEmpty() && r.getName() != mTarget.name)
            continue;
        QString why;
        if (r.isEmpty())
            why = QStringLiteral("reference '%1' holds no band levels").arg(r.getName());
        else if (r.getVersion() != version)
            why = QStringLiteral("reference '%1' is of version %2, not %3").arg(r.getName(), r.getVersion(), version);
        else if (r.getFrequencies().back() >= top)
            why = QStringLiteral("reference '%1' has a band edge at %2 Hz, at or above the %3 Hz a sample rate of %4 Hz holds")
                      .arg(r.getName(), hz(r.getFrequencies().back()), hz(top))
                      .arg(mRate);
        if (why.isEmpty()) {
            mCandidates.push_back(r);
            if (!mTarget.name.isEmpty())
                break;
        } else if (refused.isEmpty() || !mTarget.name.isEmpty()) {
            refused = why;
        }
    }
    if (!mCandidates.empty())
        return true;
    problem = QStringLiteral("cannot correct '%1': %2").arg(mIn,
                                                            mTarget.name.isEmpty() && mTarget.catalog.getReferenceList().size() > 1
                                                                ? QStringLiteral("no reference of '%1' serves it (%2)").arg(mTarget.file, refused)
                                                                : refused);
    return false;
}

PassResult CorrectionStage::analyse(SoundReader& reader, bool quiet)
{
    const PassResult before = mNext.analyse(reader, quiet);
    if (before != PassResult::Done)
        return before;
    // One pass per set of band edges (a catalog usually has one), then the
    // nearest of the references measured on it.
    std::vector<std::vector<double>> bandSets;
    std::vector<SoundStatFile> measured;
    double best = HUGE_VAL;
    SoundStatFile chosenStats;
    for (const SoundStatReference& r : mCandidates) {
        size_t set = 0;
        while (set < bandSets.size() && bandSets[set] != r.getFrequencies())
            ++set;
        if (set == bandSets.size()) {
            bandSets.push_back(r.getFrequencies());
            measured.emplace_back();
            reader.rewind();
            const PassResult result = measureBands(reader, bandSets.back(), measured.back(), quiet);
            if (result != PassResult::Done)
                return result;
        }
        const double distance = r.getDistance(measured[set]);
        if (distance >= 0.0 && distance < best) {
            best = distance;
            mChosen = r;
            chosenStats = measured[set];
        }
    }
    if (mChosen.isEmpty())
        return PassResult::Failed;
    mLevels = mChosen.getCorrectionLevels(chosenStats, kMaxCorrectionDb);
    // Silence has no spectrum to correct; chasing one would only pile up gains.
    if (isSilent(chosenStats)) {
        printWarning(QStringLiteral("'%1' is silent: nothing to correct").arg(mIn));
        mLevels.assign(mLevels.size(), 0.0);
        return PassResult::Done;
    }
    const PassResult refined = refine(reader, chosenStats, quiet);
    if (refined != PassResult::Done)
        return refined;
    if (!quiet) {
        QString cuts;
        for (double level : mLevels)
            cuts += QStringLiteral(" %1").arg(level, 0, 'f', 1);
        std::fprintf(stderr, "correcting '%s' to reference '%s', cut per band (dB):%s\n", qUtf8Printable(mIn),
                     qUtf8Printable(mChosen.getName()), qUtf8Printable(cuts));
    }
    return PassResult::Done;
}

// The equaliser is fitted to sound spread evenly over each band; real sound
// is not, and the crossovers that measure it let neighbouring bands leak in,
// so the levels it reaches can miss the reference by a dB or two. Measuring
// the equalised sound and moving each band by what it missed closes that
// gap in one or two more passes.
PassResult CorrectionStage::refine(SoundReader& reader, const SoundStatFile& original, bool quiet)
{
    // What each band should become, up to a constant: its level plus the
    // correction asked for (already clamped, so an unreachable reference is
    // not chased past the limit).
    std::vector<double> wanted = original.getRelativeLevels();
    if (wanted.size() != mLevels.size())
        return PassResult::Done;
    for (size_t b = 0; b < wanted.size(); ++b)
        wanted[b] += mLevels[b];
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        AlgoRef<SoundAlgo> equaliser(mChosen.buildCorrectionFilter(mLevels, false, mRate));
        if (!equaliser)
            return PassResult::Done; // build() says why
        SoundStatFile corrected;
        reader.rewind();
        // The measurement runs on what the equaliser lets through.
        const PassResult result = measureBands(reader, mChosen.getFrequencies(), corrected, quiet, equaliser.get());
        if (result != PassResult::Done)
            return result;
        const std::vector<double> got = corrected.getRelativeLevels();
        if (got.size() != wanted.size())
            return PassResult::Done;
        // Both lists are relative to their loudest band: the offset between
        // them is not an error.
        double offset = wanted[0] - got[0], worst = 0.0;
        for (size_t b = 0; b < got.size(); ++b)
            offset = std::max(offset, wanted[b] - got[b]);
        for (size_t b = 0; b < got.size(); ++b)
            worst = std::max(worst, offset - (wanted[b] - got[b]));
        if (worst < kCloseEnoughDb)
            break;
        double loudest = -HUGE_VAL;
        for (size_t b = 0; b < got.size(); ++b)
            loudest = std::max(loudest, mLevels[b] += wanted[b] - got[b]);
        for (double& level : mLevels)
            level -= loudest;
    }
    return PassResult::Done;
}

SoundAlgo* CorrectionStage::build(QString& problem)
{
    const QString before = SoundDebuggableClass::getError();
    AlgoRef<SoundAlgo> equaliser(mChosen.buildCorrectionFilter(mLevels, false, mRate));
    if (!equaliser) {
        problem = QStringLiteral("cannot correct '%1': %2").arg(mIn, libraryReason(before, QStringLiteral("the equaliser cannot be built")));
        return nullptr;
    }
    AlgoRef<SoundAlgo> next(mNext.build(problem));
    if (!next)
        return nullptr;
    auto* chain = new SoundAlgoComposite();
    chain->pushAlgo(equaliser.release());
    chain->pushAlgo(next.release());
    return chain;
}
