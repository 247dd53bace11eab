// tulv analyze against FFmpeg's EBU R 128 meter on signals sox makes, what
// it does with files it cannot measure, and the catalogs and corrections
// built on its band levels.

#include "ToolRunner.h"

using namespace tooltest;

namespace {

// FFmpeg's integrated loudness of `file`: the last value its meter attaches.
double ffmpegLufs(const QString& file)
{
    QString out;
    const QStringList meter = { "-hide_banner", "-loglevel", "error", "-nostats", "-i", file, "-af",
                                "ebur128=metadata=1,ametadata=print:key=lavfi.r128.I:file=-", "-f", "null", "-" };
    const int at = runTool("ffmpeg", meter, &out) ? out.lastIndexOf(QLatin1String("lavfi.r128.I=")) : -1;
    return at < 0 ? NAN : out.mid(at + 13).section(QLatin1Char('\n'), 0, 0).toDouble();
}

QJsonObject analyze(const QStringList& arguments)
{
    const ToolRun run = tulv(QStringList{ "analyze", "--json", "-q" } + arguments);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

} // namespace

TEST(ToolAnalyze, LoudnessAgreesWithFfmpeg)
{
    QTemporaryDir dir;
    // What sox writes to %1, and the loudness expected (NaN: FFmpeg's figure
    // only). The first is EBU Tech 3341's first case: a 1 kHz sine of peak
    // -23 dBFS in both channels measures -23 LUFS. The last is loud, then
    // quiet enough for the gate.
    const std::pair<const char*, double> cases[] = {
        { "-n -r 48000 -c 2 -b 24 %1 synth 20 sine 1000 gain -23", -23.0 },
        { "-n -r 44100 -c 2 -b 24 %1 synth 15 pinknoise gain -12", NAN },
        { "-n -r 44100 -c 1 -b 24 %1 synth 12 sine 100 gain -6", NAN },
        { "-n -r 96000 -c 2 -b 24 %1 synth 10 whitenoise gain -20 : synth 10 sine 3000 gain -50", NAN },
    };
    for (const auto& [line, expectedLufs] : cases) {
        SCOPED_TRACE(line);
        // SVG: Qt's offscreen screen behind a PNG is never freed, which fails sanitized runs.
        const QString file = dir.filePath("in.wav"), plot = file + ".svg";
        ASSERT_TRUE(sox(line, file));
        const QJsonObject figures = analyze({ file, "--plot", plot });
        const double lufs = figures.value("integratedLufs").toDouble(NAN);
        const double peer = ffmpegLufs(file);
        ASSERT_FALSE(std::isnan(peer)) << "ffmpeg measured nothing";
        EXPECT_NEAR(lufs, peer, 0.1);
        if (!std::isnan(expectedLufs)) {
            EXPECT_NEAR(lufs, expectedLufs, 0.1);
            EXPECT_NEAR(figures.value("samplePeakDbfs").toDouble(), -23.0, 0.01);
        }
        EXPECT_TRUE(readBytes(plot).startsWith("<?xml")) << "no plot";
        ASSERT_TRUE(QFile::remove(plot));
    }
}

TEST(ToolAnalyze, ReplayGainTagsAndLufsTargetsAgreeWithFfmpeg)
{
    QTemporaryDir dir;
    // Three tracks 20 dB apart in loudness, between gaps of faint hiss.
    const QString side = dir.filePath("side.wav");
    const QString hiss = " : synth 2 whitenoise vol 0.0005 : ";
    ASSERT_TRUE(sox("-n -r 44100 -c 2 -b 16 %1 synth 12 pinknoise vol 0.3" + hiss + "synth 10 sine 440 vol 0.1" + hiss
                    + "synth 15 pinknoise vol 0.03", side));
    for (const char* out : { "whole.flac", "whole.mp3" })
        ASSERT_EQ(tulv({ "convert", side, dir.filePath(out), "--replaygain", "-q" }).exitCode, 0) << out;
    const ToolRun split = tulv({ "split", side, dir.filePath("t.flac"), "--even-loudness", "--target", "-16LUFS",
                                 "--replaygain", "-q" });
    ASSERT_EQ(split.exitCode, 0) << split.err.toStdString();
    const QStringList tracks = filesIn(dir.path(), "0*-t.flac");
    ASSERT_EQ(tracks.size(), 3);

    QString albumGain;
    for (const QString& name : QStringList { "whole.flac", "whole.mp3" } + tracks) {
        const QString file = dir.filePath(name);
        SCOPED_TRACE(file.toStdString());
        QString tags;
        ASSERT_TRUE(runTool("ffprobe", words("-v error -show_entries format_tags -of default=nw=1") << file, &tags));
        auto tag = [&tags](const char* key) {
            const int at = tags.indexOf(QStringLiteral("TAG:%1=").arg(key), 0, Qt::CaseInsensitive);
            return at < 0 ? QString() : tags.mid(at).section('=', 1).section('\n', 0, 0);
        };
        const double lufs = ffmpegLufs(file);
        EXPECT_NEAR(tag("REPLAYGAIN_TRACK_GAIN").remove(" dB").toDouble(), -18.0 - lufs, 0.1) << tags.toStdString();
        EXPECT_GT(tag("REPLAYGAIN_TRACK_PEAK").toDouble(), 0.0);
        if (!name.endsWith("-t.flac"))
            continue;
        EXPECT_NEAR(lufs, -16.0, 0.5);
        EXPECT_FALSE(tag("REPLAYGAIN_ALBUM_GAIN").isEmpty());
        EXPECT_TRUE(albumGain.isEmpty() || albumGain == tag("REPLAYGAIN_ALBUM_GAIN")) << "one album gain for all";
        albumGain = tag("REPLAYGAIN_ALBUM_GAIN");
    }
}

namespace {

// Band levels by FFT, independent of the tool: "shape LEVELS OUT" writes 5 s
// of stereo noise whose bands (the tool's default ten) have those relative
// levels; "compare A B" prints how far the band levels of A lie from those
// of B, the mean difference (a change of gain) aside.
const char* kBandScript = R"(
import sys, json, numpy as np
from scipy.io import wavfile
edges = [0, 250, 500, 1000, 2000, 3000, 4000, 6000, 8000, 10000, 1e9]
def bands(f):
    return [(f >= a) & (f < b) for a, b in zip(edges[:-1], edges[1:])]
def levels(path):
    rate, x = wavfile.read(path)
    p = (np.abs(np.fft.rfft(x.astype(float), axis=0)) ** 2).sum(axis=1)
    return np.array([10 * np.log10(p[m].sum() / p.sum()) for m in bands(np.fft.rfftfreq(len(x), 1 / rate))])
if sys.argv[1] == 'shape':
    rate, n = 44100, 5 * 44100
    spectrum = np.fft.rfft(np.random.default_rng(7).standard_normal((n, 2)), axis=0)
    for m, db in zip(bands(np.fft.rfftfreq(n, 1 / rate)), json.loads(sys.argv[2])):
        spectrum[m] *= 10 ** (db / 20) / np.sqrt(m.sum())
    x = np.fft.irfft(spectrum, n, axis=0)
    wavfile.write(sys.argv[3], rate, (x * 0.25 / np.abs(x).max()).astype(np.float32))
else:
    d = levels(sys.argv[2]) - levels(sys.argv[3])
    print(np.abs(d - d.mean()).max())
)";

bool bandScript(const QStringList& arguments, QString* output = nullptr)
{
    return runTool("/usr/bin/python3", QStringList { "-c", kBandScript } + arguments, output);
}

} // namespace

