// Deleting a folder tree: counts, the folder itself, and what is never touched.
#include "media/folder_deletion.h"
#include "media/sd_card_initializer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using media::deleteFolderTree;

namespace {

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

}  // namespace

TEST(FolderDeletion, DeletesTheTreeAndCountsWhatWent)
{
    QTemporaryDir dir;
    const QString top = dir.filePath(QStringLiteral("Movies"));
    touch(top + QStringLiteral("/a.mmv"));
    touch(top + QStringLiteral("/x/y/b.mmv"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc"), top + QStringLiteral("/x/etc")));
    QFile(top + QStringLiteral("/a.mmv")).setPermissions(QFile::ReadOwner);  // read-only files still go

    const auto kept = deleteFolderTree(top + u'/', true);
    EXPECT_TRUE(kept.complete);
    EXPECT_EQ(kept.filesDeleted, 3);
    EXPECT_EQ(kept.foldersDeleted, 2);
    EXPECT_TRUE(QDir(top).isEmpty());
    EXPECT_TRUE(QFileInfo(QStringLiteral("/etc/passwd")).exists());

    const auto gone = deleteFolderTree(top, false);
    EXPECT_TRUE(gone.complete);
    EXPECT_EQ(gone.foldersDeleted, 1);
    EXPECT_FALSE(QFileInfo::exists(top));
}

TEST(FolderDeletion, AFolderGivenAsALinkOrMissingIsNotDeleted)
{
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("real/keep.txt")));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("real")), dir.filePath(QStringLiteral("link"))));

    const auto viaLink = deleteFolderTree(dir.filePath(QStringLiteral("link")), false);
    EXPECT_FALSE(viaLink.complete);
    EXPECT_EQ(viaLink.failedPath, dir.filePath(QStringLiteral("link")));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("real/keep.txt"))));

    const auto missing = deleteFolderTree(dir.filePath(QStringLiteral("none")), true);
    EXPECT_FALSE(missing.complete);
    EXPECT_EQ(missing.reason, QStringLiteral("No such file or directory"));
}

TEST(FolderDeletion, StartFolderAndContainment)
{
    EXPECT_EQ(media::startFolderFor({QStringLiteral("/media/u/CARD")}), QStringLiteral("/media/u/CARD"));
    EXPECT_EQ(media::startFolderFor({QStringLiteral("/media/u/A"), QStringLiteral("/media/u/B")}),
              QStringLiteral("/media/u"));
    EXPECT_EQ(media::startFolderFor({QStringLiteral("/media/u/A"), QStringLiteral("/run/media/B")}),
              QStringLiteral("/"));
    EXPECT_TRUE(media::isInside(QStringLiteral("/media/u/CARD/DCIM"), QStringLiteral("/media/u/CARD")));
    EXPECT_TRUE(media::isInside(QStringLiteral("/media/u/CARD"), QStringLiteral("/media/u/CARD")));
    EXPECT_FALSE(media::isInside(QStringLiteral("/media/u/CARD2"), QStringLiteral("/media/u/CARD")));
    EXPECT_TRUE(media::isInside(QStringLiteral("/anything"), QStringLiteral("/")));
    EXPECT_FALSE(media::isInside(QString(), QStringLiteral("/media/u/CARD")));
}
