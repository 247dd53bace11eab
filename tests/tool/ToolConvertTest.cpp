// tulv convert against files written by sox, read back through the library:
// every format round-trips (lossless ones sample-exact), gain and range are
// exact, the limiter holds its ceiling, tags and cover travel, progress goes
// to stderr, and an interrupted conversion leaves nothing behind.

#include "ToolRunner.h"

#include <QStandardPaths>

using namespace tooltest;

class ToolConvert : public ::testing::Test {
protected:
    void SetUp() override
    {
        mTone = makeSignal(path("tone.wav"), 3.0);
        mOriginal = readSound(mTone);
    }

    QString path(const char* name) const { return mDir.filePath(name); }

    // Converts, silenced, and reads the result back (not ok when it failed).
    Samples convert(const QString& in, const char* out, QStringList options = {})
    {
        const ToolRun run = tulv(QStringList { "convert", in, path(out), "-q" } + options);
        EXPECT_EQ(run.exitCode, 0) << out << ": " << run.err.toStdString();
        return run.exitCode == 0 ? readSound(path(out)) : Samples();
    }
    QString info(const char* name) { return tulv({ "info", path(name) }).out; }

    QTemporaryDir mDir;
    QString mTone;
    Samples mOriginal;
};

TEST_F(ToolConvert, EveryFormatRoundTrips)
{
    // Lossless: there in the sample format asked for, back to 16 bits
    // sample-exact when not dithered.
    const std::pair<const char*, const char*> routes[] = {
        { "a.flac", "int16" }, { "b.wav", "float" }, { "c.flac", "int24" }, { "d.wav", "double" }
    };
    for (const auto& [middle, format] : routes) {
        SCOPED_TRACE(middle);
        convert(mTone, middle, { "--format", format });
        EXPECT_TRUE(info(middle).contains(QString("sample format:  ") + format));
        EXPECT_EQ(convert(path(middle), "back.wav", { "--format", "int16", "--no-dither" }), mOriginal);
    }
    // Without --format the sample format is the input's.
    ASSERT_FALSE(makeSignal(path("wide.wav"), 1.0, 24).isEmpty());
    convert(path("wide.wav"), "wide.flac");
    EXPECT_TRUE(info("wide.flac").contains("sample format:  int24")) << info("wide.flac").toStdString();

    // Lossy: exactly as long, at the same level. MP3 coding itself moves the
    // level of this signal by about half a dB, so that level is compared with
    // what the peer encoder makes of it.
    ASSERT_TRUE(runTool("lame", { "--quiet", "-b", "160", mTone, path("peer.mp3") }));
    const std::tuple<const char*, QStringList, Samples> lossy[] = {
        { "t.ogg", {}, mOriginal }, { "t.mp3", { "--bitrate", "160" }, readSound(path("peer.mp3")) }
    };
    for (const auto& [out, options, reference] : lossy) {
        const Samples coded = convert(mTone, out, options);
        EXPECT_EQ(frameCount(coded), frameCount(mOriginal)) << out;
        EXPECT_NEAR(rmsDb(coded) - rmsDb(reference), 0.0, 0.6) << out;
    }
}

TEST_F(ToolConvert, GainRangeAndLimitAreExact)
{
    // In place: OUT may be IN, and nothing else is left behind.
    ASSERT_TRUE(QFile::copy(mTone, path("same.wav")));
    const Samples gained = convert(path("same.wav"), "same.wav", { "--gain", "-7.5", "--format", "double" });
    EXPECT_LT(maxDifference(gained, mOriginal, fromDb(-7.5)), 1e-12);
    EXPECT_EQ(filesIn(mDir.path()), QStringList({ "same.wav", "tone.wav" }));

    // 0.5 s to 1.25 s: 33075 frames starting at frame 22050.
    const Samples range = convert(mTone, "r.wav", { "--start", "0.5", "--end", "1.25" });
    EXPECT_EQ(range, Samples(mOriginal.begin() + 2 * 22050, mOriginal.begin() + 2 * (22050 + 33075)));

    // The -8 dB tones +12 dB: peaks 4 dB over full scale against a ceiling of
    // -1 dBFS. They end at the ceiling, not far under it, at the same length.
    const Samples limited = convert(mTone, "limited.wav", { "--gain", "12", "--limit", "-1", "--format", "double" });
    EXPECT_EQ(frameCount(limited), frameCount(mOriginal));
    EXPECT_LE(peakOf(limited), fromDb(-1.0) * (1.0 + 1e-9));
    EXPECT_GT(peakOf(limited), fromDb(-1.5));
    // Below the ceiling the limiter changes nothing.
    EXPECT_LT(maxDifference(convert(mTone, "through.wav", { "--limit", "-1", "--format", "double" }), mOriginal),
              1e-12);
}

