// Moving files and folders into the user's trash. Every test points HOME and
// XDG_DATA_HOME into a temporary directory, so the real trash is never
// touched.
#include "tests/support/IoFiles.h"
#include "tulv/core/Utilities.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

class TemporaryHome {
public:
    TemporaryHome()
    {
        for (const char* name : { "HOME", "XDG_DATA_HOME" })
            mSaved.emplace_back(name, qEnvironmentVariableIsSet(name), qgetenv(name));
        qputenv("HOME", QFile::encodeName(place(QString())));
        qputenv("XDG_DATA_HOME", QFile::encodeName(place(QStringLiteral(".local/share"))));
        QDir().mkpath(place(QStringLiteral(".local/share")));
    }
    ~TemporaryHome()
    {
        for (const auto& [name, wasSet, value] : mSaved)
            wasSet ? qputenv(name, value) : qunsetenv(name);
    }
    QString trash(const QString& relative) const { return place(QStringLiteral(".local/share/Trash/") + relative); }
    QString place(const QString& relative) const { return mDir.filePath(QStringLiteral("home/") + relative); }

    // The original path recorded for `name` in the trash, decoded; empty
    // unless the record is well formed and dated.
    QString recordedPath(const QString& name) const
    {
        const QString info = QString::fromUtf8(iotest::readBytes(trash(QStringLiteral("info/%1.trashinfo").arg(name))));
        const QRegularExpressionMatch path = QRegularExpression(QStringLiteral("\nPath=(.*)\n")).match(info);
        const bool wellFormed = info.startsWith("[Trash Info]\n") && info.contains("\nDeletionDate=");
        return wellFormed ? QUrl::fromPercentEncoding(path.captured(1).toUtf8()) : QString();
    }

private:
    QTemporaryDir mDir;
    std::vector<std::tuple<const char*, bool, QByteArray>> mSaved;
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
    for (const QString& path : { home.place("take 1 (café).wav"), folder + "/track 01.flac" }) {
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
