// The UDisks2 implementation against a mock UDisks2 service on a private bus:
// which drives are listed, and what the two buttons ask of the service.
#include "sd_card_fixture.h"
#include "udisks2_mock.h"

#include "media/udisks2_media.h"

#include <QDBusArgument>
#include <QDBusObjectPath>

using Kind = toolkit::ScriptedUserInteraction::Kind;

namespace {

const QString kDrives = QStringLiteral("/org/freedesktop/UDisks2/drives/");
const QString kBlocks = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
const QString kBusy = QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy");

QByteArray bytes(const QString& path) { return path.toLocal8Bit() + '\0'; }

constexpr qulonglong kGB = 1000ULL * 1000 * 1000;

// Where a drive sits and how large it is.
struct Bus {
    QString name = QStringLiteral("usb");
    qulonglong size = 32 * kGB;
};

}  // namespace

class Udisks2MediaTest : public SdCardFixture {
protected:
    // How the methods of one object answer: python code by method name.
    using Answers = QMap<QString, QString>;

    void SetUp() override
    {
        SdCardFixture::SetUp();
        if (const QString missing = Udisks2Mock::missingTools(); !missing.isEmpty())
            GTEST_SKIP() << "needs " << missing.toStdString();
        ASSERT_TRUE(mock.startBus()) << mock.error().toStdString();
        cardE = makeDir(QStringLiteral("media/u/E"));
        cardF = makeDir(QStringLiteral("media/u/F"));
        cardG = makeDir(QStringLiteral("media/u/G"));
        cardH = makeDir(QStringLiteral("media/u/H"));
        cardS = makeDir(QStringLiteral("media/u/S"));
    }

    void useMockThroughWindow()
    {
        auto media = std::make_unique<media::Udisks2Media>(mock.address());
        udisks = media.get();
        window->sdCard().setMedia(std::move(media));
    }

    void addDrive(const QString& name, bool removable, bool mediaRemovable, bool canPowerOff,
                  bool mediaAvailable = true, const Bus& bus = {})
    {
        mock.addObject(kDrives + name, kDrive,
                       {{QStringLiteral("Removable"), removable},
                        {QStringLiteral("MediaRemovable"), mediaRemovable},
                        {QStringLiteral("MediaAvailable"), mediaAvailable},
                        {QStringLiteral("Ejectable"), mediaRemovable},
                        {QStringLiteral("CanPowerOff"), canPowerOff},
                        {QStringLiteral("ConnectionBus"), bus.name},
                        {QStringLiteral("Size"), bus.size}});
        for (const QString& method : {QStringLiteral("Eject"), QStringLiteral("PowerOff")})
            mock.addMethod(kDrives + name, kDrive, method, QStringLiteral("a{sv}"), answers_.value(name).value(method));
    }

    // A block of `drive`; a partition with a filesystem when `mountPoint` is given ("" for unmounted).
    void addBlock(const QString& name, const QString& drive, std::optional<QString> mountPoint = std::nullopt,
                  const char* hint = nullptr)
    {
        QVariantMap block = {{QStringLiteral("Drive"), QVariant::fromValue(QDBusObjectPath(kDrives + drive))},
                             {QStringLiteral("Device"), bytes(QStringLiteral("/dev/") + name)},
                             {QStringLiteral("PreferredDevice"), bytes(QStringLiteral("/dev/") + name)},
                             {QStringLiteral("HintSystem"), false},
                             {QStringLiteral("HintIgnore"), false}};
        if (hint) block[QLatin1String(hint)] = true;
        mock.addObject(kBlocks + name, kBlock, block);
        if (!mountPoint) return;
        mock.addProperties(kBlocks + name, kPartition, {{QStringLiteral("Number"), 1u}});
        QList<QByteArray> points;
        if (!mountPoint->isEmpty()) points << bytes(*mountPoint);
        mock.addProperties(kBlocks + name, kFilesystem, {{QStringLiteral("MountPoints"), QVariant::fromValue(points)}});
        mock.addMethod(kBlocks + name, kFilesystem, QStringLiteral("Unmount"), QStringLiteral("a{sv}"),
                       answers_.value(name).value(QStringLiteral("Unmount")));
    }

