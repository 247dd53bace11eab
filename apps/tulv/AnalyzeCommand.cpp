#include "AnalysisPlot.h"
#include "Arguments.h"
#include "Commands.h"
#include "Correction.h"
#include "Interrupt.h"
#include "OpenInput.h"
#include "Outputs.h"
#include "Pass.h"

#include <tulv/tulv.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <omp.h>

#include <climits>
#include <cmath>

namespace {

const CommandInfo kCommand = {
    "analyze",
    R"(Usage: tulv analyze IN... [OPTIONS]

Measures each sound file: its loudness as EBU R 128 defines it (integrated
loudness in LUFS, loudness range in LU, true peak in dBTP), its sample peak
and RMS, and the level of each frequency band relative to the loudest band.
A mono file is measured as mono.
)",
    {
        { "bands", "F1,F2,...", "split frequencies of the bands in Hz, ascending (default\n"
                                "250,500,1000,2000,3000,4000,6000,8000,10000: ten bands)" },
        { "fft", "SIZE", "measure the bands on the average spectrum of SIZE-point\n"
                         "transforms (a power of two, 256 to 65536) instead of through\n"
                         "crossover filters" },
        { "json", nullptr, "print one JSON object per file, one per line: file, sampleRate,\n"
                           "channels, seconds, integratedLufs, loudnessRangeLu,\n"
                           "truePeakDbtp, samplePeakDbfs, rmsDbfs, bands (low, high,\n"
                           "relativeDb; levelDb with crossover bands); silence is null" },
        { "plot", "OUT", "draw the band levels and the level over time, with the\n"
                         "tracks a split would find, into OUT.svg or OUT.png; with\n"
                         "several files, OUT names the plot of each as NAME-OUT" },
        { "ssf", "OUT", "save the band statistics (and, with --plot, the regions) as\n"
                        "a statistics file OUT.ssf; with several files, NAME-OUT.ssf" },
        { "catalog", "FILE", "compare the band levels with the references of the catalog\n"
                             "FILE: the nearest one, and the correction (a cut per band,\n"
                             "at most 12 dB) that would bring the sound to it" },
        { "reference", "NAME", "compare with this reference of the catalog instead of the\n"
                               "nearest" },
        { "q,quiet", nullptr, "no progress report" },
    },
    R"(A file that cannot be read, or is truncated, gives one error line; the others
are still measured, and the exit status is then 1.
)",
};

const double kTraceSliceSeconds = 0.1; // the plot's level curve: one point per 100 ms
const double kSilenceDb = -100.0;

// The mean square of every slice of the source, for the plot's level curve.
// Passes its input on unchanged. One addition per sample; the slices are
// sized when the run starts.
class LevelTrace : public SoundAlgo {
public:
    std::vector<double> levelsDb() const
    {
        std::vector<double> db;
        for (size_t i = 0; i < mSums.size(); ++i) {
            const double frames = double(std::min<long long>(mSlice, mEnd - mBegin - (long long)i * mSlice));
            const double meanSquare = frames > 0 ? mSums[i] / (2.0 * frames) : 0.0;
            db.push_back(meanSquare <= 1e-20 ? kSilenceDb : 10.0 * std::log10(meanSquare));
        }
        return db;
    }
    double sliceSeconds() const { return mSampleRate ? double(mSlice) / mSampleRate : kTraceSliceSeconds; }