TEST(ToolAnalyze, CorrectionBringsBandLevelsToTheReference)
{
    QTemporaryDir dir;
    auto path = [&dir](const QString& name) { return dir.filePath(name); };
    // Pink noise, and two shelved versions of it as references.
    const std::pair<const char*, const char*> sounds[] = {
        { "pink.wav", "" }, { "warm.wav", " bass +6 treble -6" }, { "bright.wav", " bass -4 treble +6" }
    };
    for (const auto& [name, shelves] : sounds)
        ASSERT_TRUE(sox(QString("-n -r 44100 -c 2 -b 24 %1 synth 5 pinknoise gain -12") + shelves, path(name)));
    const QString catalog = path("refs.json"), link = path("link.json");
    ASSERT_EQ(tulv({ "catalog", "add", catalog, "warm", path("warm.wav"), "-q" }).exitCode, 0);
    ASSERT_TRUE(QFile::link(catalog, link));
    // A reference from a statistics file, and one added through a link.
    ASSERT_EQ(tulv({ "analyze", "-q", path("bright.wav"), "--ssf", path("bright.ssf") }).exitCode, 0);
    ASSERT_EQ(tulv({ "catalog", "add", link, "bright", path("bright.ssf"), "-q" }).exitCode, 0);
    ASSERT_EQ(tulv({ "catalog", "add", link, "pink", path("pink.wav"), "-q" }).exitCode, 0);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    QStringList names;
    for (const QString& line : tulv({ "catalog", "list", catalog, "--json" }).out.trimmed().split('\n')) {
        const QJsonObject reference = QJsonDocument::fromJson(line.toUtf8()).object();
        names << reference.value("name").toString();
        // Noise shaped like each reference.
        const QString levels = QJsonDocument(reference.value("levelsDb").toArray()).toJson(QJsonDocument::Compact);
        ASSERT_TRUE(bandScript({ "shape", levels, path("like-" + names.last() + ".wav") }));
    }
    EXPECT_EQ(names, QStringList({ "warm", "bright", "pink" }));

    // What is corrected, and to which reference. A shaped noise is brought to
    // the nearest, the others to the one named, and these are checked against
    // the file the reference was measured on by FFT bands as well. Only these:
    // the shaped noises step by up to 13 dB at a band edge, and the crossovers'
    // slopes then read a neighbour's energy into a band brick-wall FFT bands
    // do not see.
    const std::pair<QString, QString> cases[] = {
        { "pink.wav", "warm" }, { "bright.wav", "pink" }, { "like-warm.wav", "warm" }, { "like-bright.wav", "bright" }
    };
    for (const auto& [in, expected] : cases) {
        SCOPED_TRACE(in.toStdString());
        const bool nearest = in.startsWith("like-");
        const QString out = path("out.wav");
        ASSERT_TRUE(says(tulv({ "convert", path(in), out, "--correct", catalog + (nearest ? "" : ":" + expected) }), 0,
                         "to reference '" + expected + "'"));
        EXPECT_EQ(frameCount(readSound(out)), frameCount(readSound(path(in))));
        const QJsonObject figures = analyze({ out, "--catalog", catalog, "--reference", expected });
        const QJsonArray bands = figures.value("bands").toArray();
        const QJsonArray target = figures.value("reference").toObject().value("levelsDb").toArray();
        ASSERT_EQ(bands.size(), target.size());
        for (int b = 0; b < bands.size(); ++b)
            EXPECT_NEAR(bands[b].toObject().value("relativeDb").toDouble(), target[b].toDouble(), 1.0) << b;
        if (nearest)
            continue;
        QString deviation;
        ASSERT_TRUE(bandScript({ "compare", out, path(expected + ".wav") }, &deviation)) << deviation.toStdString();
        EXPECT_LT(deviation.toDouble(), 1.0) << "by FFT";
    }
}