    // A USB card reader, a reader with a two-partition card, a built-in slot on
    // the SD bus (the card is the drive), and drives that must never be listed.
    // `answers` by object name.
    void buildMachine(const QMap<QString, Answers>& answers = {})
    {
        answers_ = answers;
        ASSERT_TRUE(mock.startService()) << mock.error().toStdString();
        addDrive(QStringLiteral("USB_Reader"), true, true, true);
        addBlock(QStringLiteral("sdb"), QStringLiteral("USB_Reader"));
        addBlock(QStringLiteral("sdb1"), QStringLiteral("USB_Reader"), cardE);
        addDrive(QStringLiteral("Dual_Reader"), true, true, true);
        addBlock(QStringLiteral("sdc"), QStringLiteral("Dual_Reader"));
        addBlock(QStringLiteral("sdc1"), QStringLiteral("Dual_Reader"), cardF);
        addBlock(QStringLiteral("sdc2"), QStringLiteral("Dual_Reader"), cardG);
        addBlock(QStringLiteral("sdc3"), QStringLiteral("Dual_Reader"), QString());
        addDrive(QStringLiteral("Internal_Slot"), true, false, false, true, {QStringLiteral("sdio")});
        addBlock(QStringLiteral("mmcblk0p1"), QStringLiteral("Internal_Slot"), cardH);

        addDrive(QStringLiteral("System_Disk"), false, false, false);
        addBlock(QStringLiteral("sda1"), QStringLiteral("System_Disk"), QStringLiteral("/"), "HintSystem");
        addDrive(QStringLiteral("Marked_System"), true, true, true);
        addBlock(QStringLiteral("sdx1"), QStringLiteral("Marked_System"), cardS, "HintSystem");
        addDrive(QStringLiteral("Ignored"), true, true, true);
        addBlock(QStringLiteral("sdy1"), QStringLiteral("Ignored"), cardS, "HintIgnore");
        addDrive(QStringLiteral("Empty_Reader"), true, true, true, false);
        ASSERT_TRUE(mock.error().isEmpty()) << mock.error().toStdString();
        useMockThroughWindow();
    }

    int callCount(const QString& path, const QString& method) { return int(mock.calls(path, method).size()); }

    void expectNothingAskedOfUnlistedDrives()
    {
        for (const char* drive : {"System_Disk", "Marked_System", "Ignored", "Empty_Reader"}) {
            EXPECT_EQ(callCount(kDrives + QLatin1String(drive), QStringLiteral("Eject")), 0) << drive;
            EXPECT_EQ(callCount(kDrives + QLatin1String(drive), QStringLiteral("PowerOff")), 0) << drive;
        }
        for (const char* block : {"sda1", "sdx1", "sdy1"})
            EXPECT_EQ(callCount(kBlocks + QLatin1String(block), QStringLiteral("Unmount")), 0) << block;
    }

    Udisks2Mock mock;
    QMap<QString, Answers> answers_;
    media::Udisks2Media* udisks = nullptr;
    QString cardE, cardF, cardG, cardH, cardS;
};

TEST_F(Udisks2MediaTest, ListsRemovableDrivesWithTheirFilesystemsAndNothingElse)
{
    buildMachine();
    // The answer comes later, from the event loop, and once: the window goes
    // on while the service takes its time.
    media::DriveList list;
    int answers = 0;
    udisks->listRemovableDrives([&](const media::DriveList& l) {
        list = l;
        ++answers;
    });
    EXPECT_EQ(answers, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers > 0; }, 30000));
    QTest::qWait(50);
    EXPECT_EQ(answers, 1);
    ASSERT_FALSE(list.error) << list.error->message.toStdString();
    ASSERT_EQ(list.drives.size(), 3);
    const auto& reader = list.drives[0];
    EXPECT_EQ(reader.id, kDrives + QStringLiteral("USB_Reader"));
    EXPECT_EQ(reader.device, QStringLiteral("/dev/sdb"));
    EXPECT_EQ(reader.mountPoints(), QStringList{cardE});
    EXPECT_TRUE(reader.mediaRemovable);
    EXPECT_TRUE(reader.canPowerOff);
    const auto& dual = list.drives[1];
    EXPECT_EQ(dual.mountPoints(), (QStringList{cardF, cardG}));
    EXPECT_EQ(dual.filesystems.size(), 3);  // the unmounted third partition too
    EXPECT_EQ(dual.device, QStringLiteral("/dev/sdc"));
    const auto& slot = list.drives[2];
    EXPECT_EQ(slot.id, kDrives + QStringLiteral("Internal_Slot"));
    EXPECT_FALSE(slot.mediaRemovable);
    EXPECT_FALSE(slot.canPowerOff);
}

