#include "tulv/analysis/SoundStatFile.h"

#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/core/Utilities.h"
#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/io/SoundReader.h"
#include "tulv/spectral/SoundAlgoFFT.h"
#include "tulv/spectral/SoundAlgoFFTStats.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

const char* const kClass = "SoundStatFile";
// The only layout this library writes and knows how to read: the meaning of
// the keys of another version cannot be guessed.
const char* const kVersion = "1";

void release(SoundAlgo* algo)
{
    if (algo)
        algo->release();
}

QString describeMissing(const QString& fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isReadable())
        return QStringLiteral("permission denied");
    return QStringLiteral("not a statistics file (damaged or truncated)");
}

} // namespace

SoundStatFile::SoundStatFile()
    : mVersion(QLatin1String(kVersion))
{
}

SoundStatFile::SoundStatFile(const SoundStatFile& other)
    : mStepDetector(other.mStepDetector)
    , mFrequencies(other.mFrequencies)
    , mStats(other.mStats)
    , mFFTStats(other.mFFTStats)
    , mVersion(other.mVersion)
{
    takeReferences();
}

SoundStatFile& SoundStatFile::operator=(const SoundStatFile& other)
{
    if (this == &other)
        return *this;
    clear();
    mStepDetector = other.mStepDetector;
    mFrequencies = other.mFrequencies;
    mStats = other.mStats;
    mFFTStats = other.mFFTStats;
    mVersion = other.mVersion;
    takeReferences();
    return *this;
}

SoundStatFile::~SoundStatFile()
{
    clear();
}

void SoundStatFile::takeReferences()
{
    if (mStepDetector)
        mStepDetector->addRef();
    for (SoundAlgoStats* stats : mStats)
        stats->addRef();
    if (mFFTStats)
        mFFTStats->addRef();
}

QString SoundStatFile::getExtension()
{
    return QStringLiteral("ssf");
}

QString SoundStatFile::getFileName(const QString& name)
{
    const int slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, it does not start an extension.
    const QString base = dot > slash + 1 ? name.left(dot) : name;
    return base + QLatin1Char('.') + getExtension();
}

void SoundStatFile::clear()
{
    clearStats();
    clearStepDetector();
}

void SoundStatFile::clearStats()
{
    for (SoundAlgoStats* stats : mStats)
        stats->release();
    mStats.clear();
    release(mFFTStats);
    mFFTStats = nullptr;
    mFrequencies.clear();
}

void SoundStatFile::clearStepDetector()
{
    release(mStepDetector);
    mStepDetector = nullptr;
}

void SoundStatFile::setStats(const std::vector<double>& frequencies, const std::vector<SoundAlgoStats*>& stats,
                             bool addRef)
{
    clearStats();
    if (stats.size() != frequencies.size() + 1) {
        qCritical().nospace() << "SoundStatFile::setStats : incoherent input sizes stats=" << stats.size()
                              << " freqs=" << frequencies.size();
        return;
    }
    mFrequencies = frequencies;
    mStats = stats;
    if (addRef)
        for (SoundAlgoStats* s : mStats)
            s->addRef();
}

void SoundStatFile::setStats(const std::vector<double>& frequencies, SoundAlgoFFTStats* fftStats, bool addRef)
{
    clearStats();
    mFFTStats = fftStats;
    if (addRef && mFFTStats)
        mFFTStats->addRef();
    mFrequencies = frequencies;
}

void SoundStatFile::setStepDetector(RMSStepDetector* detector, bool addRef)
{
    if (detector && addRef)
        detector->addRef();
    clearStepDetector();
    mStepDetector = detector;
}

void SoundStatFile::getStats(std::vector<double>& frequencies, std::vector<SoundAlgoStats*>& stats) const
{
    frequencies = mFrequencies;
    stats = mStats;
}

bool SoundStatFile::hasStats() const
{
    return mFFTStats || !mStats.empty();
}

unsigned int SoundStatFile::getSampleRate() const
{
    if (!mStats.empty() && mStats.front()->getSampleRate() > 0)
        return mStats.front()->getSampleRate();
    if (mFFTStats && mFFTStats->getSampleRate() > 0)
        return mFFTStats->getSampleRate();
    return 44100;
}

std::vector<double> SoundStatFile::getRelativeLevels() const
{
    if (mFFTStats)
        return mFFTStats->getStats(mFrequencies);
    std::vector<double> levels;
    levels.reserve(mStats.size());
    double loudest = -100.0;
    for (const SoundAlgoStats* stats : mStats) {
        // A band that measured nothing is silent, not at full scale.
        const double level = stats->getCount() > 0 ? stats->getFullRMS() : -100.0;
        levels.push_back(level);
        loudest = std::max(loudest, level);
    }
    for (double& level : levels)
        level -= loudest;
    return levels;
}

