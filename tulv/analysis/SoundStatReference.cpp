#include "tulv/analysis/SoundStatReference.h"

#include "tulv/analysis/SoundStatFile.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/SoundAlgoFilter.h"
#include "tulv/spectral/SoundAlgoMultibandScale.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <valarray>

namespace {

const double kDefaultFrequencies[] = { 250, 500, 1000, 2000, 3000, 4000, 6000, 8000, 10000 };
const double kDefaultLevels[] = { 0.0, -3.72, -4.37, -6.39, -10.95, -13.74, -14.94, -17.92, -20.23, -20.24 };

// The band around 2.8 kHz, 3.5 octaves wide, where the ear is most sensitive:
// cuts there make a sound seem quieter, so the output gain gives some back.
const double kPresenceCentre = 2800.0; // Hz
const double kPresenceWidth = 3.5; // octaves
// A section that changes its band by less than this costs time and does nothing.
const double kInaudibleDb = 0.01;

// Band frequencies read back from a file or a catalog are the numbers that
// were saved; this only absorbs the rounding of a text round trip.
bool sameFrequencies(const std::vector<double>& a, const std::vector<double>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::abs(a[i] - b[i]) > 1e-9 * std::max(std::abs(a[i]), 1.0))
            return false;
    return true;
}

// The sections of a correction equaliser: a low shelf at the first
// frequency, a band equaliser spanning each band between two frequencies, a
// high shelf at the last. The sections overlap: a band equaliser still cuts
// at half its gain at its band's edges, and a shelf reaches well into the
// next bands, so set to the wanted levels they would cut the middle bands
// several dB too deep. Their gains are refined until the mean level of the
// cascade over each band (for sound spread evenly over the band, as in
// noise and in the FFT band statistics) is the wanted one.
class Correction {
public:
    Correction(const std::vector<double>& freqs, double rate)
        : mRate(rate)
    {
        using SoundTools::BiquadEqBuilder;
        const size_t n = freqs.size();
        mSections.push_back(std::make_shared<BiquadEqBuilder>(SoundTools::LowShelf, freqs[0], 1.0, 0.0));
        for (size_t i = 1; i < n; ++i) {
            double centre = 0.0, width = 0.0;
            SoundTools::get_fco(freqs[i - 1], freqs[i], centre, width);
            mSections.push_back(std::make_shared<BiquadEqBuilder>(SoundTools::BandEq, centre, width, 0.0));
        }
        mSections.push_back(std::make_shared<BiquadEqBuilder>(SoundTools::HighShelf, freqs[n - 1], 1.0, 0.0));
        // Points evenly spread over every band, up to half the rate.
        for (size_t band = 0; band <= n; ++band) {
            const double from = band == 0 ? 0.0 : std::min(freqs[band - 1], rate / 2);
            const double to = band == n ? rate / 2 : std::min(freqs[band], rate / 2);
            std::vector<double> points;
            for (int k = 0; k < kPointsPerBand; ++k)
                points.push_back(from + (to - from) * (k + 0.5) / kPointsPerBand);
            mPoints.push_back(points);
        }
    }

    // Sections whose gains bring the band means to `levels` (dB) as near as
    // they can: the band errors go into the gains until the largest error
    // stops falling. Costs iterations × sections × points biquad responses,
    // a few milliseconds.
    std::vector<std::shared_ptr<SoundTools::BiquadEqBuilder>> fit(const std::vector<double>& levels)
    {
        std::vector<double> gains = levels, best = levels;
        double bestError = HUGE_VAL;
        for (int iteration = 0; iteration < kIterations; ++iteration) {
            const std::vector<double> got = bandMeans(gains);
            double error = 0.0;
            for (size_t b = 0; b < gains.size(); ++b)
                error = std::max(error, std::abs(levels[b] - got[b]));
            if (error < bestError) {
                bestError = error;
                best = gains;
            }
            if (error < kCloseEnough)
                break;
            for (size_t b = 0; b < gains.size(); ++b)
                gains[b] = std::clamp(gains[b] + kStep * (levels[b] - got[b]), kLowestGain, kHighestGain);
        }
        for (size_t s = 0; s < mSections.size(); ++s)
            mSections[s]->setGain(best[s]);
        return mSections;
    }

private:
    // Mean power gain of the cascade over each band, in dB.
    std::vector<double> bandMeans(const std::vector<double>& gains)
    {
        std::vector<std::valarray<double>> b, a;
        for (size_t s = 0; s < mSections.size(); ++s) {
            mSections[s]->setGain(gains[s]);
            mSections[s]->init(unsigned(mRate));
            b.push_back(mSections[s]->getBCoeff());
            a.push_back(mSections[s]->getACoeff());
        }
        std::vector<double> means;
        for (const std::vector<double>& points : mPoints) {
            double sum = 0.0;
            for (double f : points) {
                const std::complex<double> z1 = std::polar(1.0, -2 * M_PI * f / mRate); // z^-1
                double power = 1.0;
                for (size_t s = 0; s < b.size(); ++s) {
                    const std::complex<double> zeros = b[s][0] + z1 * (b[s][1] + z1 * b[s][2]);
                    power *= std::norm(zeros / (1.0 + z1 * (a[s][1] + z1 * a[s][2])));
                }
                sum += power;
            }
            means.push_back(10 * std::log10(sum / double(points.size())));
        }
        return means;
    }

