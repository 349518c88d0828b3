#include "app/drv/drv_grid_view.h"
#include "app/drv/drv_plot_widget.h"
#include "app/drv/drv_record_model.h"
#include "app/drv/drv_text.h"
#include "app/drv/drv_viewer.h"
#include "drv_test_files.h"
#include "toolkit/display_scale.h"
#include "toolkit/scripted_user_interaction.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace drvtest;
using toolkit::ScriptedUserInteraction;

namespace {

class DrvViewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        setTimeZone("UTC");
        toolkit::setScreenDpiOverride(std::make_pair(96.0, 96.0));
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { toolkit::setScreenDpiOverride(std::nullopt); }

    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    template <class T>
    static T* child(QWidget& w, const char* name)
    {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static QStringList memoLines(TformDrvViewer& v)
    {
        return child<QPlainTextEdit>(v, "memoMessage")->toPlainText().split(u'\n');
    }
    static Drv threeRecords()
    {
        Drv d;
        d.records = {Rec().speed(10).time(1741338303), Rec().speed(20).time(1741338304),
                     Rec().speed(30).time(1741338305)};
        return d;
    }

    QTemporaryDir dir;
    ScriptedUserInteraction ui;
};

// Answers as scripted, and counts at each message the progress boxes still
// alive under the window: one alive then can still show itself over the message.
class ProgressAtMessages final : public toolkit::UserInteraction {
public:
    ProgressAtMessages(ScriptedUserInteraction& scripted, QWidget& window) : scripted_(scripted), window_(window)
    {
        toolkit::setUserInteraction(this);
    }
    ~ProgressAtMessages() override { toolkit::setUserInteraction(&scripted_); }

    QList<int> alive;  // one entry per message

    void information(QWidget* p, const QString& text, const QString& caption) override
    {
        note();
        scripted_.information(p, text, caption);
    }
    void error(QWidget* p, const QString& text, const QString& caption) override
    {
        note();
        scripted_.error(p, text, caption);
    }
    bool confirm(QWidget* p, const QString& text, const QString& caption) override { return scripted_.confirm(p, text, caption); }
    void notice(QWidget* p, const QString& text, const QString& details, const QString& caption) override
    {
        note();
        scripted_.notice(p, text, details, caption);
    }
    int choose(QWidget* p, const QString& text, const QString& caption, const QStringList& buttons) override
    {
        return scripted_.choose(p, text, caption, buttons);
    }
    std::optional<QStringList> openFiles(const toolkit::FileDialogRequest& r) override { return scripted_.openFiles(r); }
    std::optional<QString> saveFile(const toolkit::FileDialogRequest& r) override { return scripted_.saveFile(r); }
    std::optional<QString> chooseFolder(QWidget* p, const QString& title, const QString& start) override
    {
        return scripted_.chooseFolder(p, title, start);
    }

private:
    void note() { alive << int(window_.findChildren<QProgressDialog*>().size()); }
    ScriptedUserInteraction& scripted_;
    QWidget& window_;
};

}  // namespace

