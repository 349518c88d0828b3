#pragma once
// Speed and G-sensor X/Y/Z of the open DRV file against time, with the event
// flags marked below. Each pixel column draws the min..max of the records that
// fall into it, so a million records cost one pass per width change.

#include "app/drv/drv_export.h"

#include <QWidget>

#include <memory>
#include <vector>

class DrvPlotWidget : public QWidget {
    Q_OBJECT
public:
    explicit DrvPlotWidget(QWidget* parent = nullptr);

    void setFile(std::shared_ptr<const drv::DrvFile> file);
    const drv::DrvFile* file() const { return file_.get(); }
    // The decimated columns last drawn (empty before the first paint).
    const std::vector<drv::PlotColumn>& plotColumns() const { return columns_; }
    int plotWidth() const;

    QSize sizeHint() const override { return {600, 220}; }
    QSize minimumSizeHint() const override { return {120, 120}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ensureColumns(int width);

    std::shared_ptr<const drv::DrvFile> file_;
    std::vector<drv::PlotColumn> columns_;
    int columnsFor_ = -1;
};