TEST_F(ToolConvert, TagsAndCoverTravelUnlessOverridden)
{
    EXPECT_TRUE(info("tone.wav").contains("tags:           none\n  cover:          none"));
    convert(mTone, "tagged.flac", { "--tag", "title=Sunrise", "--tag", "artist=Kim Lee", "--tag", "year=1977", "--tag",
                                    "comment=first take" });
    const QString png = path("cover.png");
    ASSERT_TRUE(runTool("ffmpeg", { "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=2x2", "-frames:v", "1", png }));
    ASSERT_TRUE(runTool("metaflac", { "--import-picture-from=3|image/png|||" + png, path("tagged.flac") }));
    const QString cover = QString("cover:          image/png, %1 bytes").arg(QFileInfo(png).size());

    convert(path("tagged.flac"), "carried.flac", { "--tag", "comment=" });
    const QString carried = info("carried.flac");
    for (const char* shown : { "title: Sunrise", "artist: Kim Lee", "year: 1977" })
        EXPECT_TRUE(carried.contains(shown)) << shown << " in " << carried.toStdString();
    EXPECT_FALSE(carried.contains("first take")) << "an empty --tag value removes the tag";
    EXPECT_TRUE(carried.contains(cover)) << carried.toStdString();

    // Any property, several values, a total; the cover removed, or set.
    convert(path("carried.flac"), "more.mp3",
            { "--tag", "artist=Kim Lee", "--tag", "artist=Ann Park", "--tag", "track=3/12", "--tag",
              "REPLAYGAIN_TRACK_GAIN=-3.10 dB", "--tag", "cover=" });
    QString probed;
    const QStringList probe = words("-v error -show_entries format_tags -of default=nw=1") << path("more.mp3");
    ASSERT_TRUE(runTool("ffprobe", probe, &probed));
    for (const char* shown :
         { "title=Sunrise", "artist=Kim Lee", "track=3/12", "date=1977", "REPLAYGAIN_TRACK_GAIN=-3.10 dB" })
        EXPECT_TRUE(probed.contains(shown)) << shown << " in " << probed.toStdString();
    const QString more = info("more.mp3");
    EXPECT_TRUE(more.contains("artist: Kim Lee; Ann Park")) << more.toStdString();
    EXPECT_TRUE(more.contains("cover:          none"));
    convert(path("more.mp3"), "covered.ogg", { "--cover", png });
    EXPECT_TRUE(info("covered.ogg").contains(cover));
}

