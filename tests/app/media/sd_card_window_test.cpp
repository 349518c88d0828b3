// The main window's SD card buttons over scripted removable drives: every
// message and log line, the cards that are emptied and the ones that are not.
#include "sd_card_fixture.h"

#include "app_windows.h"
#include "media/fake_removable_media.h"
#include "media/form_init_sd.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QTimer>

#include <cerrno>
#include <cstring>

using media::FakeRemovableMedia;
using media::MediaError;
using media::RemovableDrive;
using Kind = toolkit::ScriptedUserInteraction::Kind;

namespace {

const QString kNone = QStringLiteral("Didn't find Removable Drive");
const QString kNotRemovable = QStringLiteral("It is not a Removable Drive");

RemovableDrive card(const QString& id, QStringList mountPoints, bool mediaRemovable = true, bool canPowerOff = true)
{
    RemovableDrive d;
    d.id = id;
    d.device = QStringLiteral("/dev/") + id;
    for (qsizetype i = 0; i < mountPoints.size(); ++i)
        d.filesystems.append({id + QString::number(i + 1), {mountPoints[i]}});
    d.mediaRemovable = mediaRemovable;
    d.canPowerOff = canPowerOff;
    return d;
}

MediaError error(const char* name, const char* message = "refused")
{
    return {QStringLiteral("org.freedesktop.UDisks2.Error.") + QLatin1String(name), QLatin1String(message)};
}

}  // namespace

class SdCardWindowTest : public SdCardFixture {
protected:
    void SetUp() override
    {
        SdCardFixture::SetUp();
        auto owned = std::make_unique<FakeRemovableMedia>();
        fake = owned.get();
        window->sdCard().setMedia(std::move(owned));
        cardE = makeDir(QStringLiteral("media/u/E"));
        cardF = makeDir(QStringLiteral("media/u/F"));
        fixed = makeDir(QStringLiteral("home/u"));
        makeFile(QStringLiteral("home/u/keep.txt"));
    }

    void fillCard(const QString& card)
    {
        const QString rel = card.mid(root.size() + 1);
        makeFile(rel + QStringLiteral("/setting.ini"));
        makeFile(rel + QStringLiteral("/DRV/20260101.drv"));
        makeFile(rel + QStringLiteral("/Movies/a.mmv"));
        makeFile(rel + QStringLiteral("/Movies/deep/b.mmv"));
        makeDir(rel + QStringLiteral("/.hidden"));
    }

    QStringList initLog(const QStringList& listed, const QString& chosen, const QStringList& walked) const
    {
        QStringList lines = listed;
        lines << chosen << QString::number(listed.size());
        for (const QString& point : walked)
            lines << QStringLiteral("---------") << point << QStringLiteral("***********");
        return lines;
    }

    FakeRemovableMedia* fake = nullptr;
    QString cardE, cardF, fixed;
};

TEST_F(SdCardWindowTest, BothButtonsAreEnabledAndRestWhileWorkIsUnderWay)
{
    fake->setDrives({card(QStringLiteral("sdb"), {cardE})});
    EXPECT_TRUE(button("Button4")->isEnabled());
    EXPECT_TRUE(button("btnEjectSdCard")->isEnabled());
    button("btnEjectSdCard")->click();
    // The request is on its way, not yet answered: the window is free meanwhile.
    EXPECT_TRUE(window->sdCard().busy());
    EXPECT_FALSE(button("Button4")->isEnabled());
    EXPECT_FALSE(button("btnEjectSdCard")->isEnabled());
    EXPECT_TRUE(ui.messages().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->sdCard().busy(); }, 30000));
    EXPECT_TRUE(button("Button4")->isEnabled());
    EXPECT_TRUE(button("btnEjectSdCard")->isEnabled());
}