    SoundTools::Status process() override
    {
        const int first = getOutOrigin();
        const unsigned int n = std::min(getOutFrameNb(), getInFrameNb());
        const SoundTools::StereoFrame<double>* in = mInBuffers[0]->getStereoFrame(first);
        SoundTools::StereoFrame<double>* out = mOutBuffers[0]->getStereoFrame(first);
        if (n == 0)
            return SoundTools::Ok;
        if (!in || !out)
            return SoundTools::Error;
        std::copy(in, in + n, out);
        for (unsigned int k = 0; k < n; ++k) {
            const long long frame = first + (long long)k;
            if (frame < mBegin || frame >= mEnd)
                continue;
            const size_t slice = size_t((frame - mBegin) / mSlice);
            if (slice < mSums.size())
                mSums[slice] += in[k].left * in[k].left + in[k].right * in[k].right;
        }
        return SoundTools::Ok;
    }

protected:
    ~LevelTrace() override = default;

    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override
    {
        mSlice = std::max(1L, std::lround(context.sampleRate * kTraceSliceSeconds));
        mBegin = context.startFrame;
        mEnd = mBegin + context.frameNBToProcess;
        mSums.assign(size_t((context.frameNBToProcess + mSlice - 1) / mSlice), 0.0);
        return SoundAlgo::initProcess(context, previous, next);
    }

private:
    long mSlice = 1; // frames
    long long mBegin = 0;
    long long mEnd = 0;
    std::vector<double> mSums; // Σ left² + right² per slice
};

struct AnalyzeSettings {
    std::vector<double> bands = defaultBands();
    unsigned int fftSize = 0; // 0: crossover bands
    bool json = false;
    bool quiet = false;
    QString plot;
    QString ssf;
    bool perFile = false; // several inputs: outputs are named after each
    SoundStatReferenceCatalog catalog;
    QString reference; // empty: the nearest
};

QJsonValue jsonDb(double db)
{
    return std::isfinite(db) ? QJsonValue(std::round(db * 100.0) / 100.0) : QJsonValue(QJsonValue::Null);
}

QString textDb(double db, const char* unit)
{
    return std::isfinite(db) ? QStringLiteral("%1 %2").arg(db, 6, 'f', 1).arg(QLatin1String(unit))
                             : QStringLiteral("  -inf %1").arg(QLatin1String(unit));
}

QString bandLabel(const std::vector<double>& bands, size_t b, double top)
{
    const double low = b == 0 ? 0.0 : bands[b - 1];
    const double high = b < bands.size() ? bands[b] : top;
    return QStringLiteral("[%1,%2]").arg(low, 0, 'f', 0).arg(high, 0, 'f', 0);
}

QString outputNameFor(const AnalyzeSettings& settings, const QString& name, const QString& in)
{
    if (!settings.perFile)
        return name;
    const QFileInfo out(name);
    return out.dir().filePath(QFileInfo(in).completeBaseName() + QLatin1Char('-') + out.fileName());
}

