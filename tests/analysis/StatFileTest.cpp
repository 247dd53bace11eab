// Statistics files and reference catalogs: noise shaped to a reference is
// matched to it and corrected onto another one; files survive the disk and
// damaged ones are refused without harm.
#include "tests/support/Common.h"
#include "tests/support/IoFiles.h"
#include "tests/support/MemoryIO.h"
#include "tulv/tulv.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <complex>
#include <random>
#include <tuple>

using namespace testsupport;

namespace {

const unsigned int kRate = 44100;

// Stereo noise of 2^15 frames whose band i (between the split frequencies)
// holds a power of `levelsDb[i]` dB relative to the others, spread evenly
// over its bins: random-phase sinusoids on the bins of a 2^15-point period,
// cosines on the left and the matching sines on the right, summed by the
// library's inverse transform (which divides by N and counts each bin twice).
std::vector<double> shapedNoise(const std::vector<double>& freqs, const std::vector<double>& levelsDb)
{
    const size_t n = 1 << 15;
    std::vector<size_t> bandOf(n / 2), binsIn(levelsDb.size());
    for (size_t k = 1; k < n / 2; ++k) {
        bandOf[k] = size_t(std::upper_bound(freqs.begin(), freqs.end(), double(k) * kRate / n) - freqs.begin());
        ++binsIn[bandOf[k]];
    }
    std::vector<double> spectrum(2 * n + 4, 0.0), out(2 * n);
    std::mt19937 random(7);
    for (size_t k = 1; k < n / 2; ++k) {
        const double amplitude = 0.1 * std::pow(10.0, levelsDb[bandOf[k]] / 20) / std::sqrt(double(binsIn[bandOf[k]]));
        const std::complex<double> x = std::polar(amplitude * double(n / 2), 2 * M_PI * (random() / 4294967296.0));
        spectrum[2 * k] = x.real();
        spectrum[2 * k + 1] = x.imag();
        spectrum[n + 2 + 2 * k] = x.imag(); // −i·x: the sine
        spectrum[n + 3 + 2 * k] = -x.real();
    }
    FFTARadix2 engine;
    engine.setSize(int(n));
    engine.inverseStereo(spectrum.data(), out.data());
    return out;
}

SoundStatFile measured(const std::vector<double>& sound, const std::vector<double>& freqs, unsigned int fft = 0)
{
    SoundStatFile file;
    VectorReader reader(sound, kRate);
    EXPECT_EQ(file.measure(reader, freqs, fft), SoundTools::Ok) << SoundDebuggableClass::getError().toStdString();
    return file;
}

SoundStatReference reference(const char* name, std::vector<double> levels)
{
    SoundStatReference r;
    r.initDefault(name);
    if (!levels.empty())
        r.setLevels(levels);
    return r;
}

} // namespace