TEST_F(SdCardWindowTest, WithoutRemovableDriveBothButtonsSaySoAndNoDialogOpens)
{
    // A card that is in the reader but not mounted offers no folder to empty.
    RemovableDrive unmounted = card(QStringLiteral("sdb"), {});
    unmounted.filesystems.append({QStringLiteral("sdb1"), {}});
    for (const QList<RemovableDrive>& drives : {QList<RemovableDrive>{}, QList<RemovableDrive>{unmounted}}) {
        ui.clear();
        fake->setDrives(drives);
        press("Button4");
        EXPECT_EQ(ui.messages(), QStringList{kNone});
        EXPECT_TRUE(ui.requestsOf(Kind::ChooseFolder).isEmpty());
        EXPECT_TRUE(ui.requestsOf(Kind::Confirm).isEmpty());
        EXPECT_TRUE(memoLines().isEmpty());
    }
    fake->setDrives({});
    ui.clear();
    press("btnEjectSdCard");
    EXPECT_EQ(ui.messages(), QStringList{kNone});
    EXPECT_TRUE(fake->requests().isEmpty());
}

TEST_F(SdCardWindowTest, NoDiskServiceIsExplainedByBothButtons)
{
    fake->setListError(MediaError{QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
                                  QStringLiteral("The name org.freedesktop.UDisks2 was not provided")});
    const QString expected = QStringLiteral(
        "Removable drives cannot be listed: the disk service (UDisks2) is not reachable on the system bus.\n"
        "The name org.freedesktop.UDisks2 was not provided.");
    press("Button4");
    press("btnEjectSdCard");
    EXPECT_EQ(ui.errors(), (QStringList{expected, expected}));
    EXPECT_EQ(ui.messages().size(), 2);
    EXPECT_TRUE(ui.requestsOf(Kind::ChooseFolder).isEmpty());
}

TEST_F(SdCardWindowTest, InitializingTheCardRootEmptiesTheCardAndKeepsItsRoot)
{
    fillCard(cardE);
    fake->setDrives({card(QStringLiteral("sdb"), {cardE})});
    ui.answerFolder(cardE);
    ui.answerConfirm(true);
    press("Button4");

    const auto folders = ui.requestsOf(Kind::ChooseFolder);
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(folders[0].text, QStringLiteral("Select SD Card Drive"));
    EXPECT_EQ(folders[0].file.directory, cardE);
    const auto confirms = ui.requestsOf(Kind::Confirm);
    ASSERT_EQ(confirms.size(), 1);
    EXPECT_EQ(confirms[0].text, QStringLiteral("Are you sure?"));
    EXPECT_EQ(confirms[0].caption, QStringLiteral("Initlalize SD Card"));
    EXPECT_TRUE(ui.messages().isEmpty());
    EXPECT_EQ(memoLines(), initLog({cardE}, cardE, {cardE}));
    EXPECT_TRUE(QFileInfo(cardE).isDir());
    EXPECT_TRUE(entries(cardE).isEmpty());
    EXPECT_EQ(entries(fixed), QStringList{QStringLiteral("keep.txt")});
}

TEST_F(SdCardWindowTest, InitializingAFolderOnTheCardDeletesOnlyThatFolder)
{
    fillCard(cardE);
    fillCard(cardF);
    fake->setDrives({card(QStringLiteral("sdb"), {cardE}), card(QStringLiteral("sdc"), {cardF})});
    const QString movies = cardF + QStringLiteral("/Movies");
    ui.answerFolder(movies);
    ui.answerConfirm(true);
    press("Button4");

    // The dialog opens where both cards can be reached; the log walks the drives up to the chosen one.
    EXPECT_EQ(ui.requestsOf(Kind::ChooseFolder).value(0).file.directory, root + QStringLiteral("/media/u"));
    EXPECT_EQ(memoLines(), initLog({cardE, cardF}, movies, {cardE, cardF}));
    EXPECT_TRUE(ui.messages().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(movies));
    EXPECT_EQ(entries(cardF),
              (QStringList{QStringLiteral(".hidden"), QStringLiteral("DRV"), QStringLiteral("setting.ini")}));
    EXPECT_EQ(entries(cardE).size(), 4);
}

