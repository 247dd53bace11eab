// Algorithms rebuilt from JSON objects through the builder registry, and JSON
// documents saved and read back as text and as Qt binary JSON.
#include "tests/support/GraphAlgos.h"
#include "tulv/core/SoundAlgo.h"
#include "tulv/core/Utilities.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace testsupport;

namespace {

// Collects the Qt messages logged while it lives.
class MessageLog {
public:
    MessageLog()
    {
        sLog = this;
        mPrevious = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(mPrevious);
        sLog = nullptr;
    }
    struct Entry {
        QtMsgType type;
        QString text;
    };
    const std::vector<Entry>& entries() const { return mEntries; }
    bool has(QtMsgType type, const QString& fragment) const
    {
        for (const auto& e : mEntries)
            if (e.type == type && e.text.contains(fragment))
                return true;
        return false;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (sLog)
            sLog->mEntries.push_back({ type, text });
    }
    static MessageLog* sLog;
    QtMessageHandler mPrevious;
    std::vector<Entry> mEntries;
};
MessageLog* MessageLog::sLog = nullptr;

// Builds a GeometryCopy whose gain comes from "Gain"; refuses objects
// without it.
class CopyBuilder : public SoundAlgo::SoundAlgoJSonBuilder {
public:
    explicit CopyBuilder(QString name)
        : mName(std::move(name))
    {
    }
    SoundAlgo* build(const QJsonObject& object) override
    {
        ++calls;
        if (!object.contains(QStringLiteral("Gain")))
            return nullptr;
        auto* algo = new GeometryCopy({}, object.value(QStringLiteral("Gain")).toDouble());
        QJsonObject copy = object;
        algo->readJSon(copy);
        return algo;
    }
    QString getClassName() override { return mName; }
    int calls = 0;

private:
    QString mName;
};

QJsonObject object(const QString& cls, double gain = 1.0)
{
    QJsonObject o;
    o.insert(QStringLiteral("Class"), cls);
    o.insert(QStringLiteral("Gain"), gain);
    return o;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonDocument sampleDocument()
{
    QJsonObject root;
    root.insert(QStringLiteral("Class"), QStringLiteral("SoundStatFile"));
    root.insert(QStringLiteral("SampleRate"), 44100);
    root.insert(QStringLiteral("Name"), QStringLiteral("Côté \"quoted\" ✓"));
    QJsonArray levels;
    for (int i = 0; i < 50; ++i)
        levels.append(-100.0 + i * 1.25 + 1e-9 * i);
    root.insert(QStringLiteral("Levels"), levels);
    return QJsonDocument(root);
}

} // namespace

TEST(AlgoJsonRegistry, BuildsRegisteredClassesAndReportsTheOthers)
{
    static CopyBuilder builder(QStringLiteral("TestCopyAlgo"));
    SoundAlgo::declareBuilder(&builder);
    EXPECT_EQ(SoundAlgo::sJsonBuilders.value(QStringLiteral("TestCopyAlgo")), &builder);

    QJsonObject good = object(QStringLiteral("TestCopyAlgo"), 0.5);
    good.insert(QStringLiteral("Id"), QStringLiteral("left"));
    AlgoRef<SoundAlgo> built(SoundAlgo::createFromJSon(good));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(built->getId(), QStringLiteral("left"));
    EXPECT_EQ(built->getRefCount(), 1);

    // No usable "Class": null, and the last error is left alone.
    SoundDebuggableClass::setError(QStringLiteral("earlier"), "here");
    QJsonObject noClass;
    noClass.insert(QStringLiteral("Id"), QStringLiteral("x"));
    EXPECT_EQ(SoundAlgo::createFromJSon(noClass), nullptr);
    QJsonObject numericClass;
    numericClass.insert(QStringLiteral("Class"), 12);
    EXPECT_EQ(SoundAlgo::createFromJSon(numericClass), nullptr);
    EXPECT_EQ(SoundDebuggableClass::getError(), QStringLiteral("here : earlier"));

    MessageLog log;
    EXPECT_EQ(SoundAlgo::createFromJSon(object(QStringLiteral("SoundAlgoFFTStats"))), nullptr);
    EXPECT_EQ(SoundDebuggableClass::getError(), QStringLiteral("SoundAlgo::createFromJSon : Unknown class SoundAlgoFFTStats"));
    EXPECT_TRUE(log.has(QtWarningMsg, QStringLiteral("Unknown class SoundAlgoFFTStats")));

    QJsonObject unusable;
    unusable.insert(QStringLiteral("Class"), QStringLiteral("TestCopyAlgo"));
    EXPECT_EQ(SoundAlgo::createFromJSon(unusable), nullptr);
    EXPECT_EQ(SoundDebuggableClass::getError(), QStringLiteral("SoundAlgo::createFromJSon : Unable to build TestCopyAlgo"));
}

TEST(AlgoJsonRegistry, ALaterBuilderReplacesAnEarlierOneWithoutDeletingIt)
{
    static CopyBuilder first(QStringLiteral("TestReplacedAlgo"));
    static CopyBuilder second(QStringLiteral("TestReplacedAlgo"));
    SoundAlgo::declareBuilder(&first);
    SoundAlgo::declareBuilder(&second);
    SoundAlgo::declareBuilder(nullptr);
    AlgoRef<SoundAlgo> built(SoundAlgo::createFromJSon(object(QStringLiteral("TestReplacedAlgo"))));
    EXPECT_NE(built, nullptr);
    EXPECT_EQ(first.calls, 0);
    EXPECT_EQ(second.calls, 1);
    // Still alive: a replaced builder belongs to whoever made it.
    EXPECT_EQ(first.getClassName(), QStringLiteral("TestReplacedAlgo"));
}

TEST(AlgoJsonRegistry, AnArrayKeepsWhatCanBeBuilt)
{
    static CopyBuilder builder(QStringLiteral("TestArrayAlgo"));
    SoundAlgo::declareBuilder(&builder);
    QJsonArray array;
    array.append(object(QStringLiteral("TestArrayAlgo"), 1.0));
    array.append(42);
    array.append(object(QStringLiteral("NoSuchAlgo")));
    array.append(QStringLiteral("text"));
    array.append(QJsonObject()); // no class
    array.append(object(QStringLiteral("TestArrayAlgo"), 2.0));
    const std::vector<SoundAlgo*> built = SoundAlgo::createFromJSon(array);
    ASSERT_EQ(built.size(), 2u);
    for (SoundAlgo* algo : built) {
        ASSERT_NE(algo, nullptr);
        algo->release();
    }
    EXPECT_TRUE(SoundAlgo::createFromJSon(QJsonArray()).empty());
}

TEST(AlgoJsonRegistry, TheBaseObjectCarriesTheIdentifier)
{
    AlgoRef<GeometryCopy> algo(new GeometryCopy({}, 1.0, QStringLiteral("band [0-200]")));
    QJsonObject written;
    algo->writeToJSon(written);
    EXPECT_EQ(written.value(QStringLiteral("Id")).toString(), QStringLiteral("band [0-200]"));

    AlgoRef<GeometryCopy> unnamed(new GeometryCopy({}));
    QJsonObject empty;
    unnamed->writeToJSon(empty);
    ASSERT_TRUE(empty.value(QStringLiteral("Id")).isString());
    EXPECT_EQ(empty.value(QStringLiteral("Id")).toString(), QString());

    EXPECT_TRUE(unnamed->readJSon(written));
    EXPECT_EQ(unnamed->getId(), QStringLiteral("band [0-200]"));
    QJsonObject numericId;
    numericId.insert(QStringLiteral("Id"), 3);
    EXPECT_TRUE(unnamed->readJSon(numericId));
    EXPECT_EQ(unnamed->getId(), QStringLiteral("band [0-200]"));
}

TEST(JsonFiles, TextAndBinaryDocumentsRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QJsonDocument document = sampleDocument();

    const QString text = dir.filePath(QStringLiteral("stats.json"));
    ASSERT_TRUE(Utilities::writeJSONToFile(document, text, true));
    EXPECT_TRUE(fileBytes(text).trimmed().startsWith('{'));
    EXPECT_EQ(QJsonDocument::fromJson(fileBytes(text)), document);
    EXPECT_EQ(Utilities::readJSONFromFile(text, true), document);

    // Any other name is binary, and so is ".JSON": the rule is case-sensitive.
    for (const char* name : { "stats.ssf", "stats.JSON", "stats" }) {
        const QString binary = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(Utilities::writeJSONToFile(document, binary, true)) << name;
        EXPECT_TRUE(fileBytes(binary).startsWith("qbjs")) << name;
        EXPECT_EQ(Utilities::readJSONFromFile(binary, true), document) << name;
        // Read as text, the binary form is no JSON.
        MessageLog log;
        EXPECT_TRUE(Utilities::readJSONFromFile(binary, false).isNull()) << name;
    }

    // Without binary, every name is text.
    const QString plain = dir.filePath(QStringLiteral("stats.ssf"));
    ASSERT_TRUE(Utilities::writeJSONToFile(document, plain, false));
    EXPECT_TRUE(fileBytes(plain).trimmed().startsWith('{'));
    EXPECT_EQ(Utilities::readJSONFromFile(plain, false), document);
    MessageLog log;
    EXPECT_TRUE(Utilities::readJSONFromFile(plain, true).isNull());
    EXPECT_TRUE(log.entries().empty()) << "invalid binary JSON is not reported";
}

TEST(JsonFiles, UnreadableFilesGiveANullDocument)
{
    QTemporaryDir dir;
    MessageLog log;
    EXPECT_TRUE(Utilities::readJSONFromFile(dir.filePath(QStringLiteral("missing.json")), true).isNull());
    EXPECT_TRUE(Utilities::readJSONFromFile(dir.filePath(QStringLiteral("missing.ssf")), true).isNull());
    EXPECT_TRUE(log.entries().empty());

    // A document cut short: the parser stops at its end, offset 16.
    const QString broken = dir.filePath(QStringLiteral("broken.json"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"Class\": \"Test\"");
    file.close();
    EXPECT_TRUE(Utilities::readJSONFromFile(broken, true).isNull());
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].type, QtCriticalMsg);
    EXPECT_TRUE(log.entries()[0].text.startsWith(QStringLiteral("JSON read error offset 16 : ")))
        << log.entries()[0].text.toStdString();
}