// Drive.Removable marks every drive on a hot-pluggable bus: a USB hard disk
// is "removable" too. Only the card is offered to either button.
TEST_F(Udisks2MediaTest, OnlyCardsAreOfferedNeverADiskOnAHotPluggableBus)
{
    ASSERT_TRUE(mock.startService()) << mock.error().toStdString();
    const QString disk = makeDir(QStringLiteral("media/u/DISK"));
    const QString big = makeDir(QStringLiteral("media/u/BIG"));
    addDrive(QStringLiteral("Card_In_USB_Reader"), true, true, true, true, {QStringLiteral("usb"), 64 * kGB});
    addBlock(QStringLiteral("sdb1"), QStringLiteral("Card_In_USB_Reader"), cardE);
    addDrive(QStringLiteral("USB_Hard_Disk"), true, false, true, true, {QStringLiteral("usb"), 1000 * kGB});
    addBlock(QStringLiteral("sde1"), QStringLiteral("USB_Hard_Disk"), disk);
    // Larger than any card can be, though its medium is said to come out.
    addDrive(QStringLiteral("Drive_4TB"), true, true, true, true, {QStringLiteral("usb"), 4000 * kGB});
    addBlock(QStringLiteral("sdf1"), QStringLiteral("Drive_4TB"), big);
    ASSERT_TRUE(mock.error().isEmpty()) << mock.error().toStdString();
    useMockThroughWindow();

    makeFile(QStringLiteral("media/u/DISK/DCIM/a.jpg"));
    makeFile(QStringLiteral("media/u/BIG/DCIM/a.jpg"));
    for (const QString& folder : {disk, big}) {
        SCOPED_TRACE(folder.toStdString());
        ui.clear();
        ui.answerFolder(folder + QStringLiteral("/DCIM"));
        ui.answerConfirm(true);
        press("Button4");
        EXPECT_EQ(memoLines().value(0), cardE) << "the card alone is offered";
        EXPECT_FALSE(memoLines().contains(disk));
        EXPECT_FALSE(memoLines().contains(big));
        EXPECT_EQ(entries(folder + QStringLiteral("/DCIM")), QStringList{QStringLiteral("a.jpg")});
        EXPECT_TRUE(ui.requestsOf(Kind::Confirm).isEmpty()) << "not even asked";
    }

    ui.clear();
    press("btnEjectSdCard");
    EXPECT_EQ(ui.messages(), QStringList{cardE + QStringLiteral(": Media Removal Complete.")});
    EXPECT_EQ(callCount(kDrives + QStringLiteral("Card_In_USB_Reader"), QStringLiteral("Eject")), 1);
    for (const char* drive : {"USB_Hard_Disk", "Drive_4TB"}) {
        EXPECT_EQ(callCount(kDrives + QLatin1String(drive), QStringLiteral("Eject")), 0) << drive;
        EXPECT_EQ(callCount(kDrives + QLatin1String(drive), QStringLiteral("PowerOff")), 0) << drive;
    }
    for (const char* block : {"sde1", "sdf1"})
        EXPECT_EQ(callCount(kBlocks + QLatin1String(block), QStringLiteral("Unmount")), 0) << block;
}