TEST_F(DrvViewer, StartsWithTheDesignedGrid)
{
    TformDrvViewer v;
    EXPECT_EQ(v.windowTitle(), "Drv Viewer");
    EXPECT_EQ(v.size(), QSize(935, 666));
    auto* grid = child<DrvGridView>(v, "stringGridDRV");
    auto* m = v.recordModel();
    EXPECT_EQ(m->columnCount(), 35);
    EXPECT_EQ(m->rowCount(), 31);  // 32 rows with the header row
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "No");
    EXPECT_EQ(m->headerData(17, Qt::Horizontal).toString(), "Time-Offset Min");
    EXPECT_EQ(m->headerData(34, Qt::Horizontal).toString(), "LDW");
    EXPECT_EQ(m->text(0, 0), "1");
    EXPECT_EQ(m->text(30, 0), "31");
    EXPECT_EQ(m->text(0, 1), "");
    EXPECT_EQ(grid->columnWidth(0), 30);
    EXPECT_EQ(grid->columnWidth(1), 120);
    EXPECT_GE(grid->columnWidth(17), 100) << "widened where the caption needs it";
    EXPECT_EQ(grid->columnWidth(33), 110);
    EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 18);
    EXPECT_EQ(grid->fixedColumnCount(), 2);
    EXPECT_TRUE(grid->horizontalHeader()->isVisibleTo(grid));
    EXPECT_FALSE(child<QCheckBox>(v, "cbServerHeader")->isChecked());
    EXPECT_EQ(child<QCheckBox>(v, "cbServerHeader")->text(), "Server Header");
    EXPECT_EQ(child<QLineEdit>(v, "edHeaderSize")->text(), "23");
    EXPECT_TRUE(child<QLineEdit>(v, "edHeaderSize")->alignment() & Qt::AlignRight);
    EXPECT_EQ(child<QLabel>(v, "lbBytes")->text(), "bytes");
    EXPECT_TRUE(child<QCheckBox>(v, "checkBoxFileHeader")->isChecked());
    EXPECT_EQ(child<QPushButton>(v, "btnDrvFileOpen")->text(), "Server Drv Data Open");
    EXPECT_EQ(child<QPushButton>(v, "btnExport")->text(), "Export...");
    EXPECT_TRUE(child<QPlainTextEdit>(v, "memoMessage")->toPlainText().isEmpty());
}

TEST_F(DrvViewer, SizesFollowTheDisplayScale)
{
    TformDrvViewer v(125);
    EXPECT_EQ(v.displayScale(), 125);
    EXPECT_EQ(v.size(), QSize(1168, 832));
    auto* grid = child<DrvGridView>(v, "stringGridDRV");
    EXPECT_EQ(grid->columnWidth(0), 37);
    EXPECT_EQ(grid->columnWidth(1), 150);
    EXPECT_GE(grid->columnWidth(8), 50);
    EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 22);
    EXPECT_EQ(child<QSplitter>(v, "gridArea")->width(), 1168 - 410);
}

TEST_F(DrvViewer, LaidOutAtTheDisplayScaleItIsGiven)
{
    for (const auto& [scale, size] : {std::pair{125, QSize(1168, 832)}, std::pair{100, QSize()}}) {
        TformDrvViewer v(scale);
        EXPECT_EQ(v.displayScale(), scale);
        if (size.isValid()) {
            EXPECT_EQ(v.size(), size);
        }
    }
}

TEST_F(DrvViewer, ResizingMovesTheControlsAndTheGrid)
{
    TformDrvViewer v;
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    v.resize(1200, 800);
    QCoreApplication::processEvents();
    const int W = v.frameGeometry().width(), H = v.frameGeometry().height();
    EXPECT_EQ(child<QPlainTextEdit>(v, "memoMessage")->x(), W - 318);
    EXPECT_EQ(child<QPushButton>(v, "btnDrvFileOpen")->x(), W - 180);
    EXPECT_EQ(child<QCheckBox>(v, "cbServerHeader")->x(), W - 280);
    EXPECT_EQ(child<QCheckBox>(v, "checkBoxFileHeader")->x(), W - 280);
    EXPECT_EQ(child<QLineEdit>(v, "edHeaderSize")->x(), W - 280);
    EXPECT_EQ(child<QLabel>(v, "lbBytes")->x(), W - 240);
    auto* area = child<QSplitter>(v, "gridArea");
    EXPECT_EQ(area->size(), QSize(W - 328, H - 55));
    // The plot sits under the grid inside the grid's area.
    auto* grid = child<DrvGridView>(v, "stringGridDRV");
    auto* plot = child<DrvPlotWidget>(v, "plotDrv");
    EXPECT_EQ(plot->parentWidget(), area);
    EXPECT_GT(plot->y(), grid->y());
    EXPECT_EQ(child<DrvGridView>(v, "stringGridDRV")->fixedColumnCount(), 2);
}

