// Algorithms rebuilt from JSON objects through the builder registry, and JSON
// documents saved and read back as text and as Qt binary JSON.
#include "tests/support/GraphAlgos.h"
#include "tests/support/IoFiles.h"
#include "tulv/core/SoundAlgo.h"
#include "tulv/core/Utilities.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>


using namespace testsupport;

namespace {

// Builds a GeometryCopy whose gain comes from "Gain"; refuses objects
// without it.
struct CopyBuilder : SoundAlgo::SoundAlgoJSonBuilder {
    SoundAlgo* build(const QJsonObject& object) override
    {
        ++calls;
        if (!object.contains(QStringLiteral("Gain")))
            return nullptr;
        QJsonObject copy = object;
        auto* algo = new GeometryCopy({}, copy[QStringLiteral("Gain")].toDouble());
        algo->readJSon(copy);
        return algo;
    }
    QString getClassName() override { return QStringLiteral("TestCopyAlgo"); }
    int calls = 0;
};

QJsonObject object(const QString& cls, double gain = 1.0)
{
    return QJsonObject { { QStringLiteral("Class"), cls }, { QStringLiteral("Gain"), gain } };
}

} // namespace

TEST(AlgoJsonRegistry, BuildsRegisteredClassesAndReportsTheOthers)
{
    static CopyBuilder builder;
    SoundAlgo::declareBuilder(&builder);
    QJsonObject good = object(QStringLiteral("TestCopyAlgo"), 0.5);
    good.insert(QStringLiteral("Id"), QStringLiteral("left"));
    AlgoRef<SoundAlgo> built(SoundAlgo::createFromJSon(good));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(built->getId(), QStringLiteral("left"));
    EXPECT_EQ(built->getRefCount(), 1);
    QJsonObject written;
    built->writeToJSon(written);
    EXPECT_EQ(written.value(QStringLiteral("Id")).toString(), QStringLiteral("left"));

    // No usable "Class": null, and the last error is left alone.
    SoundDebuggableClass::setError(QStringLiteral("earlier"), "here");
    for (const QJsonObject& o : { QJsonObject(), QJsonObject { { QStringLiteral("Class"), 12 } } })
        EXPECT_EQ(SoundAlgo::createFromJSon(o), nullptr);
    EXPECT_EQ(SoundDebuggableClass::getError(), QStringLiteral("here : earlier"));

    MessageLog log;
    EXPECT_EQ(SoundAlgo::createFromJSon(object(QStringLiteral("SoundAlgoFFTStats"))), nullptr);
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundAlgo::createFromJSon : Unknown class SoundAlgoFFTStats");
    EXPECT_TRUE(log.has(QStringLiteral("W:Unknown class SoundAlgoFFTStats")));
    EXPECT_EQ(SoundAlgo::createFromJSon(QJsonObject { { "Class", "TestCopyAlgo" } }), nullptr) << "no gain";
    EXPECT_EQ(SoundDebuggableClass::getError(), "SoundAlgo::createFromJSon : Unable to build TestCopyAlgo");

    // A later builder replaces an earlier one without deleting it; null is ignored.
    static CopyBuilder second;
    SoundAlgo::declareBuilder(&second);
    SoundAlgo::declareBuilder(nullptr);
    AlgoRef<SoundAlgo> rebuilt(SoundAlgo::createFromJSon(good));
    EXPECT_NE(rebuilt, nullptr);
    EXPECT_EQ(second.calls, 1);

    // An array keeps what can be built.
    const QJsonArray array { object(QStringLiteral("TestCopyAlgo"), 1.0), 42, object(QStringLiteral("NoSuchAlgo")),
                             QStringLiteral("text"), QJsonObject(), object(QStringLiteral("TestCopyAlgo"), 2.0) };
    const std::vector<SoundAlgo*> list = SoundAlgo::createFromJSon(array);
    ASSERT_EQ(list.size(), 2u);
    for (SoundAlgo* algo : list) {
        ASSERT_NE(algo, nullptr);
        algo->release();
    }
    EXPECT_TRUE(SoundAlgo::createFromJSon(QJsonArray()).empty());
}