int analyzeFile(const AnalyzeSettings& settings, const QString& in)
{
    QString reason;
    std::unique_ptr<SoundReader> reader = openInput(in, reason);
    if (!reader) {
        printError(QStringLiteral("cannot open '%1': %2").arg(in, reason));
        return ExitFailed;
    }
    // A measurement of part of a file would be taken for the whole of it.
    if (reader->getMissingFrames() > 0) {
        printError(QStringLiteral("cannot analyse '%1': truncated: %2 frames missing").arg(in).arg(reader->getMissingFrames()));
        return ExitFailed;
    }
    const unsigned int rate = reader->getSampleRate();
    if (settings.bands.back() >= rate / 2.0) {
        printError(QStringLiteral("cannot analyse '%1': band frequency %2 Hz lies above its %3 Hz bandwidth")
                       .arg(in)
                       .arg(settings.bands.back())
                       .arg(rate / 2));
        return ExitFailed;
    }
    const unsigned int channels = reader->getFileChannelNum() == 1 ? 1 : 2;
    const bool plotting = !settings.plot.isEmpty();

    // Everything is measured in one pass: meters that pass the sound on,
    // then the band split, whose output nobody reads.
    auto* loudness = new SoundAlgoLoudness(channels);
    auto* overall = new SoundAlgoStats(SoundAlgoStats::StatsOnly);
    AlgoRef<SoundAlgo> keepLoudness(loudness), keepOverall(overall);
    loudness->addRef();
    overall->addRef();
    AlgoRef<SoundAlgoComposite> chain(new SoundAlgoComposite);
    chain->pushAlgo(loudness);
    chain->pushAlgo(overall);
    LevelTrace* trace = nullptr;
    RMSStepDetector* detector = nullptr;
    AlgoRef<SoundAlgo> keepTrace, keepDetector;
    if (plotting) {
        trace = new LevelTrace;
        detector = new RMSStepDetector(-40.0, 0.05, 1.0, RMSStepDetector::PassThrough, false);
        trace->addRef();
        detector->addRef();
        keepTrace.reset(trace);
        keepDetector.reset(detector);
        chain->pushAlgo(trace);
        chain->pushAlgo(detector);
    }
    SoundAlgoStats::FrequencyBuilder builder;
    SoundAlgoFFTStats* fft = nullptr;
    AlgoRef<SoundAlgo> keepFft;
    if (settings.fftSize) {
        fft = new SoundAlgoFFTStats();
        fft->addRef();
        keepFft.reset(fft);
        chain->pushAlgo(new SoundAlgoFFTDirectCompute(settings.fftSize, true, true));
        chain->pushAlgo(fft);
        chain->pushAlgo(new SoundAlgoFFTInverseCompute(true));
    } else {
        auto* tree = new SoundAlgoComposite;
        tree->buildMultibandTree(settings.bands, builder, SoundAlgoComposite::SplitCrossover);
        chain->pushAlgo(tree);
    }

    SoundBuffer::setDefaultSize(kBandTreeBlockFrames);
    omp_set_num_threads(1);
    reader->rewind();
    const QString before = SoundDebuggableClass::getError();
    const PassResult result = runPass(QStringLiteral("analysing"), *chain, *reader, nullptr, reader->getFrameNB(), settings.quiet);
    if (result == PassResult::Interrupted) {
        printError(QStringLiteral("interrupted while analysing '%1'").arg(in));
        return interrupt::exitCode();
    }
    if (result == PassResult::Failed || reader->getMissingFrames() > 0) {
        printError(QStringLiteral("cannot analyse '%1': %2")
                       .arg(in, reader->getMissingFrames() > 0 ? QStringLiteral("the file ends before its header says")
                                                               : libraryReason(before, QStringLiteral("reading failed"))));
        return ExitFailed;
    }

    // Band levels: absolute (crossover bands only) and relative to the loudest.
    const size_t bandCount = settings.bands.size() + 1;
    std::vector<double> absolute(bandCount, kSilenceDb), relative(bandCount, 0.0);
    if (fft) {
        relative = fft->getStats(settings.bands);
    } else {
        const std::vector<SoundAlgoStats*>& stats = builder.getStatsVector();
        double loudest = kSilenceDb;
        for (size_t b = 0; b < std::min(bandCount, stats.size()); ++b)
            loudest = std::max(loudest, absolute[b] = stats[b]->getFullRMS());
        for (size_t b = 0; b < bandCount; ++b)
            relative[b] = absolute[b] - loudest;
    }
    const double top = rate / 2.0;
    SoundStatFile statFile;
    if (fft)
        statFile.setStats(settings.bands, fft, true);
    else
        statFile.setStats(settings.bands, builder.getStatsVector(), true);
    if (detector)
        statFile.setStepDetector(detector, true);
    SoundStatReference reference;
    std::vector<double> correction;
    QString referenceNote;
    if (!settings.catalog.isEmpty()) {
        reference = settings.reference.isEmpty() ? settings.catalog.getNearestReference(statFile)
                                                 : settings.catalog.getReference(settings.reference);
        correction = reference.isEmpty() ? std::vector<double>() : reference.getCorrectionLevels(statFile, kMaxCorrectionDb);
        if (correction.empty())
            referenceNote = reference.isEmpty() && settings.reference.isEmpty()
                ? QStringLiteral("no reference of the catalog is measured on these bands")
                : QStringLiteral("reference '%1' is measured on other bands").arg(reference.getName());
    }
    if (!settings.ssf.isEmpty()) {
        const QString out = SoundStatFile::getFileName(outputNameFor(settings, settings.ssf, in));
        QString why;
        const QString was = SoundDebuggableClass::getError();
        if (!checkOutput(out, in, false, why) || !statFile.writeJSonFile(out)) {
            printError(QStringLiteral("cannot write '%1': %2").arg(out, why.isEmpty() ? libraryReason(was, QStringLiteral("writing failed")) : why));
            return ExitFailed;
        }
        std::fprintf(stderr, "statistics of '%s' written to '%s'\n", qUtf8Printable(in), qUtf8Printable(out));
    }
    const double fullRms = overall->getCount() ? overall->getFullRMS() : kSilenceDb;

    if (settings.json) {
        QJsonObject object;
        object[QStringLiteral("file")] = in;
        object[QStringLiteral("sampleRate")] = qint64(rate);
        object[QStringLiteral("channels")] = int(reader->getFileChannelNum());
        object[QStringLiteral("seconds")] = reader->getLength();
        object[QStringLiteral("integratedLufs")] = jsonDb(loudness->getIntegratedLoudness());
        object[QStringLiteral("loudnessRangeLu")] = jsonDb(loudness->getLoudnessRange());
        object[QStringLiteral("truePeakDbtp")] = jsonDb(loudness->getTruePeak());
        object[QStringLiteral("samplePeakDbfs")] = jsonDb(loudness->getSamplePeak());
        object[QStringLiteral("rmsDbfs")] = jsonDb(fullRms);
        QJsonArray bands;
        for (size_t b = 0; b < bandCount; ++b) {
            QJsonObject band{ { QStringLiteral("low"), b == 0 ? 0.0 : settings.bands[b - 1] },
                              { QStringLiteral("high"), b < settings.bands.size() ? settings.bands[b] : top },
                              { QStringLiteral("relativeDb"), jsonDb(relative[b]) } };
            if (!fft)
                band[QStringLiteral("levelDb")] = jsonDb(absolute[b]);
            bands.append(band);
        }
        object[QStringLiteral("bands")] = bands;
        if (!settings.catalog.isEmpty()) {
            QJsonObject match{ { QStringLiteral("name"), reference.getName() } };
            QJsonArray levels, cuts;
            for (double level : reference.getLevels())
                levels.append(jsonDb(level));
            for (double cut : correction)
                cuts.append(jsonDb(cut));
            match[QStringLiteral("levelsDb")] = levels;
            match[QStringLiteral("correctionDb")] = cuts;
            object[QStringLiteral("reference")] = correction.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(match);
        }
        printOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    } else {
        QString text = in + QLatin1Char('\n');
        auto row = [&text](const char* label, const QString& value) {
            text += QStringLiteral("  %1 %2\n").arg(QString::fromLatin1(label).leftJustified(21), value);
        };
        row("integrated loudness:", textDb(loudness->getIntegratedLoudness(), "LUFS"));
        row("loudness range:", textDb(loudness->getLoudnessRange(), "LU"));
        row("true peak:", textDb(loudness->getTruePeak(), "dBTP"));
        row("sample peak:", textDb(loudness->getSamplePeak(), "dBFS"));
        row("RMS:", textDb(fullRms, "dBFS"));
        text += QStringLiteral("  %1 %2  %3\n")
                    .arg(QStringLiteral("band (Hz)").leftJustified(21), fft ? QStringLiteral("         ") : QStringLiteral("    level"),
                         QStringLiteral("relative"));
        for (size_t b = 0; b < bandCount; ++b)
            text += QStringLiteral("  %1 %2  %3\n")
                        .arg(bandLabel(settings.bands, b, top).leftJustified(21),
                             fft ? QString(9, QLatin1Char(' ')) : textDb(absolute[b], "dB"), textDb(relative[b], "dB"));
        if (!correction.empty()) {
            text += QStringLiteral("  reference '%1', correction per band (dB):").arg(reference.getName());
            for (double cut : correction)
                text += QStringLiteral(" %1").arg(cut, 0, 'f', 1);
            text += QLatin1Char('\n');
        } else if (!referenceNote.isEmpty()) {
            text += QStringLiteral("  %1\n").arg(referenceNote);
        }
        printOut(text);
    }

    if (plotting) {
        AnalysisPlot plot;
        plot.title = QFileInfo(in).fileName();
        plot.loudnessLine = QStringLiteral("integrated %1, range %2, true peak %3")
                                .arg(textDb(loudness->getIntegratedLoudness(), "LUFS").trimmed(),
                                     textDb(loudness->getLoudnessRange(), "LU").trimmed(),
                                     textDb(loudness->getTruePeak(), "dBTP").trimmed());
        for (size_t b = 0; b < bandCount; ++b)
            plot.bandLabels << bandLabel(settings.bands, b, top);
        plot.bandLevels = relative;
        if (!correction.empty()) {
            plot.referenceName = reference.getName();
            plot.referenceLevels = reference.getLevels();
            plot.correctionLevels = correction;
        }
        plot.levels = trace->levelsDb();
        plot.sliceSeconds = trace->sliceSeconds();
        SoundTrackFinder finder;
        finder.find(*detector);
        for (const SoundTrackFinder::Track& track : finder.tracks())
            plot.tracks.push_back({ double(track.begin) / rate, double(track.end) / rate, track.levelDb });
        for (const RMSStepDetector::Region& region : detector->getRegions())
            if (!region.noise && region.length > 0) {
                const double meanSquare = (region.level0 + region.level1) / 2.0;
                plot.regions.push_back({ double(region.begin) / rate, double(region.begin + region.length) / rate,
                                         meanSquare <= 1e-20 ? kSilenceDb : 10.0 * std::log10(meanSquare) });
            }
        const QString out = outputNameFor(settings, settings.plot, in);
        QString why;
        if (!checkOutput(out, in, false, why) || !writeAnalysisPlot(plot, out, why)) {
            printError(QStringLiteral("cannot write '%1': %2").arg(out, why));
            return ExitFailed;
        }
        std::fprintf(stderr, "plot of '%s' written to '%s'\n", qUtf8Printable(in), qUtf8Printable(out));
    }
    return ExitOk;
}

} // namespace