TEST_F(DrvViewer, OpensAFileSavedByTheTool)
{
    TformDrvViewer v;
    const QString path = write("saved.drv", threeRecords().bytes());
    v.openFile(path);
    const QStringList expected{"DRV File Size = 440",
                               "File path & name = " + path,
                               " ",
                               "-- DRV File Header 58bytes --",
                               "DRV File Name = 20250307_090503.drv",
                               "DRV File Header Total Length = 382",
                               "File Header totalFrameCount = 3",
                               " ",
                               "-- DRV Header 22bytes --",
                               "DRV Header Total Length = 360",
                               "DRV Header UTC Time = 1741338303",
                               "2025.3.7 9:5:3",
                               "Hz = 10",
                               " ",
                               "-- DRV Data: 120bytes x 3 --"};
    EXPECT_EQ(memoLines(v), expected);
    auto* m = v.recordModel();
    EXPECT_EQ(m->rowCount(), 3);  // 4 grid rows with the header row
    EXPECT_EQ(m->text(0, 0), "1");
    EXPECT_EQ(m->text(2, 0), "3");
    EXPECT_EQ(m->text(0, 1), "2025.3.7 9:5:3");
    EXPECT_EQ(m->text(2, 1), "2025.3.7 9:5:5");
    EXPECT_EQ(m->text(1, 8), "20");
    EXPECT_EQ(m->data(m->index(2, 8)).toString(), "30");
    EXPECT_EQ(child<DrvPlotWidget>(v, "plotDrv")->file(), v.currentFile().get());
}

// A file far larger than the track its headers declare (a damaged card, a
// sparse file) costs the declared track, not the file.
TEST_F(DrvViewer, ReadsOnlyTheDeclaredTrackOfAHugeFile)
{
    TformDrvViewer v;
    const QString path = write("sparse.drv", threeRecords().bytes());
    {
        QFile f(path);
        ASSERT_TRUE(f.resize(qint64(2) << 30));
    }
    v.openFile(path);  // read whole, a file this size would be refused
    EXPECT_EQ(memoLines(v).value(0), "DRV File Size = 2147483648");
    EXPECT_EQ(v.recordModel()->rowCount(), 3);
}

TEST_F(DrvViewer, ServerHeaderSkipsThePrefix)
{
    TformDrvViewer v;
    Drv d = threeRecords();
    d.prefix = QByteArray(23, '\x7F');
    child<QCheckBox>(v, "cbServerHeader")->setChecked(true);
    v.openFile(write("prefixed.drv", d.bytes()));
    const QStringList lines = memoLines(v);
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[3], "-- Server Message Header 23bytes --");
    EXPECT_EQ(lines[4], " ");
    EXPECT_EQ(lines[5], "-- DRV File Header 58bytes --");
    EXPECT_EQ(lines[6], "DRV File Name = 20250307_090503.drv");
    EXPECT_EQ(v.recordModel()->text(2, 8), "30");
}

TEST_F(DrvViewer, BadHeaderSizeShowsTheConversionErrorKeepsTheLogAndClearsTheGrid)
{
    TformDrvViewer v;
    v.openFile(write("first.drv", threeRecords().bytes()));
    child<QCheckBox>(v, "cbServerHeader")->setChecked(true);
    child<QLineEdit>(v, "edHeaderSize")->setText("2x");
    ui.answerOpen(write("second.drv", threeRecords().bytes()));
    QTest::mouseClick(child<QPushButton>(v, "btnDrvFileOpen"), Qt::LeftButton);
    EXPECT_EQ(ui.errors(), QStringList{"'2x' is not a valid integer value"});
    const QStringList lines = memoLines(v);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "DRV File Size = 440");
    EXPECT_TRUE(lines[1].endsWith("second.drv"));
    EXPECT_EQ(v.recordModel()->rowCount(), 31) << "the first file's records are not shown under the second's name";
    EXPECT_EQ(v.currentFile(), nullptr);
}

