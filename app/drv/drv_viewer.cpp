#include "app/drv/drv_viewer.h"

#include "device/data_folders.h"

#include "app/drv/drv_export.h"
#include "app/drv/drv_grid_view.h"
#include "app/drv/drv_plausibility.h"
#include "app/drv/drv_plot_widget.h"
#include "app/drv/drv_record_model.h"
#include "app/drv/drv_text.h"
#include "toolkit/display_scale.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"
#include "toolkit/user_interaction.h"

#include <algorithm>

#include <QCheckBox>
#include <QDir>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSplitter>
#include <QStyle>

TformDrvViewer::TformDrvViewer(int displayScale, QWidget* parent) : QWidget(parent, Qt::Window), displayScale_(displayScale)
{
    setObjectName(QStringLiteral("formDrvViewer"));
    setWindowTitle(QStringLiteral("Drv Viewer"));

    model_ = new DrvRecordModel(this);

    gridArea_ = new QSplitter(Qt::Vertical, this);
    gridArea_->setObjectName(QStringLiteral("gridArea"));
    gridArea_->setChildrenCollapsible(false);
    stringGridDRV = new DrvGridView(gridArea_);
    stringGridDRV->setObjectName(QStringLiteral("stringGridDRV"));
    stringGridDRV->verticalHeader()->hide();
    stringGridDRV->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    stringGridDRV->verticalHeader()->setMinimumSectionSize(1);
    stringGridDRV->verticalHeader()->setDefaultSectionSize(s(18));
    stringGridDRV->horizontalHeader()->setHighlightSections(false);
    stringGridDRV->setWordWrap(false);
    stringGridDRV->setModel(model_);
    sizeColumnsToCaptions();
    plotDrv = new DrvPlotWidget(gridArea_);
    plotDrv->setObjectName(QStringLiteral("plotDrv"));
    gridArea_->addWidget(stringGridDRV);
    gridArea_->addWidget(plotDrv);
    gridArea_->setStretchFactor(0, 3);
    gridArea_->setStretchFactor(1, 1);

    cbServerHeader = new QCheckBox(QStringLiteral("Server Header"), this);
    cbServerHeader->setObjectName(QStringLiteral("cbServerHeader"));
    edHeaderSize = new QLineEdit(QString::number(drv::kDefaultPrefixLength), this);
    edHeaderSize->setObjectName(QStringLiteral("edHeaderSize"));
    edHeaderSize->setAlignment(Qt::AlignRight);
    lbBytes = new QLabel(QStringLiteral("bytes"), this);
    lbBytes->setObjectName(QStringLiteral("lbBytes"));
    checkBoxFileHeader = new QCheckBox(QStringLiteral("File Header"), this);
    checkBoxFileHeader->setObjectName(QStringLiteral("checkBoxFileHeader"));
    checkBoxFileHeader->setChecked(true);
    btnDrvFileOpen = new QPushButton(QStringLiteral("Server Drv Data Open"), this);
    btnDrvFileOpen->setObjectName(QStringLiteral("btnDrvFileOpen"));
    btnExport = new QPushButton(QStringLiteral("Export..."), this);
    btnExport->setObjectName(QStringLiteral("btnExport"));
    memoMessage = new QPlainTextEdit(this);
    memoMessage->setObjectName(QStringLiteral("memoMessage"));
    memoMessage->setReadOnly(true);
    memoMessage->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont memoFont(QStringLiteral("Calibri"));
    memoFont.setPixelSize(s(16));
    memoMessage->setFont(memoFont);

    toolkit::connectGuarded(btnDrvFileOpen, &QPushButton::clicked, this, [this](auto&&...) { btnDrvFileOpenClick(); });
    toolkit::connectGuarded(btnExport, &QPushButton::clicked, this, [this](auto&&...) { btnExportClick(); });
    toolkit::connectGuarded(checkBoxFileHeader, &QCheckBox::toggled, this, [this](auto&&...) { checkBoxFileHeaderClick(); });

    applyFixedCells();
    resize(s(935), s(666));
    layoutControls();
}

TformDrvViewer::~TformDrvViewer() = default;

int TformDrvViewer::s(double value) const { return toolkit::scaled(value, displayScale_); }

void TformDrvViewer::applyFixedCells()
{
    // The fixed row is the column header; the row numbers and times stay put.
    stringGridDRV->horizontalHeader()->show();
    stringGridDRV->setFixedColumnCount(2);
}

void TformDrvViewer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

