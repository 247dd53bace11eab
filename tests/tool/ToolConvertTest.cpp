// tulv convert against files written by sox, read back through the library:
// lossless round trips are sample-exact, gain and range are exact, tags and
// cover travel, and an interrupted conversion leaves nothing behind.

#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>

using namespace tooltest;

namespace {

// A stereo test signal from sox: a different tone in each channel, so a
// swapped or dropped channel shows.
QString makeSignal(const QTemporaryDir& dir, const QString& name, double seconds, int bits = 16)
{
    const QString path = dir.filePath(name);
    const bool ok = runPeer(QStringLiteral("sox"),
                            { QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-b"),
                              QString::number(bits), path, QStringLiteral("synth"), QString::number(seconds),
                              QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("sine"),
                              QStringLiteral("997"), QStringLiteral("channels"), QStringLiteral("2"),
                              QStringLiteral("gain"), QStringLiteral("-8") });
    return ok ? path : QString();
}

double rms(const std::vector<double>& samples)
{
    double sum = 0.0;
    for (double s : samples)
        sum += s * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

// The smallest valid PNG: one transparent pixel.
const unsigned char kPixelPng[] = { 0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
                                    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
                                    0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
                                    0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D, 0xB4, 0x00,
                                    0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82 };

} // namespace

class ToolConvert : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDir.isValid());
        if (!have(QStringLiteral("sox")))
            GTEST_SKIP() << "sox is not available";
        mTone = makeSignal(mDir, QStringLiteral("tone.wav"), 3.0);
        ASSERT_FALSE(mTone.isEmpty());
        mOriginal = readSound(mTone);
        ASSERT_TRUE(mOriginal.ok);
        ASSERT_EQ(mOriginal.frames(), 3u * 44100u);
    }

    QString path(const char* name) const { return mDir.filePath(QLatin1String(name)); }

    ToolRun convert(QStringList arguments)
    {
        arguments.prepend(QStringLiteral("convert"));
        arguments << QStringLiteral("-q");
        return tulv(arguments);
    }

    QTemporaryDir mDir;
    QString mTone;
    Sound mOriginal;
};

TEST_F(ToolConvert, LosslessFormatsRoundTripSampleExact)
{
    // 16-bit through FLAC and back, through 32-bit float WAV, through 24-bit FLAC.
    const struct {
        const char* middle;
        const char* format;
    } routes[] = { { "a.flac", nullptr }, { "b.wav", "float" }, { "c.flac", "int24" }, { "d.wav", "double" } };
    for (const auto& route : routes) {
        QStringList there { mTone, path(route.middle) };
        if (route.format)
            there << QStringLiteral("--format") << QLatin1String(route.format);
        const ToolRun first = convert(there);
        ASSERT_EQ(first.exitCode, 0) << route.middle << ": " << first.err.toStdString();
        const QString back = path("back.wav");
        const ToolRun second = convert({ path(route.middle), back, QStringLiteral("--format"), QStringLiteral("int16") });
        ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
        const Sound result = readSound(back);
        ASSERT_TRUE(result.ok);
        ASSERT_EQ(result.frames(), mOriginal.frames()) << route.middle;
        EXPECT_EQ(result.samples, mOriginal.samples) << route.middle;
    }
    const ToolRun info = tulv({ QStringLiteral("info"), path("c.flac"), path("b.wav") });
    EXPECT_TRUE(info.out.contains(QStringLiteral("int24"))) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(QStringLiteral("float"))) << info.out.toStdString();
}

TEST_F(ToolConvert, TheSampleFormatIsTheInputsByDefault)
{
    const QString wide = makeSignal(mDir, QStringLiteral("wide.wav"), 1.0, 24);
    ASSERT_FALSE(wide.isEmpty());
    ASSERT_EQ(convert({ wide, path("wide.flac") }).exitCode, 0);
    const ToolRun info = tulv({ QStringLiteral("info"), path("wide.flac") });
    EXPECT_TRUE(info.out.contains(QStringLiteral("int24"))) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(QStringLiteral("FLAC")));
}

TEST_F(ToolConvert, LossyFormatsKeepLengthAndLevel)
{
    ASSERT_EQ(convert({ mTone, path("t.ogg") }).exitCode, 0);
    const Sound ogg = readSound(path("t.ogg"));
    ASSERT_TRUE(ogg.ok);
    EXPECT_EQ(ogg.frames(), mOriginal.frames());
    EXPECT_NEAR(20 * std::log10(rms(ogg.samples) / rms(mOriginal.samples)), 0.0, 0.5);

    const ToolRun mp3 = convert({ mTone, path("t.mp3"), QStringLiteral("--bitrate"), QStringLiteral("160") });
    if (mp3.exitCode != 0)
        GTEST_SKIP() << "no MP3 encoder: " << mp3.err.toStdString();
    const Sound decoded = readSound(path("t.mp3"));
    ASSERT_TRUE(decoded.ok);
    // An MP3 frame holds 1152 samples; the encoder pads to whole frames.
    EXPECT_NEAR(double(decoded.frames()), double(mOriginal.frames()), 2.0 * 1152 + 529 * 2);
    // MP3 coding itself moves the level of this signal by about half a dB, so
    // the level is compared with what the peer encoder makes of it.
    if (!have(QStringLiteral("lame")))
        return;
    ASSERT_TRUE(runPeer(QStringLiteral("lame"), { QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("160"), mTone,
                                                  path("peer.mp3") }));
    const Sound peer = readSound(path("peer.mp3"));
    ASSERT_TRUE(peer.ok);
    EXPECT_NEAR(20 * std::log10(rms(decoded.samples) / rms(peer.samples)), 0.0, 0.6);
}