int runAnalyze(const QStringList& arguments)
{
    Arguments args(kCommand);
    if (const auto stop = args.parse(arguments))
        return *stop;
    if (args.positional().isEmpty())
        return args.usageError(QStringLiteral("no file given"));
    AnalyzeSettings settings;
    QString problem;
    if (args.has("bands") && !parseBands(args.value("bands"), settings.bands, problem))
        return args.usageError(problem);
    int fft = 0;
    if (!args.integer("fft", fft, 256, 65536))
        return args.usageError();
    if (fft && (fft & (fft - 1)))
        return args.usageError(QStringLiteral("--fft takes a power of two, not %1").arg(fft));
    settings.fftSize = unsigned(fft);
    settings.json = args.has("json");
    settings.quiet = args.has("quiet");
    settings.plot = args.value("plot");
    if (args.has("plot") && !plotIsSvg(settings.plot) && !plotIsPng(settings.plot))
        return args.usageError(QStringLiteral("--plot writes .svg or .png files, not '%1'").arg(settings.plot));
    settings.perFile = args.positional().size() > 1;
    settings.ssf = args.value("ssf");
    settings.reference = args.value("reference");
    if (args.has("reference") && !args.has("catalog"))
        return args.usageError(QStringLiteral("--reference needs --catalog"));
    if (args.has("catalog")) {
        const QString catalog = args.value("catalog");
        const QString before = SoundDebuggableClass::getError();
        if (!settings.catalog.readJSonFile(catalog)) {
            printError(QStringLiteral("cannot read catalog '%1': %2")
                           .arg(catalog, QFileInfo::exists(catalog) ? libraryReason(before, QStringLiteral("not a catalog"))
                                                                    : QStringLiteral("No such file or directory")));
            return ExitFailed;
        }
        if (!settings.reference.isEmpty() && settings.catalog.getReference(settings.reference).isEmpty()) {
            printError(QStringLiteral("catalog '%1' has no reference '%2' (it has: %3)")
                           .arg(catalog, settings.reference, settings.catalog.getNameList().join(QStringLiteral(", "))));
            return ExitFailed;
        }
    }

    int status = ExitOk;
    for (const QString& in : args.positional()) {
        const int one = analyzeFile(settings, in);
        if (one != ExitOk && status == ExitOk)
            status = one;
        if (interrupt::requested())
            return interrupt::exitCode();
    }
    return status;
}