void TformDrvViewer::layoutControls()
{
    // Positions follow the window's outer size, as the recorder tool lays them out.
    const QSize outer = frameGeometry().size();
    const int W = outer.width(), H = outer.height();
    const int top = s(8);
    gridArea_->setGeometry(s(8), top, std::max(0, W - s(328)), std::max(0, H - s(55)));
    // The buttons sit above the options so that the option texts are not cut by them.
    btnDrvFileOpen->setGeometry(W - s(180), s(8), s(170), s(25));
    btnExport->setGeometry(W - s(180), s(38), s(170), s(25));
    cbServerHeader->setGeometry(W - s(280), s(72), s(200), s(20));
    edHeaderSize->setGeometry(W - s(280), s(96), s(36), s(21));
    lbBytes->setGeometry(W - s(240), s(99), s(60), s(17));
    checkBoxFileHeader->setGeometry(W - s(280), s(124), s(200), s(20));
    const int memoTop = s(152);
    memoMessage->setGeometry(W - s(318), memoTop, s(310), std::max(s(40), top + H - s(55) - memoTop));
    applyFixedCells();
}

void TformDrvViewer::sizeColumnsToCaptions()
{
    // The designed widths, widened where a caption would be cut ("Engine Temperature").
    const QHeaderView* header = stringGridDRV->horizontalHeader();
    const QFontMetrics metrics(header->font());
    const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + s(8);
    for (int c = 0; c < drv::kColumnCount; ++c) {
        const drv::Column& column = drv::columns()[c];
        const int caption = metrics.horizontalAdvance(QString::fromLatin1(column.label)) + margins;
        stringGridDRV->setColumnWidth(c, std::max(s(column.width), caption));
    }
}

void TformDrvViewer::btnDrvFileOpenClick()
{
    toolkit::FileDialogRequest request;
    request.parent = this;
    request.title = QStringLiteral("Open");
    request.fileName = QStringLiteral("*.*");
    request.filter = QStringLiteral("DRV track|*.drv|All files|*");
    request.directory = currentPath_.isEmpty() ? device::existingDataFolder(QStringLiteral("DRV")) : QFileInfo(currentPath_).absolutePath();
    request.multiSelect = true;
    request.mustExist = true;
    const auto files = toolkit::userInteraction().openFiles(request);
    if (!files || files->isEmpty()) return;
    openFile(files->first());
}

void TformDrvViewer::clearView()
{
    model_->clear();
    plotDrv->setFile({});
    current_.reset();
    currentPath_.clear();
    setWindowTitle(QStringLiteral("Drv Viewer"));
}

void TformDrvViewer::openFile(const QString& path)
{
    // Only what the headers declare is read, so a huge file declaring a short
    // track costs that track. A header size that is not a number is reported
    // below, in the log's order; until then it reads as no prefix.
    drv::ReadOptions declared;
    declared.fileHeader = checkBoxFileHeader->isChecked();
    if (cbServerHeader->isChecked()) {
        try {
            declared.prefixLength = std::max(0, toolkit::StrToInt(edHeaderSize->text()));
        } catch (const toolkit::EConvertError&) {
        }
    }

    // A file that cannot be read changes nothing: the previous file stays whole.
    std::shared_ptr<const drv::DrvBytes> bytes;
    try {
        bytes = drv::DrvBytes::readFile(path, declared);
    } catch (const drv::DrvError& e) {
        throw toolkit::EFileError(e.message());
    }

    // From here the log describes the new file; should it fail, the grid and the
    // plot must not go on showing the previous one under the new file's name.
    memoMessage->clear();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    logPath_ = absolute;
    // The file shown, read anew (other options): its new reading replaces the old
    // one, never lies over it as a file without a file header lies over another.
    const std::shared_ptr<const drv::DrvFile> readBefore = absolute == currentPath_ ? current_ : nullptr;
    QStringList lines{QStringLiteral("DRV File Size = %1").arg(bytes->fileSize()),
                      QStringLiteral("File path & name = ") + absolute, QStringLiteral(" ")};
    auto flush = [&] {
        for (const QString& line : lines) memoMessage->appendPlainText(line);
        lines.clear();
    };

    std::shared_ptr<const drv::DrvFile> file;
    drv::ReadOptions options;
    try {
        options.fileHeader = checkBoxFileHeader->isChecked();
        if (cbServerHeader->isChecked()) {
            flush();  // a bad size leaves these lines in the log
            options.prefixLength = toolkit::StrToInt(edHeaderSize->text());
            lines << QStringLiteral("-- Server Message Header ") + edHeaderSize->text() + QStringLiteral("bytes --")
                  << QStringLiteral(" ");
        }
        flush();
        try {
            file = std::make_shared<const drv::DrvFile>(drv::DrvFile::read(bytes, options));
        } catch (const drv::DrvError& e) {
            throw toolkit::EFileError(e.message());
        }
    } catch (...) {
        clearView();
        throw;
    }

    lines = drv::headerLog(*file);
    const drv::Plausibility plausibility = drv::checkPlausibility(*file);
    const QString doubt = plausibility.looksLikeDrv()
                              ? QString()
                              : drv::implausibleMessage(QFileInfo(path).fileName(), plausibility);
    flush();

    if (readBefore) model_->withdraw(readBefore.get());
    // With a file header the grid is sized to the records; the records a short
    // file lacks are not shown as empty numbered rows.
    if (options.fileHeader)
        model_->setRecordRowCount(int(std::min<qint64>(file->count(), std::numeric_limits<int>::max() - 1)));
    model_->showRecords(file);
    plotDrv->setFile(file);
    current_ = std::move(file);
    currentPath_ = absolute;
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - Drv Viewer"));
    // The records are shown all the same: the options may be what is wrong.
    if (!doubt.isEmpty()) toolkit::userInteraction().information(this, doubt, QStringLiteral("Drv Viewer"));
}