TEST_F(ToolConvert, GainAndRangeAreExact)
{
    const double gainDb = -7.5;
    ASSERT_EQ(convert({ mTone, path("g.wav"), QStringLiteral("--gain"), QString::number(gainDb), QStringLiteral("--format"),
                        QStringLiteral("double") })
                  .exitCode,
              0);
    const Sound gained = readSound(path("g.wav"));
    ASSERT_EQ(gained.frames(), mOriginal.frames());
    const double factor = std::pow(10.0, gainDb / 20.0);
    double worst = 0.0;
    for (size_t i = 0; i < gained.samples.size(); ++i)
        worst = std::max(worst, std::fabs(gained.samples[i] - factor * mOriginal.samples[i]));
    EXPECT_LT(worst, 1e-12);

    // 0.5 s to 1.25 s: 33075 frames starting at frame 22050.
    ASSERT_EQ(convert({ mTone, path("r.wav"), QStringLiteral("--start"), QStringLiteral("0.5"), QStringLiteral("--end"),
                        QStringLiteral("1.25") })
                  .exitCode,
              0);
    const Sound range = readSound(path("r.wav"));
    ASSERT_EQ(range.frames(), 33075u);
    const std::vector<double> expected(mOriginal.samples.begin() + 2 * 22050, mOriginal.samples.begin() + 2 * (22050 + 33075));
    EXPECT_EQ(range.samples, expected);

    // A start beyond the end is refused, and nothing is written.
    const ToolRun beyond = convert({ mTone, path("x.wav"), QStringLiteral("--start"), QStringLiteral("10") });
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_TRUE(beyond.err.contains(QStringLiteral("lies beyond its end"))) << beyond.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("x.wav")));
}

TEST_F(ToolConvert, OutputMayReplaceItsInput)
{
    const QString copy = path("same.wav");
    ASSERT_TRUE(QFile::copy(mTone, copy));
    ASSERT_EQ(convert({ copy, copy, QStringLiteral("--gain"), QStringLiteral("-6.0206") }).exitCode, 0);
    const Sound halved = readSound(copy);
    ASSERT_EQ(halved.frames(), mOriginal.frames());
    EXPECT_NEAR(rms(halved.samples) / rms(mOriginal.samples), 0.5, 1e-3);
    EXPECT_EQ(filesIn(mDir.path()), QStringList({ QStringLiteral("same.wav"), QStringLiteral("tone.wav") }));
}

TEST_F(ToolConvert, TagsAndCoverTravelUnlessOverridden)
{
    ASSERT_EQ(convert({ mTone, path("tagged.flac"), QStringLiteral("--tag"), QStringLiteral("title=Sunrise"), QStringLiteral("--tag"),
                        QStringLiteral("artist=Kim Lee"), QStringLiteral("--tag"), QStringLiteral("year=1977"),
                        QStringLiteral("--tag"), QStringLiteral("comment=first take") })
                  .exitCode,
              0);
    bool withCover = false;
    if (have(QStringLiteral("metaflac"))) {
        QFile png(path("cover.png"));
        ASSERT_TRUE(png.open(QIODevice::WriteOnly));
        png.write(reinterpret_cast<const char*>(kPixelPng), sizeof(kPixelPng));
        png.close();
        withCover = runPeer(QStringLiteral("metaflac"),
                            { QStringLiteral("--import-picture-from=3|image/png|||") + png.fileName(), path("tagged.flac") });
    }
    ASSERT_EQ(convert({ path("tagged.flac"), path("carried.flac"), QStringLiteral("--tag"), QStringLiteral("comment=") }).exitCode, 0);
    const ToolRun info = tulv({ QStringLiteral("info"), path("carried.flac") });
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_TRUE(info.out.contains(QStringLiteral("title: Sunrise"))) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(QStringLiteral("artist: Kim Lee")));
    EXPECT_TRUE(info.out.contains(QStringLiteral("year: 1977")));
    EXPECT_FALSE(info.out.contains(QStringLiteral("first take"))) << "an empty --tag value removes the tag";
    if (withCover) {
        EXPECT_TRUE(info.out.contains(QStringLiteral("cover:          image/png, %1 bytes").arg(sizeof(kPixelPng))))
            << info.out.toStdString();
    }
    const ToolRun plain = tulv({ QStringLiteral("info"), mTone });
    EXPECT_TRUE(plain.out.contains(QStringLiteral("tags:           none")));
    EXPECT_TRUE(plain.out.contains(QStringLiteral("cover:          none")));
}

TEST_F(ToolConvert, InterruptedConversionLeavesNothing)
{
    // Long enough that the conversion is surely still running when stopped.
    const QString longer = makeSignal(mDir, QStringLiteral("long.wav"), 600.0);
    ASSERT_FALSE(longer.isEmpty());
    const QString out = path("long.flac");
    auto writing = [this]() { return filesIn(mDir.path(), QStringLiteral(".*")).size() > 0; };
    const ToolRun run = tulvInterrupted({ QStringLiteral("convert"), longer, out }, writing, SIGINT);
    EXPECT_FALSE(run.crashed) << "Ctrl-C must stop the job cleanly, not kill it";
    EXPECT_EQ(run.exitCode, 128 + SIGINT) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("interrupted; '%1' not written").arg(out))) << run.err.toStdString();
    EXPECT_EQ(filesIn(mDir.path()), QStringList({ QStringLiteral("long.wav"), QStringLiteral("tone.wav") }));
}