    static constexpr int kPointsPerBand = 48;
    static constexpr int kIterations = 60;
    static constexpr double kStep = 0.8; // below 1: neighbours share the error of a band edge
    static constexpr double kCloseEnough = 0.05; // dB
    // A section deeper or higher than this only rings: what it cannot reach
    // is out of reach.
    static constexpr double kLowestGain = -48.0, kHighestGain = 24.0; // dB

    double mRate; // Hz
    std::vector<std::shared_ptr<SoundTools::BiquadEqBuilder>> mSections;
    std::vector<std::vector<double>> mPoints; // Hz, per band
};

QJsonArray toArray(const std::vector<double>& values)
{
    QJsonArray array;
    for (double v : values)
        array.append(v);
    return array;
}

std::vector<double> fromArray(const QJsonArray& array)
{
    std::vector<double> values;
    values.reserve(size_t(array.size()));
    for (const QJsonValue v : array)
        values.push_back(v.toDouble());
    return values;
}

} // namespace

void SoundStatReference::initDefault(const QString& name)
{
    mName = name;
    mVersion = QStringLiteral("1");
    mFrequencies = getDefaultFrequencies();
    mLevels.assign(std::begin(kDefaultLevels), std::end(kDefaultLevels));
}

std::vector<double> SoundStatReference::getDefaultFrequencies()
{
    return std::vector<double>(std::begin(kDefaultFrequencies), std::end(kDefaultFrequencies));
}

SoundStatReference SoundStatReference::fromStatFile(const QString& name, const SoundStatFile& file)
{
    SoundStatReference reference;
    if (!file.hasStats())
        return reference;
    reference.mName = name;
    reference.mVersion = file.getVersion();
    reference.mFrequencies = file.getFrequencies();
    reference.mLevels = file.getRelativeLevels();
    return reference;
}

bool SoundStatReference::isEmpty() const
{
    return mFrequencies.empty() || mLevels.empty() || mLevels.size() != mFrequencies.size() + 1;
}

QStringList SoundStatReference::getFrequencyDescriptors(double topFrequency) const
{
    QStringList labels;
    if (mFrequencies.empty())
        return labels;
    const auto hz = [](double f) { return QString::number(f, 'f', 0); };
    labels << QStringLiteral("[0,%1]").arg(hz(mFrequencies.front()));
    for (size_t i = 1; i < mFrequencies.size(); ++i)
        labels << QStringLiteral("[%1,%2]").arg(hz(mFrequencies[i - 1]), hz(mFrequencies[i]));
    labels << QStringLiteral("[%1,%2]").arg(hz(mFrequencies.back()), hz(topFrequency));
    return labels;
}

double SoundStatReference::getDistance(const SoundStatFile& file) const
{
    // Levels of other bands, or of another way of measuring them, say
    // nothing about this reference: comparing them would pick a wrong one.
    if (isEmpty() || mVersion != file.getVersion() || !file.hasStats()
        || !sameFrequencies(mFrequencies, file.getFrequencies()))
        return -1.0;
    const std::vector<double> levels = file.getRelativeLevels();
    if (levels.size() != mLevels.size())
        return -1.0;
    double sum = 0.0;
    for (size_t i = 0; i < levels.size(); ++i)
        sum += (mLevels[i] - levels[i]) * (mLevels[i] - levels[i]);
    return std::sqrt(sum);
}