void TformDrvViewer::checkBoxFileHeaderClick()
{
    // The box says how the file is to be read, so it applies to the file at hand
    // too, not only to the next one opened: a file refused as read one way may
    // well read the other way. The cell the user was on stays chosen.
    if (logPath_.isEmpty()) return;
    const QModelIndex at = stringGridDRV->currentIndex();
    openFile(logPath_);
    if (at.isValid() && model_->rowCount() > 0)
        stringGridDRV->setCurrentIndex(model_->index(std::min(at.row(), model_->rowCount() - 1), at.column()));
}

void TformDrvViewer::btnExportClick()
{
    if (!current_) {
        toolkit::userInteraction().information(this, QStringLiteral("Open a DRV file first."), windowTitle());
        return;
    }
    const QFileInfo source(currentPath_);
    toolkit::FileDialogRequest request;
    request.parent = this;
    request.title = QStringLiteral("Export");
    request.directory = source.absolutePath();
    request.fileName = source.completeBaseName() + QStringLiteral(".csv");
    request.filter = QStringLiteral("CSV table|*.csv|GPX 1.1 track|*.gpx");
    request.defaultSuffix = QStringLiteral("csv");
    const auto target = toolkit::userInteraction().saveFile(request);
    if (!target) return;

    const bool gpx = target->endsWith(QStringLiteral(".gpx"), Qt::CaseInsensitive);
    QSaveFile out(*target);
    if (!out.open(QIODevice::WriteOnly))
        throw toolkit::EFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(*target, out.errorString()));

    // A long track takes seconds to write: the window stays live, shows how far
    // it is and can be cancelled. The file is held here so that nothing done in
    // the meantime can take it away, and the controls wait until it is written.
    const std::shared_ptr<const drv::DrvFile> file = current_;
    bool written = false;
    bool cancelled = false;
    {
        QProgressDialog progress(QStringLiteral("Exporting %1 records...").arg(file->count()), QStringLiteral("Cancel"),
                                 0, 1000, this);
        progress.setWindowTitle(windowTitle());
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(500);
        QList<QWidget*> resting{btnDrvFileOpen, btnExport, checkBoxFileHeader};
        for (QWidget* w : resting) w->setEnabled(false);
        const auto enableControls = qScopeGuard([&resting] {
            for (QWidget* w : resting) w->setEnabled(true);
        });
        const drv::ExportProgress report = [&progress](qint64 done, qint64 total) {
            progress.setValue(int(done * 1000 / std::max<qint64>(total, 1)));
            QCoreApplication::processEvents();
            return !progress.wasCanceled();
        };
        written = gpx ? drv::writeGpx(out, *file, source.completeBaseName(), report)
                      : drv::writeCsv(out, *file, drv::systemDecimalPoint(), report);
        cancelled = progress.wasCanceled();
        // The box goes here, before any message. The export reports now and then,
        // never its end, so the box never reaches its maximum to close itself; left
        // alive, its delayed show would put it up over the message, modal, with the
        // message's OK dead until the box was cancelled.
    }
    if (cancelled) {
        out.cancelWriting();
        return;
    }
    if (!written || !out.commit())
        throw toolkit::EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(*target, out.errorString()));
    toolkit::userInteraction().information(
        this,
        QStringLiteral("Exported %1 records to %2").arg(file->count()).arg(QDir::cleanPath(QFileInfo(*target).absoluteFilePath())),
        QStringLiteral("Drv Viewer"));
}
