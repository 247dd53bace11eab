// Back ends chosen by file name, and the writer factory's format table as
// libsndfile reports it back from the files written.
#include "tests/support/IoFiles.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace iotest;

TEST(IoFactory, ReaderByExtension)
{
    struct Case {
        const char* name;
        const char* kind; // "mp3", "sndfile" or nullptr
    };
    const Case cases[] = {
        {"", nullptr},
        {"song", nullptr},
        {"C:\\music\\album\\song", nullptr},
        {"C:\\music.d\\song", nullptr},
        {"/home/me/dir.wav/song", nullptr},
        {"a.txt", nullptr},
        {"a.aiff", nullptr},
        {"x.mp3", "mp3"},
        {"LOUD.MP3", "mp3"},
        {"C:\\music\\a.Mp3", "mp3"},
        {"a.wav", "sndfile"},
        {"/x/y/a.b.FLAC", "sndfile"},
        {"d:relative.ogg", "sndfile"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(QString::fromUtf8(c.name)));
        EXPECT_EQ(SoundReader::isRecognized(QString::fromUtf8(c.name)), c.kind != nullptr);
        if (!c.kind) {
            EXPECT_FALSE(reader);
        } else if (std::strcmp(c.kind, "mp3") == 0) {
            EXPECT_TRUE(dynamic_cast<SoundReaderMp3*>(reader.get()));
        } else {
            EXPECT_TRUE(dynamic_cast<SoundReaderSndfile*>(reader.get()));
        }
    }
}

TEST(IoFactory, WriterByExtension)
{
    EXPECT_FALSE(SoundWriter::getFromFilename("", 44100, 128, SoundTools::Int16));
    EXPECT_FALSE(SoundWriter::getFromFilename("/tmp/noext", 44100, 128, SoundTools::Int16));
    EXPECT_FALSE(SoundWriter::getFromFilename("/tmp/dir.d/noext", 44100, 128, SoundTools::Int16));
    std::unique_ptr<SoundWriter> mp3(SoundWriter::getFromFilename("a.MP3", 44100, 128, SoundTools::Int16));
    EXPECT_TRUE(dynamic_cast<SoundWriterMp3*>(mp3.get()));
    struct Case {
        const char* name;
        SoundTools::SoundFormat format;
        int code;
    };
    const Case cases[] = {
        {"a.wav", SoundTools::Int8, 0x10005},    {"a.wav", SoundTools::Int16, 0x10002},
        {"a.wav", SoundTools::Int24, 0x10003},   {"a.wav", SoundTools::Int32, 0x10004},
        {"a.wav", SoundTools::Float32, 0x10006}, {"a.wav", SoundTools::Float64, 0x10007},
        {"a.flac", SoundTools::Int8, 0x170002},  {"a.flac", SoundTools::Int16, 0x170002},
        {"a.flac", SoundTools::Int24, 0x170003}, {"a.flac", SoundTools::Float64, 0x170003},
        {"a.ogg", SoundTools::Int24, 0x200060},  {"a.aiff", SoundTools::Int16, 0x30040006},
        {"a.raw", SoundTools::Int24, 0x30040006},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.format));
        std::unique_ptr<SoundWriter> writer(SoundWriter::getFromFilename(c.name, 48000, 320, c.format));
        auto* sndfile = dynamic_cast<SoundWriterSndfile*>(writer.get());
        ASSERT_TRUE(sndfile);
        EXPECT_EQ(sndfile->getFormatCode(), c.code);
        EXPECT_EQ(sndfile->getSampleRate(), 48000u);
        EXPECT_EQ(sndfile->getChannelNum(), 2u);
    }
}

TEST(IoFactory, WrittenFilesCarryTheRequestedSampleFormat)
{
    // What libsndfile reads back from each file is the format it was asked for.
    QTemporaryDir dir;
    const Samples sound = stereoSine(1000, 44100, 440, 660, 0.5);
    const struct {
        const char* ext;
        SoundTools::SoundFormat asked;
        SoundTools::SoundFormat reported;
    } cases[] = {
        {"wav", SoundTools::Int8, SoundTools::Int8},       {"wav", SoundTools::Int16, SoundTools::Int16},
        {"wav", SoundTools::Int24, SoundTools::Int24},     {"wav", SoundTools::Int32, SoundTools::Int32},
        {"wav", SoundTools::Float32, SoundTools::Float32}, {"wav", SoundTools::Float64, SoundTools::Float64},
        {"flac", SoundTools::Int16, SoundTools::Int16},    {"flac", SoundTools::Float32, SoundTools::Int24},
        {"ogg", SoundTools::Float64, SoundTools::Int16},
    };
    int i = 0;
    for (const auto& c : cases) {
        const QString name = dir.filePath(QStringLiteral("f%1.%2").arg(i++).arg(c.ext));
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(writeFile(name, sound, 44100, c.asked));
        SoundReaderSndfile reader;
        ASSERT_EQ(reader.open(name), SoundTools::Ok);
        EXPECT_EQ(reader.getInputFormat(), c.reported);
        EXPECT_EQ(reader.getSampleRate(), 44100u);
    }
}

TEST(IoFactory, RawFileIsHeaderlessHostOrderFloat)
{
    QTemporaryDir dir;
    const Samples sound = {0.25, -0.5, 1.5, -2.0, 0.125, 0.0};
    const QString name = dir.filePath("samples.aiff");
    ASSERT_TRUE(writeFile(name, sound, 44100, SoundTools::Int16));
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), int(sound.size() * sizeof(float)));
    for (size_t i = 0; i < sound.size(); ++i) {
        float value;
        std::memcpy(&value, bytes.constData() + i * sizeof(float), sizeof value);
        EXPECT_EQ(value, float(sound[i])); // no clipping in float
    }
}