TEST(JsonFiles, AFailedSaveKeepsThePreviousFile)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("catalog.json"));
    QJsonObject small;
    small.insert(QStringLiteral("Version"), 1);
    ASSERT_TRUE(Utilities::writeJSONToFile(QJsonDocument(small), target, true));
    const QByteArray before = fileBytes(target);

    // A document larger than the file size limit: the write is cut short by
    // the system, as on a full disk.
    QJsonArray big;
    for (int i = 0; i < 20000; ++i)
        big.append(i * 0.001);
    QJsonObject large;
    large.insert(QStringLiteral("Values"), big);
    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    MessageLog log;
    const bool text = Utilities::writeJSONToFile(QJsonDocument(large), target, true);
    const bool binary = Utilities::writeJSONToFile(QJsonDocument(large), target + QStringLiteral(".bin"), true);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(text);
    EXPECT_FALSE(binary);
    EXPECT_TRUE(log.has(QtCriticalMsg, QStringLiteral("JSON write error")));
    EXPECT_EQ(fileBytes(target), before);
    EXPECT_FALSE(QFile::exists(target + QStringLiteral(".bin")));
    // Nothing half-written is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("catalog.json") });

    // A later save with room replaces the file whole.
    ASSERT_TRUE(Utilities::writeJSONToFile(QJsonDocument(large), target, true));
    EXPECT_EQ(Utilities::readJSONFromFile(target, true), QJsonDocument(large));
}

TEST(JsonFiles, AnUnwritablePlaceAnswersFalse)
{
    QTemporaryDir dir;
    MessageLog log;
    const QString nowhere = dir.filePath(QStringLiteral("no/such/dir/file.json"));
    EXPECT_FALSE(Utilities::writeJSONToFile(sampleDocument(), nowhere, true));
    EXPECT_TRUE(log.has(QtCriticalMsg, QStringLiteral("JSON write error ; unable to open file ") + nowhere));
    EXPECT_FALSE(QFile::exists(nowhere));
    // A directory in the way of the file.
    EXPECT_FALSE(Utilities::writeJSONToFile(sampleDocument(), dir.path(), false));
}
