// tulv analyze against FFmpeg's EBU R 128 meter on signals sox makes, and
// what it does with files it cannot measure.

#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace tooltest;

namespace {

// FFmpeg's integrated loudness of `file`: the last value its meter attaches.
double ffmpegLufs(const QString& file)
{
    QString out;
    if (!runPeer("ffmpeg", { "-hide_banner", "-loglevel", "error", "-nostats", "-i", file, "-af",
                             "ebur128=metadata=1,ametadata=print:key=lavfi.r128.I:file=-", "-f", "null", "-" },
                 &out))
        return NAN;
    const int at = out.lastIndexOf(QLatin1String("lavfi.r128.I="));
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
    struct Case {
        const char* name;
        QStringList sox; // after "-n -r RATE -c CHANNELS FILE"
        const char* rate;
        const char* channels;
        double expectedLufs; // NaN: FFmpeg's figure only
    };
    // The first is EBU Tech 3341's first case: a 1 kHz sine of peak -23 dBFS
    // in both channels measures -23 LUFS.
    const Case cases[] = {
        { "tech 3341 case 1", { "synth", "20", "sine", "1000", "gain", "-23" }, "48000", "2", -23.0 },
        { "pink noise", { "synth", "15", "pinknoise", "gain", "-12" }, "44100", "2", NAN },
        { "mono 100 Hz", { "synth", "12", "sine", "100", "gain", "-6" }, "44100", "1", NAN },
        { "loud then quiet, gated", { "synth", "10", "whitenoise", "gain", "-20", ":", "synth", "10", "sine", "3000", "gain", "-50" },
          "96000", "2", NAN },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath(QString::fromLatin1(c.name).replace(' ', '_') + ".wav");
        ASSERT_TRUE(runPeer("sox", QStringList{ "-n", "-r", c.rate, "-c", c.channels, "-b", "24", file } + c.sox));
        const QString plot = file + (c.channels[0] == '1' ? ".png" : ".svg");
        const QJsonObject figures = analyze({ file, "--plot", plot });
        const double lufs = figures.value("integratedLufs").toDouble(NAN);
        const double peer = ffmpegLufs(file);
        ASSERT_FALSE(std::isnan(peer)) << "ffmpeg measured nothing";
        EXPECT_NEAR(lufs, peer, 0.1);
        if (!std::isnan(c.expectedLufs)) {
            EXPECT_NEAR(lufs, c.expectedLufs, 0.1);
            EXPECT_NEAR(figures.value("samplePeakDbfs").toDouble(), -23.0, 0.01);
        }
        QFile drawn(plot);
        ASSERT_TRUE(drawn.open(QIODevice::ReadOnly)) << "no plot";
        const QByteArray head = drawn.read(8);
        EXPECT_TRUE(head.startsWith("\x89PNG") || head.startsWith("<?xml")) << head.toStdString();
    }
}

TEST(ToolAnalyze, UnreadableFilesAreNamedAndTheOthersMeasured)
{
    QTemporaryDir dir;
    const QString good = makeSignal(dir.filePath("good.wav"), 2.0);
    const QString text = dir.filePath("text.wav");
    const QString cut = dir.filePath("cut.wav");
    QFile whole(makeSignal(dir.filePath("whole.wav"), 2.0));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    ASSERT_TRUE(writeFile(cut, whole.read(whole.size() / 2)));
    ASSERT_TRUE(writeFile(text, "not a sound\n"));
    const QString missing = dir.filePath("missing.flac");
    const ToolRun run = tulv({ "analyze", "--json", "-q", missing, text, good, cut });
    EXPECT_EQ(run.exitCode, 1);
    const QStringList errors = run.err.trimmed().split('\n');
    ASSERT_EQ(errors.size(), 3) << run.err.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(errors[i].contains(QStringList{ missing, text, cut }[i])) << errors[i].toStdString();
    const QStringList lines = run.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(lines[0].toUtf8()).object().value("file").toString(), good);
}