TEST(SoundStatReferenceMatch, ShapedNoiseFindsItsReferenceAndTheCorrectionReachesTheNext)
{
    SoundStatReferenceCatalog catalog;
    catalog.addReference(reference("default", {}));
    catalog.addReference(reference("flat", std::vector<double>(10, 0.0)));
    catalog.addReference(reference("bright", { -12, -10, -8, -6, -4, -3, -2, -1, 0, -1 }));
    catalog.addReference(reference("scooped", { 0, -2, -6, -10, -12, -12, -10, -6, -3, -2 }));
    // Neither a reference without levels nor one of other bands says
    // anything about these sounds: neither may come out nearest.
    SoundStatReferenceCatalog withStrays = catalog;
    withStrays.addReference(reference("empty", { 0.0 }));
    SoundStatReference otherBands = reference("other bands", {});
    otherBands.setFrequencies({ 250, 500, 1000, 2000, 3000, 4000, 6000, 8000, 12000 });
    const std::vector<double> freqs = SoundStatReference::getDefaultFrequencies();
    const std::vector<SoundStatReference>& all = catalog.getReferenceList();
    for (size_t r = 0; r < all.size(); ++r) {
        const SoundStatReference& from = all[r];
        const SoundStatReference& to = all[(r + 1) % all.size()];
        SCOPED_TRACE(from.getName().toStdString() + " to " + to.getName().toStdString());
        const std::vector<double> sound = shapedNoise(freqs, from.getLevels());
        // The band tree's own splitters blur steep band edges by up to 1 dB
        // and more; the FFT bands do not.
        for (const auto& [fft, tolerance] : { std::pair { 0u, 1.5 }, { 8192u, 1.0 } }) {
            SCOPED_TRACE(fft);
            const SoundStatFile file = measured(sound, freqs, fft);
            otherBands.setLevels(file.getRelativeLevels());
            withStrays.addReference(otherBands);
            EXPECT_EQ(withStrays.getNearestReference(file).getName().toStdString(), from.getName().toStdString());
            AlgoRef<SoundAlgoFilter> filter(to.buildCorrectionFilter(to.getCorrectionLevels(file, 24.0), true));
            ASSERT_TRUE(filter);
            const std::vector<double> got = measured(runThrough(*filter, sound), freqs, fft).getRelativeLevels();
            ASSERT_EQ(got.size(), 10u);
            for (size_t b = 0; b < got.size(); ++b)
                EXPECT_NEAR(got[b], to.getLevels()[b], tolerance) << "band " << b;
        }
    }
    // Levels or frequencies that do not make a filter make none.
    EXPECT_FALSE(catalog.getReferenceList()[0].buildCorrectionFilter({ -1.0, -2.0 }, true));
    EXPECT_EQ(all[0].getFrequencyDescriptors(22050).join(' '),
              "[0,250] [250,500] [500,1000] [1000,2000] [2000,3000] [3000,4000] [4000,6000] [6000,8000] "
              "[8000,10000] [10000,22050]");
    otherBands.setFrequencies({ 250, 500, 1000, 2000, 3000, 4000, 6000, 10000, 8000 });
    EXPECT_FALSE(otherBands.buildCorrectionFilter(std::vector<double>(10, -1.0), true));
}