TEST_F(Udisks2MediaTest, EjectReleasesEveryDriveTheWayItCanWithoutOptions)
{
    buildMachine();
    press("btnEjectSdCard");
    EXPECT_EQ(ui.messages(), (QStringList{cardE + QStringLiteral(": Media Removal Complete."),
                                          cardF + QStringLiteral(": Media Removal Complete."),
                                          cardH + QStringLiteral(": Media Removal Complete.")}));
    const auto unmounts = mock.calls(kBlocks + QStringLiteral("sdb1"), QStringLiteral("Unmount"));
    ASSERT_EQ(unmounts.size(), 1);
    // No auth.no_user_interaction: the desktop may ask for a password.
    EXPECT_TRUE(qdbus_cast<QVariantMap>(unmounts[0].value(0)).isEmpty());
    EXPECT_EQ(callCount(kDrives + QStringLiteral("USB_Reader"), QStringLiteral("Eject")), 1);
    EXPECT_EQ(callCount(kDrives + QStringLiteral("USB_Reader"), QStringLiteral("PowerOff")), 0);
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdc1"), QStringLiteral("Unmount")), 1);
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdc2"), QStringLiteral("Unmount")), 1);
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdc3"), QStringLiteral("Unmount")), 0);  // not mounted
    EXPECT_EQ(callCount(kDrives + QStringLiteral("Dual_Reader"), QStringLiteral("Eject")), 1);
    // The built-in slot can be neither ejected nor switched off: unmounted, it is safe to pull.
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("mmcblk0p1"), QStringLiteral("Unmount")), 1);
    EXPECT_EQ(callCount(kDrives + QStringLiteral("Internal_Slot"), QStringLiteral("PowerOff")), 0);
    EXPECT_EQ(callCount(kDrives + QStringLiteral("Internal_Slot"), QStringLiteral("Eject")), 0);
    expectNothingAskedOfUnlistedDrives();
}

TEST_F(Udisks2MediaTest, ABusyCardIsTriedAgainUntilItIsFreeOrThreeTriesAreUsed)
{
    buildMachine(
        {{QStringLiteral("sdb1"), {{QStringLiteral("Unmount"), Udisks2Mock::failing("Unmount", kBusy, 2)}}},
         {QStringLiteral("Dual_Reader"), {{QStringLiteral("Eject"), Udisks2Mock::failing("Eject", kBusy, 99)}}}});
    press("btnEjectSdCard");
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdb1"), QStringLiteral("Unmount")), 3);
    EXPECT_EQ(callCount(kDrives + QStringLiteral("USB_Reader"), QStringLiteral("Eject")), 1);
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdc1"), QStringLiteral("Unmount")), 1);
    EXPECT_EQ(callCount(kDrives + QStringLiteral("Dual_Reader"), QStringLiteral("Eject")), 3);
    EXPECT_EQ(ui.messages(),
              (QStringList{cardE + QStringLiteral(": Media Removal Complete."),
                           cardF + QStringLiteral(": Media Removal failed.\nThe drive is in use; close the files and "
                                                  "programs that use it and try again (Eject refused (%1)).")
                                       .arg(kBusy),
                           cardH + QStringLiteral(": Media Removal Complete.")}));
}