// What a conversion cannot keep is said, and counted as the peers count it.
TEST_F(ToolConvert, ChannelsClippingDitherAndTruncationAreSaid)
{
    // Channels as ffprobe counts them: mono stays mono, six become two.
    ASSERT_TRUE(sox("-n -r 44100 -b 16 %1 synth 1 sine 440", path("mono.wav")));
    ASSERT_TRUE(sox("-n -r 44100 -b 16 %1 synth 1 sine 440 channels 6", path("six.wav")));
    ASSERT_TRUE(runTool("lame", { "--quiet", "-m", "m", path("mono.wav"), path("mono.mp3") }));
    // In, out, channels out, the warning given (none: nullptr).
    const std::tuple<const char*, const char*, const char*, const char*> routes[] = {
        { "mono.wav", "m.flac", "1", nullptr }, { "mono.wav", "m.mp3", "1", nullptr },
        { "mono.mp3", "m.aiff", "1", nullptr }, { "six.wav", "s.wav", "2", "has 6 channels; only the first two" }
    };
    for (const auto& [in, out, channels, warning] : routes) {
        SCOPED_TRACE(out);
        const ToolRun run = tulv({ "convert", path(in), path(out), "-q" });
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.err.contains(warning ? warning : "warning"), warning != nullptr) << run.err.toStdString();
        QString probed;
        const QStringList probe = words("-v error -show_entries stream=channels -of csv=p=0") << path(out);
        ASSERT_TRUE(runTool("ffprobe", probe, &probed));
        EXPECT_EQ(probed.trimmed(), channels);
        EXPECT_TRUE(info(in).contains(QString("channels:       ") + (warning ? "6" : "1")));
    }

    // +20 dB clips the -8 dB tones: as many samples as sox counts.
    QString soxSaid;
    ASSERT_TRUE(runTool("sox", { mTone, path("sox.wav"), "gain", "20" }, nullptr, &soxSaid));
    const QString soxCount = QRegularExpression("clipped (\\d+) samples").match(soxSaid).captured(1);
    ASSERT_FALSE(soxCount.isEmpty()) << soxSaid.toStdString();
    EXPECT_TRUE(says(tulv({ "convert", mTone, path("loud.wav"), "--gain", "20", "-q" }), 0,
                     soxCount + " samples clipped at full scale; lower --gain or add --limit"));

    // 24 bits of a sound far below one 16-bit step: rounded, silence; with
    // TPDF dither, noise of half a step RMS (rounding error of step²/12 plus
    // the dither's step²/6), -96.3 dBFS.
    ASSERT_TRUE(sox("-n -r 44100 -b 24 %1 synth 2 sine 440 gain -120", path("faint.wav")));
    const double halfStepDb = 20 * std::log10(0.5 / 32768);
    EXPECT_NEAR(rmsDb(convert(path("faint.wav"), "dithered.wav", { "--format", "int16" })), halfStepDb, 0.3);
    EXPECT_EQ(peakOf(convert(path("faint.wav"), "rounded.wav", { "--format", "int16", "--no-dither" })), 0.0);

    // A copy cut short: converted as far as it goes, said, and refused with --strict.
    ASSERT_TRUE(writeBytes(path("cut.wav"), readBytes(mTone).left(44 + 4 * 50000)));
    const QString missing = QString::number(3 * 44100 - 50000);
    EXPECT_TRUE(info("cut.wav").contains("truncated:      " + missing + " frames missing"));
    EXPECT_TRUE(says(tulv({ "convert", path("cut.wav"), path("salvaged.flac"), "-q" }), 0,
                     QString("'%1' is truncated: %2 frames missing").arg(path("cut.wav"), missing)));
    EXPECT_EQ(frameCount(readSound(path("salvaged.flac"))), 50000u);
    const ToolRun strict = tulv({ "convert", path("cut.wav"), path("strict.flac"), "--strict" });
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_FALSE(QFile::exists(path("strict.flac")));
}

TEST_F(ToolConvert, ProgressGoesToStderrAndCtrlCLeavesNothing)
{
    // Long enough that the conversion is surely still running when stopped.
    const QString in = makeSignal(path("long.wav"), 600.0);
    ASSERT_FALSE(in.isEmpty());
    auto writing = [this]() { return !filesIn(mDir.path(), ".*").isEmpty(); };
    const ToolRun stopped = tulv({ "convert", in, path("long.flac") }, writing, SIGINT);
    EXPECT_FALSE(stopped.crashed) << "Ctrl-C must stop the job cleanly, not kill it";
    EXPECT_TRUE(says(stopped, 128 + SIGINT, QString("interrupted; '%1' not written").arg(path("long.flac"))));
    EXPECT_EQ(filesIn(mDir.path()), QStringList({ "long.wav", "tone.wav" }));

    // Two minutes of it into a pipe: plain lines, the last with label, 100 %,
    // elapsed time and speed.
    const ToolRun run = tulv({ "convert", in, path("a.flac"), "--end", "120" });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_FALSE(run.err.contains('\r'));
    const QRegularExpression done("^converting 100%  \\d+:\\d\\d elapsed  \\d+x real time$",
                                  QRegularExpression::MultilineOption);
    EXPECT_TRUE(done.match(run.err).hasMatch()) << run.err.toStdString();

    // On a terminal (script(1) runs the tool on a pseudo-terminal and copies
    // what it shows): a bar redrawn in place.
    ASSERT_FALSE(QStandardPaths::findExecutable("script").isEmpty()) << "'script' (package bsdutils) is missing";
    QString shown;
    const QString command = QString("'%1' convert '%2' '%3' --end 120").arg(TULV_TOOL_PATH, in, path("c.flac"));
    ASSERT_TRUE(runTool("script", { "-qec", command, "/dev/null" }, &shown)) << shown.toStdString();
    EXPECT_TRUE(shown.contains("\rconverting [")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("[########################] 100%"));
    EXPECT_TRUE(shown.contains("x real time"));
}