TEST_F(DrvViewer, OpenErrorKeepsGridAndLog)
{
    TformDrvViewer v;
    v.openFile(write("first.drv", threeRecords().bytes()));
    const QString before = child<QPlainTextEdit>(v, "memoMessage")->toPlainText();
    ui.answerOpen(dir.filePath("missing.drv"));
    QTest::mouseClick(child<QPushButton>(v, "btnDrvFileOpen"), Qt::LeftButton);
    ASSERT_EQ(ui.errors().size(), 1);
    EXPECT_TRUE(ui.errors()[0].startsWith("Cannot open file \"" + dir.filePath("missing.drv") + "\"."));
    EXPECT_EQ(child<QPlainTextEdit>(v, "memoMessage")->toPlainText(), before);
    EXPECT_EQ(v.recordModel()->text(1, 8), "20");
}

TEST_F(DrvViewer, DialogOptionsAndCancel)
{
    TformDrvViewer v;
    ui.answerOpen(std::nullopt);
    v.btnDrvFileOpenClick();
    const auto opens = ui.requestsOf(ScriptedUserInteraction::Kind::OpenFiles);
    ASSERT_EQ(opens.size(), 1);
    EXPECT_TRUE(opens[0].file.multiSelect);
    EXPECT_TRUE(opens[0].file.mustExist);
    EXPECT_EQ(opens[0].file.fileName, "*.*");
    EXPECT_EQ(opens[0].file.filter, "DRV track|*.drv|All files|*");
    EXPECT_TRUE(child<QPlainTextEdit>(v, "memoMessage")->toPlainText().isEmpty());
    EXPECT_EQ(v.currentFile(), nullptr);

    // Of several files the first is opened.
    Drv other = threeRecords();
    other.records = {Rec().speed(99)};
    ui.answerOpenMany({write("a.drv", other.bytes()), write("b.drv", threeRecords().bytes())});
    v.btnDrvFileOpenClick();
    EXPECT_EQ(v.recordModel()->rowCount(), 1);
    EXPECT_EQ(v.recordModel()->text(0, 8), "99");
}

TEST_F(DrvViewer, WithoutFileHeaderEarlierRowsKeepTheirText)
{
    TformDrvViewer v;
    Drv five;
    for (int k = 0; k < 5; ++k) five.records << Rec().speed(50 + k);
    v.openFile(write("five.drv", five.bytes()));
    ASSERT_EQ(v.recordModel()->rowCount(), 5);

    // Unchecked, the box reads five.drv again, without a file header; the rows
    // two.drv does not reach keep what that reading shows.
    auto* m = v.recordModel();
    child<QCheckBox>(v, "checkBoxFileHeader")->setChecked(false);
    ASSERT_TRUE(ui.errors().isEmpty()) << ui.errors().join(';').toStdString();
    const QStringList under{m->text(2, 8), m->text(3, 8), m->text(4, 8)};
    Drv two;
    two.withFileHeader = false;
    two.records = {Rec().speed(1), Rec().speed(2)};
    v.openFile(write("two.drv", two.bytes()));
    EXPECT_EQ(m->rowCount(), 5);  // unchanged without a file header
    EXPECT_EQ(m->text(0, 8), "1");
    EXPECT_EQ(m->text(1, 8), "2");
    EXPECT_EQ(QStringList({m->text(2, 8), m->text(3, 8), m->text(4, 8)}), under);
    EXPECT_EQ(m->text(4, 0), "5");
    EXPECT_EQ(memoLines(v).last(), "-- DRV Data: 120bytes x 2 --");

    // More records than rows: only the rows that exist are filled.
    Drv many = two;
    many.records.clear();
    for (int k = 0; k < 8; ++k) many.records << Rec().speed(100 + k);
    v.openFile(write("many.drv", many.bytes()));
    EXPECT_EQ(m->rowCount(), 5);
    EXPECT_EQ(m->text(4, 8), "104");
    EXPECT_EQ(m->layerCount(), 1u);  // the earlier files are hidden for good

    // A file header shrinks the grid, and the rows dropped lose their text.
    child<QCheckBox>(v, "checkBoxFileHeader")->setChecked(true);
    Drv one;
    one.records = {Rec().speed(7)};
    v.openFile(write("one.drv", one.bytes()));
    EXPECT_EQ(m->rowCount(), 1);
    EXPECT_EQ(m->text(0, 8), "7");
}