SoundTools::Status SoundStatFile::measure(SoundReader& reader, const std::vector<double>& frequencies,
                                          unsigned int fftSize, SoundAlgo* before, const Runner& run)
{
    auto* graph = new SoundAlgoComposite(QStringLiteral("Band statistics"));
    if (before) {
        before->addRef();
        graph->pushAlgo(before);
    }
    SoundAlgoStats::FrequencyBuilder bands;
    SoundAlgoFFTStats* spectrum = nullptr;
    if (fftSize == 0) {
        auto* tree = new SoundAlgoComposite;
        tree->buildMultibandTree(frequencies, bands, SoundAlgoComposite::SplitCrossover);
        graph->pushAlgo(tree);
    } else {
        graph->pushAlgo(new SoundAlgoFFTDirectCompute(fftSize, true, true));
        spectrum = new SoundAlgoFFTStats;
        spectrum->addRef();
        graph->pushAlgo(spectrum);
    }
    const SoundTools::Status status = run ? run(*graph, reader) : graph->processAll(reader, nullptr);
    if (status == SoundTools::Ok) {
        if (spectrum)
            setStats(frequencies, spectrum, true);
        else
            setStats(frequencies, bands.getStatsVector(), true);
        if (auto* detector = dynamic_cast<RMSStepDetector*>(before))
            setStepDetector(detector, true);
    }
    release(spectrum);
    graph->release();
    return status;
}

bool SoundStatFile::writeJSonFile(QString name) const
{
    const QString fileName = getFileName(name);
    QJsonObject object;
    object.insert(QStringLiteral("Class"), QLatin1String(kClass));
    object.insert(QStringLiteral("Version"), mVersion);
    QJsonArray frequencies;
    for (double f : mFrequencies)
        frequencies.append(f);
    object.insert(QStringLiteral("BandFreqs"), frequencies);
    QJsonArray stats;
    for (const SoundAlgoStats* s : mStats) {
        QJsonObject band;
        s->writeToJSon(band);
        stats.append(band);
    }
    object.insert(QStringLiteral("BandStats"), stats);
    if (mStepDetector) {
        QJsonObject detector;
        mStepDetector->writeToJSon(detector);
        object.insert(QStringLiteral("StepDetector"), detector);
    }
    if (mFFTStats) {
        QJsonObject spectrum;
        mFFTStats->writeToJSon(spectrum);
        object.insert(QStringLiteral("FFTStats"), spectrum);
    }
    if (!Utilities::writeJSONToFile(QJsonDocument(object), fileName, true)) {
        SoundDebuggableClass::setError(
            QStringLiteral("cannot write '%1': %2").arg(fileName, Utilities::describeUnwritable(fileName)),
            "SoundStatFile::writeJSonFile");
        return false;
    }
    return true;
}

bool SoundStatFile::readJSonFile(QString name)
{
    const QString fileName = getFileName(name);
    const char* where = "SoundStatFile::readJSonFile";
    const QJsonDocument document = Utilities::readJSONFromFile(fileName, true);
    if (document.isNull()) {
        SoundDebuggableClass::setError(QStringLiteral("cannot read '%1': %2").arg(fileName, describeMissing(fileName)),
                                       where);
        return false;
    }
    const QJsonObject object = document.object();
    const QJsonValue cls = object.value(QStringLiteral("Class"));
    const QJsonValue version = object.value(QStringLiteral("Version"));
    if (object.isEmpty() || !cls.isString() || cls.toString() != QLatin1String(kClass) || !version.isString()) {
        SoundDebuggableClass::setError(QStringLiteral("'%1' is not a statistics file").arg(fileName), where);
        return false;
    }
    if (version.toString() != QLatin1String(kVersion)) {
        SoundDebuggableClass::setError(
            QStringLiteral("'%1' is a statistics file of version %2, which this library cannot read")
                .arg(fileName, version.toString()),
            where);
        return false;
    }
    clear();
    mVersion = version.toString();
    const QJsonValue frequencies = object.value(QStringLiteral("BandFreqs"));
    if (frequencies.isArray())
        for (const QJsonValue f : frequencies.toArray())
            mFrequencies.push_back(f.toDouble());
    const QJsonValue stats = object.value(QStringLiteral("BandStats"));
    if (stats.isArray())
        for (const QJsonValue band : stats.toArray())
            if (band.isObject())
                if (SoundAlgoStats* s = SoundAlgoStats::createFromJSon(band.toObject()))
                    mStats.push_back(s);
    const QJsonValue detector = object.value(QStringLiteral("StepDetector"));
    if (detector.isObject())
        mStepDetector = RMSStepDetector::createFromJSon(detector.toObject());
    const QJsonValue spectrum = object.value(QStringLiteral("FFTStats"));
    if (spectrum.isObject())
        mFFTStats = SoundAlgoFFTStats::createFromJSon(spectrum.toObject());
    return true;
}