TEST(JsonFiles, DocumentsRoundTripAndFailuresKeepWhatWasThere)
{
    QTemporaryDir dir;
    MessageLog log;
    // Larger than the file size limit below.
    QJsonArray levels;
    for (int i = 0; i < 5000; ++i)
        levels.append(-100.0 + i * 1.25 + 1e-9 * i);
    const QJsonDocument document(QJsonObject { { "Name", QStringLiteral("Côté \"quoted\" ✓") }, { "Levels", levels } });

    // With binary asked for, only a name ending in ".json" (case-sensitive)
    // is text; without, every name is.
    struct Case {
        const char* name;
        bool binary, text;
    };
    for (const Case c : { Case { "stats.json", true, true }, Case { "stats.ssf", true, false },
                          Case { "stats.JSON", true, false }, Case { "stats", true, false },
                          Case { "plain.ssf", false, true } }) {
        SCOPED_TRACE(c.name);
        const QString name = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(Utilities::writeJSONToFile(document, name, c.binary));
        const QByteArray bytes = iotest::readBytes(name);
        EXPECT_TRUE(c.text ? QJsonDocument::fromJson(bytes) == document : bytes.startsWith("qbjs"));
        EXPECT_EQ(Utilities::readJSONFromFile(name, c.binary), document);
        // Read in the other form, it is no document; invalid binary is not reported.
        if (!QString::fromLatin1(c.name).endsWith(QStringLiteral(".json"))) {
            MessageLog inner;
            EXPECT_TRUE(Utilities::readJSONFromFile(name, !c.binary).isNull());
            EXPECT_TRUE(c.binary || inner.lines().isEmpty());
        }
        QFile::remove(name);
    }

    EXPECT_TRUE(Utilities::readJSONFromFile(dir.filePath(QStringLiteral("missing.json")), true).isNull());
    EXPECT_TRUE(Utilities::readJSONFromFile(dir.filePath(QStringLiteral("missing.ssf")), true).isNull());
    EXPECT_TRUE(log.lines().isEmpty());

    // A document cut short: the parser stops at its end, offset 16.
    const QString broken = dir.filePath(QStringLiteral("broken.json"));
    ASSERT_TRUE(iotest::writeBytes(broken, "{\"Class\": \"Test\""));
    EXPECT_TRUE(Utilities::readJSONFromFile(broken, true).isNull());
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("C:JSON read error offset 16 : ")) << log.lines()[0].toStdString();

    const QString nowhere = dir.filePath(QStringLiteral("no/such/dir/file.json"));
    EXPECT_FALSE(Utilities::writeJSONToFile(QJsonDocument(QJsonObject()), nowhere, true));
    EXPECT_TRUE(log.has(QStringLiteral("C:JSON write error ; unable to open file ") + nowhere));
    EXPECT_FALSE(QFile::exists(nowhere));
    // A directory in the way.
    EXPECT_FALSE(Utilities::writeJSONToFile(QJsonDocument(QJsonObject()), dir.path(), false));

    // A failed save keeps the previous file.
    const QString target = dir.filePath(QStringLiteral("catalog.json"));
    ASSERT_TRUE(Utilities::writeJSONToFile(QJsonDocument(QJsonObject()), target, true));
    const QByteArray before = iotest::readBytes(target);

    // A document larger than the file size limit: the write is cut short by
    // the system, as on a full disk.
    bool text, binary;
    {
        FileSizeLimit limit(4096);
        text = Utilities::writeJSONToFile(document, target, true);
        binary = Utilities::writeJSONToFile(document, target + QStringLiteral(".bin"), true);
    }
    EXPECT_FALSE(text);
    EXPECT_FALSE(binary);
    EXPECT_TRUE(log.has(QStringLiteral("C:JSON write error")));
    EXPECT_EQ(iotest::readBytes(target), before);
    // Nothing half-written is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList { "broken.json", "catalog.json" }));

    // A later save with room replaces the file whole.
    ASSERT_TRUE(Utilities::writeJSONToFile(document, target, true));
    EXPECT_EQ(Utilities::readJSONFromFile(target, true), document);
}