TEST_F(DrvViewer, RowsBeyondAnEarlierFileAreEmptyButNumbered)
{
    TformDrvViewer v;
    child<QCheckBox>(v, "checkBoxFileHeader")->setChecked(false);
    Drv two;
    two.withFileHeader = false;
    two.records = {Rec().speed(1), Rec().speed(2)};
    v.openFile(write("two.drv", two.bytes()));
    auto* m = v.recordModel();
    EXPECT_EQ(m->rowCount(), 31);
    EXPECT_EQ(m->text(1, 8), "2");
    EXPECT_EQ(m->text(2, 8), "");
    EXPECT_EQ(m->text(30, 0), "31");
}

TEST_F(DrvViewer, ShortFileShowsTheCompleteRecordsAndSaysSo)
{
    TformDrvViewer v;
    Drv d = threeRecords();
    d.frameCount = 10;
    QByteArray bytes = d.bytes();
    bytes.chop(1);
    v.openFile(write("short.drv", bytes));
    EXPECT_EQ(v.recordModel()->rowCount(), 2);
    EXPECT_EQ(v.recordModel()->text(1, 8), "20");
    const QStringList lines = memoLines(v);
    EXPECT_EQ(lines[lines.size() - 2], "-- DRV Data: 120bytes x 10 --");
    EXPECT_EQ(lines.last(), "The file ends early: 10 records declared, 2 read.");
}

// The shown track must not depend on the file staying as it was: a card may be
// ejected or the file rewritten while the viewer is open.
TEST_F(DrvViewer, FileCutOnDiskAfterOpeningStillShowsAndExports)
{
    TformDrvViewer v;
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    Drv d;
    for (int k = 0; k < 2000; ++k) d.records << Rec().speed(k % 200).time(1741338303 + k);
    const QString path = write("cut.drv", d.bytes());
    v.openFile(path);
    ASSERT_TRUE(QFile::resize(path, 0));

    auto* m = v.recordModel();
    EXPECT_EQ(m->text(1999, 8), QString::number(1999 % 200));
    EXPECT_EQ(m->text(1999, 1), "2025.3.7 9:38:22");
    child<DrvGridView>(v, "stringGridDRV")->scrollToBottom();
    v.grab();  // paints the grid's last rows and the plot
    const QString csvPath = dir.filePath("cut.csv");
    ui.answerSave(csvPath);
    v.btnExportClick();
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count("\r\n"), 2001);
    EXPECT_TRUE(child<QPushButton>(v, "btnExport")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(v, "btnDrvFileOpen")->isEnabled());
}

TEST_F(DrvViewer, EmptyFileIsRefusedWithTheLogOfWhatWasRead)
{
    TformDrvViewer v;
    ui.answerOpen(write("empty.drv", {}));
    v.show();
    QTest::mouseClick(child<QPushButton>(v, "btnDrvFileOpen"), Qt::LeftButton);
    EXPECT_EQ(ui.errors(), QStringList{"The file is too short for its file header: 0 bytes, 58 needed."});
    EXPECT_EQ(memoLines(v)[0], "DRV File Size = 0");
    EXPECT_EQ(v.recordModel()->rowCount(), 31);
    EXPECT_EQ(v.currentFile(), nullptr);
}

