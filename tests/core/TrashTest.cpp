// Moving files and folders into the user's trash. Every test points HOME and
// XDG_DATA_HOME into a temporary directory, so the real trash is never
// touched.
#include "tulv/core/Utilities.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

class TemporaryHome {
public:
    TemporaryHome()
        : mHome(qgetenv("HOME"))
        , mData(qgetenv("XDG_DATA_HOME"))
        , mHadData(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
    {
        qputenv("HOME", QFile::encodeName(mDir.filePath(QStringLiteral("home"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
        QDir().mkpath(mDir.filePath(QStringLiteral("home")));
        QDir().mkpath(dataHome());
    }
    ~TemporaryHome()
    {
        qputenv("HOME", mHome);
        if (mHadData)
            qputenv("XDG_DATA_HOME", mData);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    bool isValid() const { return mDir.isValid(); }
    QString dataHome() const { return mDir.filePath(QStringLiteral("home/.local/share")); }
    QString trash() const { return dataHome() + QStringLiteral("/Trash"); }
    QString place(const QString& relative) const { return mDir.filePath(QStringLiteral("home/") + relative); }

private:
    QTemporaryDir mDir;
    QByteArray mHome;
    QByteArray mData;
    bool mHadData;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The original path recorded for `name` in the trash, decoded.
QString recordedPath(const TemporaryHome& home, const QString& name)
{
    QFile info(home.trash() + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
    if (!info.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> lines = info.readAll().split('\n');
    if (lines.isEmpty() || lines[0].trimmed() != "[Trash Info]")
        return QString();
    bool dated = false;
    QString path;
    for (const QByteArray& line : lines) {
        if (line.startsWith("Path="))
            path = QUrl::fromPercentEncoding(line.mid(5).trimmed());
        if (line.startsWith("DeletionDate="))
            dated = true;
    }
    return dated ? path : QString();
}

} // namespace

TEST(Trash, AFileMovesIntoTheTrashWithItsOriginalPath)
{
    TemporaryHome home;
    ASSERT_TRUE(home.isValid());
    const QString path = home.place(QStringLiteral("take 1 (café).wav"));
    ASSERT_TRUE(writeFile(path, "RIFF...."));
    EXPECT_TRUE(Utilities::moveToThrash(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    const QString trashed = home.trash() + QStringLiteral("/files/take 1 (café).wav");
    ASSERT_TRUE(QFileInfo::exists(trashed));
    QFile file(trashed);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("RIFF...."));
    EXPECT_EQ(recordedPath(home, QStringLiteral("take 1 (café).wav")), QFileInfo(path).absoluteFilePath());

    // A second file of the same name does not overwrite the first.
    ASSERT_TRUE(writeFile(path, "second"));
    EXPECT_TRUE(Utilities::moveToThrash(path));
    EXPECT_EQ(QDir(home.trash() + QStringLiteral("/files")).entryList(QDir::Files).size(), 2);
    EXPECT_EQ(QDir(home.trash() + QStringLiteral("/info")).entryList(QDir::Files).size(), 2);
}

TEST(Trash, LongPathsAndFoldersAreTrashed)
{
    TemporaryHome home;
    ASSERT_TRUE(home.isValid());
    // Far beyond the 260 units of the old Windows path limit.
    QString folder = home.place(QStringLiteral("album"));
    for (int i = 0; i < 12; ++i)
        folder += QStringLiteral("/a rather long folder name number %1").arg(i);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/track 01.flac");
    ASSERT_GT(path.size(), 400);
    ASSERT_TRUE(writeFile(path, "fLaC"));
    EXPECT_TRUE(Utilities::moveToThrash(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(recordedPath(home, QStringLiteral("track 01.flac")), path);

    // A whole folder, given by a relative path.
    const QString album = home.place(QStringLiteral("album"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(home.place(QString())));
    const bool moved = Utilities::moveToThrash(QStringLiteral("album"));
    QDir::setCurrent(previous);
    EXPECT_TRUE(moved);
    EXPECT_FALSE(QFileInfo::exists(album));
    EXPECT_TRUE(QFileInfo(home.trash() + QStringLiteral("/files/album")).isDir());
    EXPECT_EQ(recordedPath(home, QStringLiteral("album")), QFileInfo(album).absoluteFilePath());
}

TEST(Trash, AMissingPathAnswersFalse)
{
    TemporaryHome home;
    ASSERT_TRUE(home.isValid());
    EXPECT_FALSE(Utilities::moveToThrash(home.place(QStringLiteral("never written.wav"))));
    EXPECT_FALSE(Utilities::moveToThrash(QString()));
    EXPECT_FALSE(QFileInfo::exists(home.trash() + QStringLiteral("/info")));
}
