// Moving files and folders into the user's trash. Every test points HOME and
// XDG_DATA_HOME into a temporary directory, so the real trash is never
// touched.
#include "tests/support/IoFiles.h"
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
        qputenv("HOME", QFile::encodeName(place(QString())));
        qputenv("XDG_DATA_HOME", QFile::encodeName(place(QStringLiteral(".local/share"))));
        QDir().mkpath(place(QStringLiteral(".local/share")));
    }
    ~TemporaryHome()
    {
        qputenv("HOME", mHome);
        if (mHadData)
            qputenv("XDG_DATA_HOME", mData);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    QString trash(const QString& relative) const { return place(QStringLiteral(".local/share/Trash/") + relative); }
    QString place(const QString& relative) const { return mDir.filePath(QStringLiteral("home/") + relative); }

    // The original path recorded for `name` in the trash, decoded; empty
    // unless the record is well formed and dated.
    QString recordedPath(const QString& name) const
    {
        const QList<QByteArray> lines
            = iotest::readBytes(trash(QStringLiteral("info/") + name + QStringLiteral(".trashinfo"))).split('\n');
        bool dated = false;
        QString path;
        for (const QByteArray& line : lines) {
            if (line.startsWith("Path="))
                path = QUrl::fromPercentEncoding(line.mid(5).trimmed());
            dated = dated || line.startsWith("DeletionDate=");
        }
        return lines[0].trimmed() == "[Trash Info]" && dated ? path : QString();
    }

private:
    QTemporaryDir mDir;
    QByteArray mHome;
    QByteArray mData;
    bool mHadData;
};

} // namespace

TEST(Trash, FilesAndFoldersMoveIntoTheTrashWithTheirOriginalPaths)
{
    TemporaryHome home;
    EXPECT_FALSE(Utilities::moveToThrash(home.place(QStringLiteral("never written.wav"))));
    EXPECT_FALSE(Utilities::moveToThrash(QString()));
    EXPECT_FALSE(QFileInfo::exists(home.trash(QStringLiteral("info"))));
    // Far beyond the 260 units of the old Windows path limit.
    QString folder = home.place(QStringLiteral("album"));
    for (int i = 0; i < 12; ++i)
        folder += QStringLiteral("/a rather long folder name number %1").arg(i);
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& path : { home.place(QStringLiteral("take 1 (café).wav")), folder + QStringLiteral("/track 01.flac") }) {
        SCOPED_TRACE(path.toStdString());
        const QString name = QFileInfo(path).fileName();
        ASSERT_TRUE(iotest::writeBytes(path, "RIFF...."));
        EXPECT_TRUE(Utilities::moveToThrash(path));
        EXPECT_FALSE(QFileInfo::exists(path));
        EXPECT_EQ(iotest::readBytes(home.trash(QStringLiteral("files/") + name)), QByteArray("RIFF...."));
        EXPECT_EQ(home.recordedPath(name), path);
    }
    // A second file of the same name does not overwrite the first.
    const QString again = home.place(QStringLiteral("take 1 (café).wav"));
    ASSERT_TRUE(iotest::writeBytes(again, "second"));
    EXPECT_TRUE(Utilities::moveToThrash(again));
    EXPECT_EQ(QDir(home.trash(QStringLiteral("files"))).entryList(QDir::Files).size(), 3);
    EXPECT_EQ(QDir(home.trash(QStringLiteral("info"))).entryList(QDir::Files).size(), 3);

    // A folder, named relative to the working directory.
    const QString album = home.place(QStringLiteral("album"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(home.place(QString())));
    const bool moved = Utilities::moveToThrash(QStringLiteral("album"));
    QDir::setCurrent(previous);
    EXPECT_TRUE(moved);
    EXPECT_FALSE(QFileInfo::exists(album));
    EXPECT_TRUE(QFileInfo(home.trash(QStringLiteral("files/album/a rather long folder name number 0"))).isDir());
    EXPECT_EQ(home.recordedPath(QStringLiteral("album")), QFileInfo(album).absoluteFilePath());
}