TEST_F(SdCardWindowTest, AFolderThatIsNotOnACardIsRefusedAndNothingIsDeleted)
{
    fillCard(cardE);
    fake->setDrives({card(QStringLiteral("sdb"), {cardE})});
    QFile::link(fixed, cardE + QStringLiteral("/outside"));
    const QString dotDot = cardE + QStringLiteral("/../../../home/u");
    const QStringList refused = {fixed, dotDot, cardE + QStringLiteral("/outside"), cardE + QStringLiteral("/missing")};
    for (const QString& chosen : refused) {
        SCOPED_TRACE(chosen.toStdString());
        ui.clear();
        window->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->clear();
        ui.answerFolder(chosen);
        press("Button4");
        EXPECT_EQ(ui.messages(), QStringList{kNotRemovable});
        EXPECT_TRUE(ui.requestsOf(Kind::Confirm).isEmpty());
        EXPECT_EQ(memoLines(), initLog({cardE}, chosen, {cardE}));
    }
    EXPECT_EQ(entries(fixed), QStringList{QStringLiteral("keep.txt")});
    EXPECT_EQ(entries(cardE).size(), 5);
}

TEST_F(SdCardWindowTest, CancellingTheDialogIsSilentAndCancellingTheQuestionSaysSo)
{
    fillCard(cardE);
    fake->setDrives({card(QStringLiteral("sdb"), {cardE})});
    ui.answerFolder(std::nullopt);
    press("Button4");
    EXPECT_TRUE(ui.messages().isEmpty());
    EXPECT_TRUE(ui.requestsOf(Kind::Confirm).isEmpty());
    EXPECT_EQ(memoLines(), QStringList{cardE});

    ui.answerFolder(cardE);
    ui.answerConfirm(false);
    press("Button4");
    EXPECT_EQ(ui.messages(), QStringList{QStringLiteral("Initlalize SD Card is canceled")});
    EXPECT_EQ(entries(cardE).size(), 4);
}