TEST_F(DrvViewer, ExportWritesCsvOrGpxByExtension)
{
    TformDrvViewer v;
    QTest::mouseClick(child<QPushButton>(v, "btnExport"), Qt::LeftButton);
    EXPECT_EQ(ui.messages(), QStringList{"Open a DRV file first."});
    EXPECT_TRUE(ui.requestsOf(ScriptedUserInteraction::Kind::SaveFile).isEmpty());

    Drv d = threeRecords();
    d.records[1] = Rec().gps(1, 37.5, 127.25).time(1741338304);
    v.openFile(write("trip.drv", d.bytes()));
    const QString csvPath = dir.filePath("out.csv"), gpxPath = dir.filePath("out.GPX");
    ui.answerSave(csvPath);
    ui.answerSave(gpxPath);
    QTest::mouseClick(child<QPushButton>(v, "btnExport"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(v, "btnExport"), Qt::LeftButton);
    EXPECT_TRUE(ui.errors().isEmpty()) << ui.errors().join(";").toStdString();
    const auto saves = ui.requestsOf(ScriptedUserInteraction::Kind::SaveFile);
    ASSERT_EQ(saves.size(), 2);
    EXPECT_EQ(saves[0].file.fileName, "trip.csv");
    EXPECT_TRUE(saves[0].file.filter.contains("*.gpx"));

    QFile csv(csvPath), gpx(gpxPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    ASSERT_TRUE(gpx.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    ASSERT_EQ(rows.size(), 5);
    // The CSV holds exactly the grid's texts.
    auto* m = v.recordModel();
    for (int r = 0; r < 3; ++r) {
        QStringList cells;
        for (int c = 0; c < 35; ++c) cells << m->text(r, c);
        EXPECT_EQ(QString::fromUtf8(rows[r + 1]).chopped(1), cells.join(u',')) << r;
    }
    const QByteArray xml = gpx.readAll();
    EXPECT_EQ(xml.count("<trkpt "), 1);
    EXPECT_TRUE(xml.contains("<trkpt lat=\"37.5\" lon=\"127.25\">"));
    EXPECT_TRUE(xml.contains("<name>trip</name>"));
}

TEST_F(DrvViewer, FixedColumnsStayWhileTheGridScrollsSideways)
{
    TformDrvViewer v;
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    v.openFile(write("saved.drv", threeRecords().bytes()));
    auto* grid = child<DrvGridView>(v, "stringGridDRV");
    QTableView* fixed = grid->fixedView();
    EXPECT_TRUE(fixed->isVisible());
    EXPECT_FALSE(fixed->isColumnHidden(0));
    EXPECT_FALSE(fixed->isColumnHidden(1));
    EXPECT_TRUE(fixed->isColumnHidden(2));
    EXPECT_EQ(fixed->width(), grid->columnWidth(0) + grid->columnWidth(1));
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    ASSERT_GT(grid->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(fixed->visualRect(v.recordModel()->index(0, 0)).x(), 0);
    EXPECT_EQ(fixed->model()->data(fixed->model()->index(0, 1)).toString(), "2025.3.7 9:5:3");
}

TEST_F(DrvViewer, PlotDecimatesToItsWidth)
{
    TformDrvViewer v;
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v));
    Drv d;
    for (int k = 0; k < 5000; ++k) d.records << Rec().speed(k % 7).u8(5, k == 4000 ? 1 : 0);
    v.openFile(write("long.drv", d.bytes()));
    auto* plot = child<DrvPlotWidget>(v, "plotDrv");
    plot->repaint();
    ASSERT_EQ(int(plot->plotColumns().size()), plot->plotWidth());
    ASSERT_GT(plot->plotWidth(), 0);
    int flagged = 0;
    for (const auto& c : plot->plotColumns()) flagged += (c.flags & 1) ? 1 : 0;  // FCW
    EXPECT_EQ(flagged, 1);
}

TEST_F(DrvViewer, AFailedOpenNeverShowsTheOldRecordsUnderTheNewName)
{
    TformDrvViewer v;
    v.openFile(write("first.drv", threeRecords().bytes()));
    EXPECT_EQ(v.windowTitle(), "first.drv - Drv Viewer");

    // Cannot be read at all: the previous file stays whole, title and export included.
    ui.answerOpen(dir.filePath("missing.drv"));
    QTest::mouseClick(child<QPushButton>(v, "btnDrvFileOpen"), Qt::LeftButton);
    EXPECT_EQ(v.windowTitle(), "first.drv - Drv Viewer");
    ASSERT_TRUE(v.currentFile());

    // Read, but not as DRV data: the log tells what was read, nothing of the old file remains.
    ui.answerOpen(write("tiny.drv", QByteArray(30, 'x')));
    QTest::mouseClick(child<QPushButton>(v, "btnDrvFileOpen"), Qt::LeftButton);
    ASSERT_EQ(ui.errors().size(), 2);
    EXPECT_TRUE(memoLines(v)[1].endsWith("tiny.drv"));
    EXPECT_EQ(v.currentFile(), nullptr);
    EXPECT_EQ(v.recordModel()->rowCount(), 31);
    EXPECT_EQ(v.recordModel()->text(0, 8), "");
    EXPECT_EQ(v.windowTitle(), "Drv Viewer");
    ui.clear();
    QTest::mouseClick(child<QPushButton>(v, "btnExport"), Qt::LeftButton);
    EXPECT_TRUE(ui.requestsOf(ScriptedUserInteraction::Kind::SaveFile).isEmpty()) << "no old name is proposed";
}

TEST_F(DrvViewer, ARandomFileIsSaidNotToLookLikeADrvTrack)
{
    TformDrvViewer v;
    QByteArray noise(58 + 22 + 41 * 120, '\0');
    std::uint32_t x = 99;
    for (char& c : noise) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    child<QCheckBox>(v, "checkBoxFileHeader")->setChecked(false);
    v.openFile(write("noise.bin", noise));
    const auto told = ui.requestsOf(ScriptedUserInteraction::Kind::Information);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].text.startsWith("noise.bin does not look like a DRV track")) << told[0].text.toStdString();

    child<QCheckBox>(v, "checkBoxFileHeader")->setChecked(true);  // reads noise.bin again
    ui.clear();
    v.openFile(QStringLiteral(BRINDLE_SOURCE_DIR "/docs/samples/short.drv"));
    EXPECT_TRUE(ui.requests().isEmpty()) << "the sample track raises no doubt";
    EXPECT_EQ(v.recordModel()->rowCount(), 10);
}