std::vector<double> SoundStatReference::getCorrectionLevels(const SoundStatFile& file, double maximumDb) const
{
    if (!sameFrequencies(mFrequencies, file.getFrequencies()))
        return {};
    const std::vector<double> levels = file.getRelativeLevels();
    std::vector<double> corrections(std::min(levels.size(), mLevels.size()));
    double largest = 0.0;
    for (size_t i = 0; i < corrections.size(); ++i) {
        corrections[i] = std::clamp(mLevels[i] - levels[i], -maximumDb, maximumDb);
        largest = std::max(largest, corrections[i]);
    }
    for (double& c : corrections)
        c -= largest;
    return corrections;
}

SoundAlgoFilter* SoundStatReference::buildCorrectionFilter(const std::vector<double>& levels, bool setOutputGain,
                                                           unsigned int sampleRate) const
{
    const size_t n = mFrequencies.size();
    const char* where = "SoundStatReference::buildCorrectionFilter";
    if (n == 0 || levels.size() != n + 1 || sampleRate == 0) {
        SoundDebuggableClass::setError(QStringLiteral("%1 correction levels for the %2 bands of reference '%3'")
                                           .arg(levels.size())
                                           .arg(n == 0 ? 0 : n + 1)
                                           .arg(mName),
                                       where);
        return nullptr;
    }
    // Band edges out of order would give band equalisers of no width or
    // negative frequency: filters that ring or blow up rather than correct.
    for (size_t i = 0; i < n; ++i)
        if (!(mFrequencies[i] > (i == 0 ? 0.0 : mFrequencies[i - 1]))) {
            SoundDebuggableClass::setError(
                QStringLiteral("the band frequencies of reference '%1' are not positive and ascending").arg(mName),
                where);
            return nullptr;
        }
    auto* filter = new SoundAlgoFilter;
    double low = 0.0, high = 0.0;
    SoundTools::get_minmax(kPresenceCentre, kPresenceWidth, low, high);
    double gain = 0.0;
    for (size_t i = 1; i < n; ++i)
        if (levels[i] != 0.0 && mFrequencies[i] >= low && mFrequencies[i - 1] <= high) {
            const double band = std::pow(10.0, levels[i] / 20.0);
            const double sofar = std::pow(10.0, gain / 20.0);
            gain = std::sqrt(band * band + sofar * sofar);
        }
    if (setOutputGain)
        filter->setOutputGain(gain);
    if (std::all_of(levels.begin(), levels.end(), [](double l) { return l == 0.0; }))
        return filter;
    Correction correction(mFrequencies, double(sampleRate));
    for (const std::shared_ptr<SoundTools::BiquadEqBuilder>& section : correction.fit(levels))
        if (std::abs(section->gain()) >= kInaudibleDb)
            filter->pushFilter(section);
    return filter;
}

SoundAlgoMultibandScale* SoundStatReference::buildScaleFilter(const std::vector<double>& levels) const
{
    if (mFrequencies.empty() || levels.size() != mFrequencies.size() + 1) {
        SoundDebuggableClass::setError(QStringLiteral("%1 scale levels for the bands of reference '%2'")
                                           .arg(levels.size())
                                           .arg(mName),
                                       "SoundStatReference::buildScaleFilter");
        return nullptr;
    }
    return new SoundAlgoMultibandScale(mFrequencies, levels, SoundAlgoComposite::SplitBiquad);
}

void SoundStatReference::writeToJSon(QJsonObject& object) const
{
    object.insert(QStringLiteral("Class"), QStringLiteral("SoundStatReference"));
    object.insert(QStringLiteral("Name"), mName);
    object.insert(QStringLiteral("Frequency"), toArray(mFrequencies));
    object.insert(QStringLiteral("RelativeLevel"), toArray(mLevels));
    object.insert(QStringLiteral("Version"), mVersion);
}

bool SoundStatReference::readFromJSon(QJsonObject object, QString nameKey)
{
    const QJsonValue cls = object.value(QStringLiteral("Class"));
    if (!cls.isString() || cls.toString() != QLatin1String("SoundStatReference"))
        return false;
    QJsonValue name = nameKey.isEmpty() ? QJsonValue() : object.value(nameKey);
    if (!name.isString())
        name = object.value(QStringLiteral("Name"));
    if (!name.isString())
        return false;
    mName = name.toString();
    const QJsonValue frequencies = object.value(QStringLiteral("Frequency"));
    if (!frequencies.isArray())
        return false;
    mFrequencies = fromArray(frequencies.toArray());
    const QJsonValue levels = object.value(QStringLiteral("RelativeLevel"));
    if (!levels.isArray())
        return false;
    mLevels = fromArray(levels.toArray());
    const QJsonValue version = object.value(QStringLiteral("Version"));
    if (!version.isString())
        return false;
    mVersion = version.toString();
    return true;
}