TEST_F(SdCardWindowTest, LinksOnTheCardAreRemovedAndWhatTheyPointAtIsNot)
{
    fillCard(cardE);
    const QString outsideFile = makeFile(QStringLiteral("home/u/photo.jpg"));
    ASSERT_TRUE(QFile::link(fixed, cardE + QStringLiteral("/home-link")));
    ASSERT_TRUE(QFile::link(outsideFile, cardE + QStringLiteral("/Movies/photo-link")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/target"), cardE + QStringLiteral("/dangling")));
    fake->setDrives({card(QStringLiteral("sdb"), {cardE})});
    ui.answerFolder(cardE);
    ui.answerConfirm(true);
    press("Button4");
    EXPECT_TRUE(ui.messages().isEmpty());
    EXPECT_TRUE(entries(cardE).isEmpty());
    EXPECT_EQ(entries(fixed), (QStringList{QStringLiteral("keep.txt"), QStringLiteral("photo.jpg")}));
}

TEST_F(SdCardWindowTest, ADeletionThatFailsPartWayStopsAndTellsWhatIsLeft)
{
    // A write-protected file in the middle of the card: what came before it is gone, the rest stays.
    makeFile(QStringLiteral("media/u/E/A/1.mmv"));
    makeFile(QStringLiteral("media/u/E/A/2.mmv"));
    makeFile(QStringLiteral("media/u/E/B/locked.mmv"));
    makeFile(QStringLiteral("media/u/E/B/z.mmv"));
    makeFile(QStringLiteral("media/u/E/C.ini"));
    fake->setDrives({card(QStringLiteral("sdb"), {cardE})});
    window->sdCard().initializer().setUnlinkAt([](int fd, const char* name, int flags) {
        if (std::strcmp(name, "locked.mmv") == 0) {
            errno = EROFS;
            return -1;
        }
        return ::unlinkat(fd, name, flags);
    });
    ui.answerFolder(cardE);
    ui.answerConfirm(true);
    press("Button4");

    const auto errors = ui.requestsOf(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0].caption, QStringLiteral("Initlalize SD Card"));
    EXPECT_EQ(errors[0].text, QStringLiteral("Could not delete %1/B/locked.mmv: Read-only file system.\n"
                                             "Deleted before that: 2 files and 1 folder.\n"
                                             "Still there: 3 files and 1 folder in %1.")
                                  .arg(cardE));
    EXPECT_EQ(entries(cardE), (QStringList{QStringLiteral("B"), QStringLiteral("C.ini")}));
    EXPECT_EQ(entries(cardE + QStringLiteral("/B")),
              (QStringList{QStringLiteral("locked.mmv"), QStringLiteral("z.mmv")}));
}

TEST_F(SdCardWindowTest, TwoCardReadersAreEjectedInOrderEachWithItsMessage)
{
    fake->setDrives({card(QStringLiteral("sdb"), {cardE}), card(QStringLiteral("sdc"), {cardF})});
    press("btnEjectSdCard");
    EXPECT_EQ(fake->requests(), (QStringList{QStringLiteral("Unmount sdb1"), QStringLiteral("Eject sdb"),
                                             QStringLiteral("Unmount sdc1"), QStringLiteral("Eject sdc")}));
    EXPECT_EQ(ui.messages(), (QStringList{cardE + QStringLiteral(": Media Removal Complete."),
                                          cardF + QStringLiteral(": Media Removal Complete.")}));
    EXPECT_TRUE(ui.errors().isEmpty());
}

TEST_F(SdCardWindowTest, HowEachKindOfDriveIsReleased)
{
    RemovableDrive encrypted = card(QStringLiteral("sdd"), {});
    encrypted.filesystems.append({QStringLiteral("dm-0"), {QStringLiteral("/media/u/SECRET")}});
    encrypted.unlockedEncrypted = {QStringLiteral("sdd1")};
    fake->setDrives({
        card(QStringLiteral("sdb"), {cardE, cardF}),                                       // two partitions, one card
        card(QStringLiteral("mmcblk0"), {QStringLiteral("/media/u/SLOT")}, false, false),  // built-in slot
        card(QStringLiteral("sdc"), {QStringLiteral("/media/u/STICK")}, false, true),      // can only power off
        encrypted, card(QStringLiteral("sde"), {}),  // nothing mounted: named by its device
    });
    press("btnEjectSdCard");
    EXPECT_EQ(fake->requests(),
              (QStringList{QStringLiteral("Unmount sdb1"), QStringLiteral("Unmount sdb2"), QStringLiteral("Eject sdb"),
                           QStringLiteral("Unmount mmcblk01"), QStringLiteral("Unmount sdc1"),
                           QStringLiteral("PowerOff sdc"), QStringLiteral("Unmount dm-0"), QStringLiteral("Lock sdd1"),
                           QStringLiteral("Eject sdd"), QStringLiteral("Eject sde")}));
    EXPECT_EQ(ui.messages(), (QStringList{cardE + QStringLiteral(": Media Removal Complete."),
                                          QStringLiteral("/media/u/SLOT: Media Removal Complete."),
                                          QStringLiteral("/media/u/STICK: Media Removal Complete."),
                                          QStringLiteral("/media/u/SECRET: Media Removal Complete."),
                                          QStringLiteral("/dev/sde: Media Removal Complete.")}));
}

TEST_F(SdCardWindowTest, ABusyCardIsTriedThreeTimesWithoutFreezingTheWindow)
{
    fake->setDrives({card(QStringLiteral("sdb"), {cardE}), card(QStringLiteral("sdc"), {cardF})});
    fake->failNext(QStringLiteral("sdb1"), {FakeRemovableMedia::busy(), FakeRemovableMedia::busy(),
                                            FakeRemovableMedia::busy(), FakeRemovableMedia::busy()});
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    press("btnEjectSdCard");
    ticker.stop();
    EXPECT_GT(ticks, 0);  // the event loop ran during the waits
    EXPECT_EQ(fake->requests(), (QStringList{QStringLiteral("Unmount sdb1"), QStringLiteral("Unmount sdb1"),
                                             QStringLiteral("Unmount sdb1"), QStringLiteral("Unmount sdc1"),
                                             QStringLiteral("Eject sdc")}));
    EXPECT_EQ(ui.errors(), QStringList{cardE + QStringLiteral(": Media Removal failed.\nThe drive is in use; close the "
                                                              "files and programs that use it and try again (Target is "
                                                              "busy).")});
    EXPECT_EQ(ui.messages().last(), cardF + QStringLiteral(": Media Removal Complete."));
}

TEST_F(SdCardWindowTest, OnlyABusyDriveIsTriedAgain)
{
    // Busy twice, then free: the third try goes through and continues where it stopped.
    fake->setDrives({card(QStringLiteral("sdb"), {cardE})});
    fake->failNext(QStringLiteral("sdb"), {FakeRemovableMedia::busy(), FakeRemovableMedia::busy()});
    press("btnEjectSdCard");
    EXPECT_EQ(fake->requests(), (QStringList{QStringLiteral("Unmount sdb1"), QStringLiteral("Eject sdb"),
                                             QStringLiteral("Eject sdb"), QStringLiteral("Eject sdb")}));
    EXPECT_EQ(ui.messages(), QStringList{cardE + QStringLiteral(": Media Removal Complete.")});

    // Any other refusal is final at once.
    ui.clear();
    fake->failNext(QStringLiteral("sdb1"), {error("Failed", "Error unmounting: I/O error")});
    press("btnEjectSdCard");
    EXPECT_EQ(fake->requests().mid(4), QStringList{QStringLiteral("Unmount sdb1")});
    EXPECT_EQ(ui.errors(),
              QStringList{cardE + QStringLiteral(": Media Removal failed.\nError unmounting: I/O error.")});
}

TEST_F(SdCardWindowTest, ADismissedPasswordPromptIsNoFailureButARefusalIs)
{
    fake->setDrives({card(QStringLiteral("sdb"), {cardE}), card(QStringLiteral("sdc"), {cardF})});
    fake->failNext(QStringLiteral("sdb1"),
                   {error("NotAuthorizedDismissed", "The authentication dialog was dismissed")});
    fake->failNext(QStringLiteral("sdc"), {error("NotAuthorized", "Not authorized to perform operation")});
    press("btnEjectSdCard");
    EXPECT_EQ(fake->requests(), (QStringList{QStringLiteral("Unmount sdb1"), QStringLiteral("Unmount sdc1"),
                                             QStringLiteral("Eject sdc")}));
    EXPECT_EQ(ui.messages(), QStringList{cardF + QStringLiteral(": Media Removal failed.\nNot authorized to remove the "
                                                                "drive: Not authorized to perform operation.")});
}

TEST_F(SdCardWindowTest, TheCardChooserIsCreatedWithTheOtherWindowsAndNeverShown)
{
    window = nullptr;
    app.reset();
    AppWindows windows;
    ASSERT_TRUE(windows.sdCardChooser);
    TformInitSd& chooser = *windows.sdCardChooser;
    EXPECT_EQ(chooser.objectName(), QStringLiteral("formInitSd"));
    EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Browse for Files or Folders"));
    EXPECT_TRUE(chooser.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(chooser.findChild<QComboBox*>(QStringLiteral("DriveComboBox1")));
    EXPECT_TRUE(chooser.findChild<QListWidget*>(QStringLiteral("dirListBox")));
    EXPECT_TRUE(chooser.findChild<QLabel*>()->text() == QStringLiteral("Select SD Card Drive"));
    windows.mainWindow->show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(chooser.isVisible());
}
