#include "app/drv/drv_plot_widget.h"

#include "app/drv/drv_text.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLeftMargin = 90;  // room for the flag names
constexpr int kRightMargin = 8;

const QColor kSeriesColors[drv::SeriesCount] = {QColor(0, 90, 200), QColor(200, 40, 40), QColor(30, 150, 60),
                                                QColor(140, 60, 180)};
const char* const kSeriesNames[drv::SeriesCount] = {"Speed", "G-Sensor X", "G-Sensor Y", "G-Sensor Z"};
const QColor kFlagColors[drv::kEventFlagCount] = {QColor(220, 30, 30),  QColor(240, 150, 0), QColor(190, 0, 160),
                                                  QColor(0, 140, 160),  QColor(120, 80, 30), QColor(0, 0, 0),
                                                  QColor(90, 90, 220)};

}  // namespace

DrvPlotWidget::DrvPlotWidget(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

void DrvPlotWidget::setFile(std::shared_ptr<const drv::DrvFile> file)
{
    file_ = std::move(file);
    columns_.clear();
    columnsFor_ = -1;
    update();
}

int DrvPlotWidget::plotWidth() const { return std::max(0, width() - kLeftMargin - kRightMargin); }

void DrvPlotWidget::ensureColumns(int w)
{
    if (columnsFor_ == w) return;
    columns_ = file_ ? drv::decimate(*file_, w) : std::vector<drv::PlotColumn>{};
    columnsFor_ = w;
}

void DrvPlotWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QFontMetrics fm = p.fontMetrics();
    const int lineH = fm.height();
    const int pw = plotWidth();
    if (!file_ || file_->count() == 0 || pw <= 0) {
        p.setPen(Qt::gray);
        p.drawText(rect(), Qt::AlignCenter, file_ ? tr("No records") : tr("No DRV file open"));
        return;
    }
    ensureColumns(pw);

    const int flagRowH = std::max(6, lineH * 3 / 4);
    const int flagsH = flagRowH * drv::kEventFlagCount;
    const int axisH = lineH + 4;
    const int chartsH = std::max(20, height() - flagsH - axisH - 6);
    const QRect speedRect(kLeftMargin, 2, pw, chartsH / 3);
    const QRect gRect(kLeftMargin, speedRect.bottom() + 4, pw, chartsH - speedRect.height() - 4);
    const int flagsTop = gRect.bottom() + 3;

    float speedMax = 1, gAbs = 1;
    for (const auto& c : columns_) {
        if (c.empty) continue;
        speedMax = std::max(speedMax, c.max[drv::Speed]);
        for (int s = drv::GX; s <= drv::GZ; ++s) gAbs = std::max({gAbs, std::abs(c.min[s]), std::abs(c.max[s])});
    }

    p.setPen(QColor(200, 200, 200));
    p.drawRect(speedRect.adjusted(0, 0, -1, -1));
    p.drawRect(gRect.adjusted(0, 0, -1, -1));
    const int zeroY = gRect.top() + gRect.height() / 2;
    p.drawLine(gRect.left(), zeroY, gRect.right(), zeroY);

    auto yIn = [](const QRect& r, float v, float lo, float hi) {
        return r.bottom() - 1 - int(std::lround((v - lo) / (hi - lo) * (r.height() - 3)));
    };
    for (int s = 0; s < drv::SeriesCount; ++s) {
        const QRect& r = s == drv::Speed ? speedRect : gRect;
        const float lo = s == drv::Speed ? 0 : -gAbs, hi = s == drv::Speed ? speedMax : gAbs;
        p.setPen(kSeriesColors[s]);
        int prevY = -1;
        for (int x = 0; x < pw; ++x) {
            const auto& c = columns_[std::size_t(x)];
            if (c.empty) continue;
            const int y1 = yIn(r, c.max[s], lo, hi), y2 = yIn(r, c.min[s], lo, hi);
            const int top = prevY < 0 ? y1 : std::min(y1, prevY), bottom = prevY < 0 ? y2 : std::max(y2, prevY);
            p.drawLine(r.left() + x, top, r.left() + x, bottom);
            prevY = (y1 + y2) / 2;
        }
    }

    // Series names with their colours, and the scale of each chart.
    p.setPen(kSeriesColors[drv::Speed]);
    p.drawText(QRect(2, speedRect.top(), kLeftMargin - 6, lineH), Qt::AlignLeft, tr("Speed"));
    // Scales inside the charts' top right corners, where they never meet the names.
    p.setPen(Qt::darkGray);
    p.drawText(speedRect.adjusted(0, 1, -4, 0), Qt::AlignRight | Qt::AlignTop, QStringLiteral("max %1").arg(speedMax));
    for (int s = drv::GX; s <= drv::GZ; ++s) {
        p.setPen(kSeriesColors[s]);
        p.drawText(QRect(2, gRect.top() + (s - drv::GX) * lineH, kLeftMargin - 6, lineH), Qt::AlignLeft,
                   QString::fromLatin1(kSeriesNames[s]));
    }
    p.setPen(Qt::darkGray);
    p.drawText(gRect.adjusted(0, 1, -4, 0), Qt::AlignRight | Qt::AlignTop, QStringLiteral("±%1").arg(gAbs));

    for (int i = 0; i < drv::kEventFlagCount; ++i) {
        const int y = flagsTop + i * flagRowH;
        p.setPen(kFlagColors[i]);
        QFont small = p.font();
        small.setPixelSize(std::max(6, flagRowH - 1));
        p.setFont(small);
        p.drawText(QRect(2, y, kLeftMargin - 6, flagRowH), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(drv::eventFlags()[std::size_t(i)].label));
        for (int x = 0; x < pw; ++x)
            if (columns_[std::size_t(x)].flags & (1u << i))
                p.fillRect(kLeftMargin + x, y + 1, 1, flagRowH - 2, kFlagColors[i]);
    }
    p.setFont(font());

    // Time axis: the first and last record's local times.
    const qint64 n = file_->count();
    const auto first = drv::decodeRecord(file_->record(0)).timeSec;
    const auto last = drv::decodeRecord(file_->record(n - 1)).timeSec;
    const int axisTop = flagsTop + flagsH + 2;
    p.setPen(Qt::black);
    p.drawText(QRect(kLeftMargin, axisTop, pw, lineH), Qt::AlignLeft, drv::localTimeText(first));
    p.drawText(QRect(kLeftMargin, axisTop, pw, lineH), Qt::AlignRight, drv::localTimeText(last));
    p.drawText(QRect(kLeftMargin, axisTop, pw, lineH), Qt::AlignHCenter, tr("%n record(s)", nullptr, int(std::min<qint64>(n, INT_MAX))));
}
