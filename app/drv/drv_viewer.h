#pragma once
// "Drv Viewer": opens a DRV track file and shows its records in a grid, its
// headers in a log, its speed and G-sensor track in a plot, and exports it.

#include "app/drv/drv_format.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class DrvGridView;
class DrvPlotWidget;
class DrvRecordModel;

class TformDrvViewer : public QWidget {
    Q_OBJECT
public:
    // `displayScale`: the screen's display scale in percent, as the main window uses it.
    explicit TformDrvViewer(int displayScale = 100, QWidget* parent = nullptr);
    ~TformDrvViewer() override;

    // What "Server Drv Data Open" does once a file is chosen.
    void openFile(const QString& path);

    // Handlers, bound through the standard exception display.
    void btnDrvFileOpenClick();
    void btnExportClick();
    void checkBoxFileHeaderClick();

    // The process-wide display scale the window is laid out with.
    int displayScale() const { return displayScale_; }
    DrvRecordModel* recordModel() const { return model_; }
    // The file last opened, or null.
    std::shared_ptr<const drv::DrvFile> currentFile() const { return current_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int displayScale_ = 100;
    int s(double value) const;  // scaled to the display
    void layoutControls();
    void applyFixedCells();
    void sizeColumnsToCaptions();
    // No file shown: empty grid and plot, nothing to export.
    void clearView();

    DrvRecordModel* model_;
    QSplitter* gridArea_;
    DrvGridView* stringGridDRV;
    DrvPlotWidget* plotDrv;
    QCheckBox* cbServerHeader;
    QLineEdit* edHeaderSize;
    QLabel* lbBytes;
    QCheckBox* checkBoxFileHeader;
    QPushButton* btnDrvFileOpen;
    QPushButton* btnExport;
    QPlainTextEdit* memoMessage;
    std::shared_ptr<const drv::DrvFile> current_;
    QString currentPath_;
    // The file the log describes: the one shown, or the last one refused after it was read.
    QString logPath_;
};