TEST_F(DrvViewer, CaptionsFitTheirColumnsAndTheDialogsSayWhatAndWhere)
{
    TformDrvViewer v;
    auto* grid = child<QTableView>(v, "stringGridDRV");
    const QFontMetrics metrics(grid->horizontalHeader()->font());
    for (int c = 0; c < drv::kColumnCount; ++c) {
        const QString label = QString::fromLatin1(drv::columns()[c].label);
        EXPECT_GT(grid->columnWidth(c), metrics.horizontalAdvance(label)) << label.toStdString();
        EXPECT_GE(grid->columnWidth(c), drv::columns()[c].width) << "never narrower than designed";
    }

    ui.answerOpen(std::nullopt);
    v.btnDrvFileOpenClick();
    const auto opens = ui.requestsOf(ScriptedUserInteraction::Kind::OpenFiles);
    ASSERT_EQ(opens.size(), 1);
    EXPECT_TRUE(opens[0].file.filter.startsWith("DRV track|*.drv|")) << "DRV files are offered first";

    // The result is told once, with the progress box gone: the export ends, and the message takes its click.
    v.show();
    Drv longTrack;
    for (int k = 0; k < 9000; ++k) longTrack.records << Rec().speed(k % 100).time(1741338303 + k);
    const struct {
        const char* file;
        Drv track;
        const char* told;
    } exports[] = {
        {"trip", threeRecords(), "Exported 3 records to "},
        {"long", longTrack, "Exported 9000 records to "},
    };
    for (const auto& e : exports) {
        SCOPED_TRACE(e.file);
        ui.clear();
        v.openFile(write(QString::fromLatin1(e.file) + ".drv", e.track.bytes()));
        const QString target = dir.filePath(QString::fromLatin1(e.file) + ".csv");
        ui.answerSave(target);
        ProgressAtMessages watch(ui, v);
        QTest::mouseClick(child<QPushButton>(v, "btnExport"), Qt::LeftButton);
        const auto told = ui.requestsOf(ScriptedUserInteraction::Kind::Information);
        ASSERT_EQ(told.size(), 1);
        EXPECT_EQ(told[0].text, e.told + target);
        EXPECT_EQ(watch.alive, QList<int>{0}) << "a progress box outlived the export";
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_FALSE(qobject_cast<QProgressDialog*>(w) && w->isVisible());
    }
}