TEST_F(Udisks2MediaTest, ARefusedAuthorizationSaysSoAndADismissedPromptSaysNothing)
{
    buildMachine({{QStringLiteral("USB_Reader"),
                   {{QStringLiteral("Eject"),
                     Udisks2Mock::failing("Eject", QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized"), 1)}}},
                  {QStringLiteral("sdc1"),
                   {{QStringLiteral("Unmount"),
                     Udisks2Mock::failing(
                         "Unmount", QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"), 1)}}}});
    press("btnEjectSdCard");
    EXPECT_EQ(callCount(kDrives + QStringLiteral("USB_Reader"), QStringLiteral("Eject")), 1);  // not retried
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdc1"), QStringLiteral("Unmount")), 1);
    EXPECT_EQ(callCount(kDrives + QStringLiteral("Dual_Reader"), QStringLiteral("Eject")), 0);
    EXPECT_EQ(ui.errors(), QStringList{cardE + QStringLiteral(": Media Removal failed.\nNot authorized to remove the "
                                                              "drive: Eject refused "
                                                              "(org.freedesktop.UDisks2.Error.NotAuthorized).")});
    EXPECT_EQ(ui.messages().size(), 2);
    EXPECT_EQ(ui.messages().last(), cardH + QStringLiteral(": Media Removal Complete."));
}

TEST_F(Udisks2MediaTest, InitializeFindsTheCardsThroughTheService)
{
    buildMachine();
    makeFile(QStringLiteral("media/u/G/DCIM/a.jpg"));
    makeFile(QStringLiteral("media/u/G/keep.ini"));
    ui.answerFolder(cardG + QStringLiteral("/DCIM"));
    ui.answerConfirm(true);
    press("Button4");
    EXPECT_EQ(memoLines().mid(0, 6),
              (QStringList{cardE, cardF, cardG, cardH, cardG + QStringLiteral("/DCIM"), QStringLiteral("4")}));
    EXPECT_TRUE(ui.messages().isEmpty());
    EXPECT_EQ(entries(cardG), QStringList{QStringLiteral("keep.ini")});
    // Emptying a card asks nothing of the service beyond the list.
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdc2"), QStringLiteral("Unmount")), 0);
}

TEST_F(Udisks2MediaTest, WithoutTheServiceOrTheBusBothButtonsSaySo)
{
    useMockThroughWindow();  // the bus is there, the service is not
    press("Button4");
    press("btnEjectSdCard");
    ASSERT_EQ(ui.errors().size(), 2);
    for (const QString& text : ui.errors())
        EXPECT_TRUE(
            text.startsWith(QStringLiteral("Removable drives cannot be listed: the disk service (UDisks2) is "
                                           "not reachable on the system bus.\n")))
            << text.toStdString();
    EXPECT_TRUE(ui.requestsOf(Kind::ChooseFolder).isEmpty());

    ui.clear();
    window->sdCard().setMedia(
        std::make_unique<media::Udisks2Media>(QStringLiteral("unix:path=") + root + QStringLiteral("/no-bus-here")));
    press("btnEjectSdCard");
    ASSERT_EQ(ui.errors().size(), 1);
    EXPECT_TRUE(ui.errors()[0].startsWith(QStringLiteral("Removable drives cannot be listed")));
}

TEST_F(Udisks2MediaTest, AnUnlockedEncryptedCardIsUnmountedAndLockedBeforeItIsEjected)
{
    ASSERT_TRUE(mock.startService()) << mock.error().toStdString();
    const QString secret = makeDir(QStringLiteral("media/u/SECRET"));
    addDrive(QStringLiteral("Crypt_Reader"), true, true, true);
    addBlock(QStringLiteral("sdd1"), QStringLiteral("Crypt_Reader"));
    const QString encrypted = QStringLiteral("org.freedesktop.UDisks2.Encrypted");
    mock.addProperties(kBlocks + QStringLiteral("sdd1"), encrypted,
                       {{QStringLiteral("CleartextDevice"), QVariant::fromValue(QDBusObjectPath(kBlocks + "dm_2d0"))}});
    mock.addMethod(kBlocks + QStringLiteral("sdd1"), encrypted, QStringLiteral("Lock"), QStringLiteral("a{sv}"));
    // The cleartext block belongs to no drive; only its backing device ties it to the card.
    mock.addObject(kBlocks + QStringLiteral("dm_2d0"), kBlock,
                   {{QStringLiteral("Drive"), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))},
                    {QStringLiteral("CryptoBackingDevice"), QVariant::fromValue(QDBusObjectPath(kBlocks + "sdd1"))},
                    {QStringLiteral("HintSystem"), false}});
    mock.addProperties(kBlocks + QStringLiteral("dm_2d0"), kFilesystem,
                       {{QStringLiteral("MountPoints"), QVariant::fromValue(QList<QByteArray>{bytes(secret)})}});
    mock.addMethod(kBlocks + QStringLiteral("dm_2d0"), kFilesystem, QStringLiteral("Unmount"), QStringLiteral("a{sv}"),
                   QStringLiteral("assert objects['%1'].GetMethodCalls('Lock') == []\n").arg(kBlocks + "sdd1"));
    mock.addMethod(kDrives + QStringLiteral("Crypt_Reader"), kDrive, QStringLiteral("Eject"), QStringLiteral("a{sv}"),
                   QStringLiteral("assert len(objects['%1'].GetMethodCalls('Lock')) == 1\n").arg(kBlocks + "sdd1"));
    ASSERT_TRUE(mock.error().isEmpty()) << mock.error().toStdString();
    useMockThroughWindow();

    press("btnEjectSdCard");
    EXPECT_EQ(ui.messages(), QStringList{secret + QStringLiteral(": Media Removal Complete.")});
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("dm_2d0"), QStringLiteral("Unmount")), 1);
    EXPECT_EQ(callCount(kBlocks + QStringLiteral("sdd1"), QStringLiteral("Lock")), 1);
    EXPECT_EQ(callCount(kDrives + QStringLiteral("Crypt_Reader"), QStringLiteral("Eject")), 1);
}