TEST(ToolAnalyze, UnreadableFilesAndBadCatalogsAreNamedBeforeAnythingIsWritten)
{
    QTemporaryDir dir;
    auto path = [&dir](const char* name) { return dir.filePath(name); };
    const QString signal = makeSignal(path("signal.wav"), 2.0);
    ASSERT_TRUE(sox("-n -r 8000 -c 2 %1 synth 1 whitenoise", path("low.wav")));
    ASSERT_TRUE(sox("-n -r 44100 -c 2 %1 trim 0 1", path("silent.wav")));
    ASSERT_TRUE(writeBytes(path("broken.json"), "[{\"Class\": \"SoundStatRef"));
    ASSERT_TRUE(writeBytes(path("text.wav"), "not a sound\n"));
    const QByteArray whole = readBytes(signal);
    ASSERT_TRUE(writeBytes(path("cut.wav"), whole.left(whole.size() / 2)));
    SoundStatReferenceCatalog catalog;
    SoundStatReference reference;
    reference.initDefault("default");
    catalog.addReference(reference);
    reference.setName("flat");
    reference.setLevels(std::vector<double>(10, 0.0));
    catalog.addReference(reference);
    const QString refs = path("refs.json");
    ASSERT_TRUE(catalog.writeJSonFile(refs));
    const QByteArray before = readBytes(refs);

    // The files that cannot be read are named; the other is measured.
    const QStringList bad = { path("missing.flac"), path("text.wav"), path("cut.wav") };
    const ToolRun run = tulv({ "analyze", "--json", "-q", bad[0], bad[1], signal, bad[2], "--ssf", path("bands.ssf"),
                               "--catalog", refs, "--reference", "flat" });
    EXPECT_EQ(run.exitCode, 1);
    const QStringList errors = run.err.trimmed().split('\n').filter(QRegularExpression("^tulv: "));
    ASSERT_EQ(errors.size(), 3) << run.err.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(errors[i].contains(bad[i])) << errors[i].toStdString();
    ASSERT_EQ(run.out.trimmed().count('\n'), 0) << run.out.toStdString();
    const QJsonObject figures = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(figures.value("file").toString(), signal);
    // The statistics file holds the band levels the tool printed, and the
    // flat reference asks for cuts only, none where the sound is quietest.
    SoundStatFile stats;
    ASSERT_TRUE(stats.readJSonFile(path("signal-bands.ssf")));
    const std::vector<double> relative = stats.getRelativeLevels();
    const QJsonArray bands = figures.value("bands").toArray();
    const QJsonArray cuts = figures.value("reference").toObject().value("correctionDb").toArray();
    ASSERT_EQ(relative.size(), 10u);
    ASSERT_EQ(cuts.size(), 10);
    for (int b = 0; b < 10; ++b) {
        EXPECT_NEAR(bands[b].toObject().value("relativeDb").toDouble(), relative[size_t(b)], 0.01) << b;
        EXPECT_LE(cuts[b].toDouble(), 0.0) << b;
    }

    // What is asked, the exit code, what is said.
    const std::tuple<QStringList, int, const char*> cases[] = {
        { { "catalog", "add", refs, "flat", signal }, 1, "already has a reference 'flat' (--force" },
        { { "catalog", "remove", refs, "flat", "nope" }, 1, "no reference 'nope' (it has: default, flat)" },
        { { "catalog", "add", path("refs.cat"), "x", signal }, 2, ".json" },
        { { "catalog", "add", refs, "a:b", signal }, 2, "':'" },
        { { "catalog", "add", path("new.json"), "quiet", path("silent.wav") }, 1, "silent" },
        { { "catalog", "list", path("broken.json") }, 1, "broken.json" },
        { { "convert", signal, path("out.wav"), "--correct", refs + ":nope" }, 1, "(it has: default, flat)" },
        { { "convert", signal, path("out.wav"), "--correct", path("missing.json") }, 1, "missing.json" },
        { { "convert", path("low.wav"), path("out.wav"), "--correct", refs }, 1, "sample rate of 8000 Hz" },
        { { "convert", path("silent.wav"), path("s.wav"), "--correct", refs }, 0, "silent: nothing to correct" },
    };
    for (const auto& [arguments, exitCode, message] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const ToolRun run = tulv(arguments + QStringList { "-q" });
        EXPECT_TRUE(says(run, exitCode, message));
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(path("out.wav")));
    EXPECT_FALSE(QFile::exists(path("new.json")));
    EXPECT_EQ(readBytes(refs), before);
    // Replacing takes --force; removing every reference deletes the catalog.
    EXPECT_EQ(tulv({ "catalog", "add", refs, "flat", signal, "--force", "-q" }).exitCode, 0);
    EXPECT_EQ(tulv({ "catalog", "remove", refs, "flat", "default" }).exitCode, 0);
    EXPECT_FALSE(QFile::exists(refs));
}