// The box says how the file is read: changed, it reads the file at hand again,
// which replaces the earlier reading; the chosen cell stays.
TEST_F(DrvViewer, FileHeaderBoxReadsTheOpenFileAgain)
{
    TformDrvViewer v;
    auto* box = child<QCheckBox>(v, "checkBoxFileHeader");
    auto* grid = child<DrvGridView>(v, "stringGridDRV");
    auto* m = v.recordModel();
    auto speeds = [&] {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r) out << m->text(r, 8);
        return out;
    };

    // Raw recorder data read as if it had a file header shows nonsense; without, its track.
    Drv raw = threeRecords();
    raw.withFileHeader = false;
    for (int k = 0; k < 4; ++k) raw.records << Rec().speed(40 + k).time(1741338306 + k);
    const QStringList track{"10", "20", "30", "40", "41", "42", "43"};
    ui.answerOpen(write("raw.drv", raw.bytes()));
    QTest::mouseClick(child<QPushButton>(v, "btnDrvFileOpen"), Qt::LeftButton);
    EXPECT_NE(speeds().mid(0, 7), track);
    ui.clear();
    box->click();
    EXPECT_TRUE(ui.messages().isEmpty()) << ui.messages().join(';').toStdString();
    ASSERT_TRUE(v.currentFile());
    EXPECT_EQ(v.windowTitle(), "raw.drv - Drv Viewer");
    EXPECT_EQ(v.currentFile()->count(), 7);
    EXPECT_EQ(speeds().mid(0, 7), track.mid(0, m->rowCount()));
    EXPECT_FALSE(memoLines(v).contains("-- DRV File Header 58bytes --"));

    // A file with a file header, read without and with again: the last reading is
    // all there is, nothing of the one before shows through.
    box->click();
    Drv five;
    for (int k = 0; k < 5; ++k) five.records << Rec().speed(50 + k);
    v.openFile(write("five.drv", five.bytes()));
    const QStringList withHeader = speeds();
    ASSERT_EQ(withHeader, QStringList({"50", "51", "52", "53", "54"}));
    grid->setCurrentIndex(m->index(3, 8));
    box->click();
    EXPECT_EQ(m->layerCount(), 1u);
    EXPECT_NE(speeds(), withHeader);
    EXPECT_EQ(grid->currentIndex(), m->index(3, 8));
    box->click();
    EXPECT_EQ(speeds(), withHeader);
    EXPECT_EQ(m->layerCount(), 1u);
    EXPECT_EQ(grid->currentIndex(), m->index(3, 8));
    EXPECT_TRUE(memoLines(v).contains("-- DRV File Header 58bytes --"));
}