TEST(SoundStatFileDisk, FilesAndCatalogsRoundTripAndDamagedOnesAreRefusedUntouched)
{
    QTemporaryDir dir;
    const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const auto bytes = [](const QString& name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    };
    const std::vector<double> freqs = SoundStatReference::getDefaultFrequencies(), flat(10, 0.0);
    // A file keeps its bands, spectrum and detector; saved as a sound's name
    // it goes beside the sound, never over it.
    for (const auto& [name, saved, fft, rate] :
         { std::tuple { "take.wav", "take.ssf", 0u, kRate }, { "spectrum", "spectrum.ssf", 4096u, 48000u } }) {
        SCOPED_TRACE(name);
        SoundStatFile file;
        VectorReader reader(shapedNoise(freqs, flat), rate);
        AlgoRef<RMSStepDetector> detector(new RMSStepDetector(-40.0, 0.2, 1.0, RMSStepDetector::PassThrough));
        ASSERT_EQ(file.measure(reader, freqs, fft, detector.get()), SoundTools::Ok);
        ASSERT_TRUE(file.writeJSonFile(path(name)));
        EXPECT_FALSE(QFile::exists(path(name)));
        SoundStatFile back;
        ASSERT_TRUE(back.readJSonFile(path(saved)));
        EXPECT_EQ(back.getRelativeLevels(), file.getRelativeLevels());
        EXPECT_EQ(back.getSampleRate(), rate);
        ASSERT_TRUE(back.getStepDetector());
        EXPECT_EQ(back.getStepDetector()->getRegions().size(), detector->getRegions().size());
        // A stopped run leaves what the file held.
        const auto stopAtOnce = [](SoundAlgo& graph, SoundReader& in) {
            QObject::connect(&graph, &SoundAlgo::notifyInProgress, [&graph] { graph.pleaseStop(); });
            return graph.processAll(in, nullptr);
        };
        reader.rewind();
        EXPECT_EQ(back.measure(reader, { 1000.0 }, fft, nullptr, stopAtOnce), SoundTools::Stopped);
        ASSERT_TRUE(back.writeJSonFile(path("again")));
        EXPECT_EQ(bytes(path("again.ssf")), bytes(path(saved)));
    }
    // Catalogs: text under ".json", binary under any other name.
    SoundStatFile take;
    ASSERT_TRUE(take.readJSonFile(path("take.ssf")));
    // A band that measured nothing reads as silent, not as the loudest.
    std::vector<double> edges;
    std::vector<SoundAlgoStats*> bands;
    take.getStats(edges, bands);
    for (SoundAlgoStats*& band : bands)
        band = &band == &bands.back() ? new SoundAlgoStats(SoundAlgoStats::StatsOnly, 0.0) : (band->addRef(), band);
    SoundStatFile partial;
    partial.setStats(edges, bands, false);
    EXPECT_LT(partial.getRelativeLevels().back(), -60.0);
    SoundStatReferenceCatalog catalog;
    catalog.addReference(reference("default", {}));
    catalog.addReference(SoundStatReference::fromStatFile("take", take));
    ASSERT_TRUE(catalog.writeJSonFile(path("refs.txt")));
    const QByteArray ssf = bytes(path("take.ssf")), json = bytes(path("refs.json"));
    ASSERT_TRUE(Utilities::writeJSONToFile(QJsonDocument::fromJson(json), path("refs.bin"), true));
    for (const char* name : { "refs.json", "refs.bin" }) {
        SoundStatReferenceCatalog back;
        ASSERT_TRUE(back.readJSonFile(path(name))) << name;
        EXPECT_EQ(back.getNameList(), QStringList({ "default", "take" }));
        EXPECT_EQ(back.getReference("take").getLevels(), take.getRelativeLevels());
        EXPECT_EQ(back.getNearestReference(take).getName(), "take");
    }

    QJsonArray oneBad = QJsonDocument::fromJson(json).array();
    oneBad.append(QJsonObject { { "Class", "SoundStatReference" } });
    // Name, content (none: the file is missing), catalog or not, document.
    using Case = std::tuple<const char*, QByteArray, bool, QJsonDocument>;
    const Case cases[] = {
        { "missing.ssf", {}, false, {} },
        { "truncated.ssf", ssf.left(ssf.size() / 2), false, {} },
        { "class.ssf", {}, false, QJsonDocument(QJsonObject { { "Class", "SoundAlgoStats" }, { "Version", "1" } }) },
        { "version.ssf", {}, false, QJsonDocument(QJsonObject { { "Class", "SoundStatFile" }, { "Version", "2" } }) },
        { "missing.json", {}, true, {} },
        { "truncated.json", json.left(json.size() - 20), true, {} },
        { "empty.json", "[]", true, {} },
        { "element.json", {}, true, QJsonDocument(oneBad) },
    };
    for (const auto& [name, content, isCatalog, document] : cases) {
        SCOPED_TRACE(name);
        if (!document.isNull()) {
            ASSERT_TRUE(Utilities::writeJSONToFile(document, path(name), true));
        } else if (!content.isNull()) {
            ASSERT_TRUE(iotest::writeBytes(path(name), content));
        }
        QMap<QString, QByteArray> before;
        for (const QString& n : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            before.insert(n, bytes(dir.filePath(n)));
        SoundStatFile file = take;
        SoundStatReferenceCatalog refs;
        EXPECT_FALSE(isCatalog ? refs.readJSonFile(path(name)) : file.readJSonFile(path(name)));
        EXPECT_TRUE(SoundDebuggableClass::getError().contains(path(name)));
        EXPECT_EQ(file.getRelativeLevels(), take.getRelativeLevels());
        EXPECT_EQ(refs.getReferenceList().size(), QString(name) == "element.json" ? 2u : 0u);
        for (const QString& n : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            EXPECT_EQ(bytes(dir.filePath(n)), before.value(n, "(new)")) << n.toStdString();
    }
    // Emptied, the catalog goes; a file of the user's under the name given stays.
    ASSERT_TRUE(iotest::writeBytes(path("refs.txt"), "notes"));
    EXPECT_TRUE(SoundStatReferenceCatalog().writeJSonFile(path("refs.txt")));
    EXPECT_FALSE(QFile::exists(path("refs.json")));
    EXPECT_EQ(bytes(path("refs.txt")), "notes");
    // A link stays a link: the emptied catalog is written through it.
    ASSERT_TRUE(QFile::link(path("refs.bin"), path("linked.json")));
    EXPECT_TRUE(SoundStatReferenceCatalog().writeJSonFile(path("linked.json")));
    EXPECT_TRUE(QFileInfo(path("linked.json")).isSymLink());
    EXPECT_TRUE(bytes(path("refs.bin")).startsWith("["));
    EXPECT_FALSE(take.writeJSonFile(path("no/such/dir/take")));
    EXPECT_TRUE(SoundDebuggableClass::getError().contains(path("no/such/dir/take.ssf")));
}