TEST_F(ToolConvert, OnlyRegularFilesAreReplacedAndBatchesGoOnPastAFailure)
{
    // A symbolic link is written through: it stays a link, its target changes.
    ASSERT_TRUE(QFile::copy(mTone, path("target.wav")));
    ASSERT_TRUE(QFile::link(path("target.wav"), path("link.wav")));
    convert(mTone, "link.wav", { "--gain", "-6", "--format", "double" });
    EXPECT_TRUE(QFileInfo(path("link.wav")).isSymLink());
    EXPECT_LT(maxDifference(readSound(path("target.wav")), mOriginal, fromDb(-6.0)), 1e-12);

    // A FIFO and a device node are written, never replaced; so is standard
    // output, where FLAC streams and WAV, which needs to seek, does not.
    ASSERT_TRUE(runTool("mkfifo", { path("fifo") }));
    QProcess listener;
    listener.start("sh", { "-c", QString("cat '%1' > '%2'").arg(path("fifo"), path("heard.flac")) });
    ASSERT_TRUE(listener.waitForStarted());
    EXPECT_EQ(tulv({ "convert", mTone, path("fifo"), "--to", "flac", "-q" }).exitCode, 0);
    ASSERT_TRUE(listener.waitForFinished(30000));
    EXPECT_EQ(readSound(path("heard.flac")), mOriginal);
    const QString tool = QString("'%1' convert '%2' - -q").arg(TULV_TOOL_PATH, mTone);
    ASSERT_TRUE(runTool("bash", { "-c", tool + QString(" --to flac | cat > '%1'").arg(path("piped.flac")) }));
    EXPECT_EQ(readSound(path("piped.flac")), mOriginal);
    // Standard input, in any container: here FLAC through a pipe.
    const QString fromStdin =
        QString("cat '%1' | '%2' convert - '%3' -q").arg(path("piped.flac"), TULV_TOOL_PATH, path("stdin.wav"));
    ASSERT_TRUE(runTool("bash", { "-c", fromStdin }));
    EXPECT_EQ(readSound(path("stdin.wav")), mOriginal);
    QString refused;
    EXPECT_FALSE(runTool("bash", { "-o", "pipefail", "-c", tool + " | cat > /dev/null" }, nullptr, &refused));
    EXPECT_TRUE(refused.contains("cannot write '-'") && refused.contains("--to flac")) << refused.toStdString();
    EXPECT_EQ(tulv({ "convert", mTone, "/dev/null", "--to", "wav", "-q" }).exitCode, 0);
    EXPECT_TRUE(QFileInfo("/dev/null").exists() && !QFileInfo("/dev/null").isFile());
    EXPECT_TRUE(QFileInfo(path("fifo")).exists() && !QFileInfo(path("fifo")).isFile());

    // A killed run's temporaries go once old; a live process's, or a fresh
    // one, stay (4194305 lies above the largest process id Linux gives).
    const QString dead = path(".x.tulv-4194305-1.wav"), live = path(".y.tulv-1-1.wav");
    const QString fresh = path(".z.tulv-4194305-2.wav");
    for (const QString& name : { dead, live, fresh })
        ASSERT_TRUE(writeBytes(name, "partial"));
    for (const QString& name : { dead, live })
        ASSERT_TRUE(runTool("touch", { "-d", "2 hours ago", name }));
    convert(mTone, "swept.wav");
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_TRUE(QFileInfo::exists(live) && QFileInfo::exists(fresh));

    // Many files into a directory it creates: one failure is named, the
    // others are still converted, and the exit status tells.
    const QString missing = path("missing.wav");
    EXPECT_TRUE(says(tulv({ "convert", mTone, missing, path("target.wav"), path("many"), "--to", "flac" }), 1,
                     "converted 2 of 3 files; failed: " + missing));
    EXPECT_EQ(readSound(path("many/tone.flac")), mOriginal);
    EXPECT_EQ(filesIn(path("many")), QStringList({ "target.flac", "tone.flac" }));
}
