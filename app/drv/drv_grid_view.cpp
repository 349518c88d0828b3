#include "app/drv/drv_grid_view.h"

#include <QHeaderView>
#include <QScrollBar>

DrvGridView::DrvGridView(QWidget* parent) : QTableView(parent), frozen_(new QTableView(this))
{
    frozen_->setObjectName(QStringLiteral("fixedColumns"));
    frozen_->setFocusPolicy(Qt::NoFocus);
    frozen_->verticalHeader()->hide();
    frozen_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    frozen_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    frozen_->setVerticalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
    frozen_->setStyleSheet(QStringLiteral("QTableView { border: none; }"));
    viewport()->stackUnder(frozen_);
    frozen_->hide();

    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (column < fixedColumns_) {
            frozen_->setColumnWidth(column, size);
            updateFrozenGeometry();
        }
    });
    connect(verticalHeader(), &QHeaderView::sectionResized, this,
            [this](int row, int, int size) { frozen_->setRowHeight(row, size); });
    connect(frozen_->verticalScrollBar(), &QAbstractSlider::valueChanged, verticalScrollBar(),
            &QAbstractSlider::setValue);
    connect(verticalScrollBar(), &QAbstractSlider::valueChanged, frozen_->verticalScrollBar(),
            &QAbstractSlider::setValue);
}

void DrvGridView::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    frozen_->setModel(model);
    frozen_->setSelectionModel(selectionModel());
    frozen_->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    updateFrozenColumns();
}

void DrvGridView::setFixedColumnCount(int columns)
{
    fixedColumns_ = std::max(columns, 0);
    updateFrozenColumns();
}

void DrvGridView::updateFrozenColumns()
{
    if (!model()) return;
    const int n = model()->columnCount();
    for (int c = 0; c < n; ++c) {
        frozen_->setColumnHidden(c, c >= fixedColumns_);
        if (c < fixedColumns_) frozen_->setColumnWidth(c, columnWidth(c));
    }
    frozen_->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
    frozen_->verticalHeader()->setMinimumSectionSize(verticalHeader()->minimumSectionSize());
    frozen_->horizontalHeader()->setFixedHeight(horizontalHeader()->height());
    frozen_->setVisible(fixedColumns_ > 0);
    updateFrozenGeometry();
}

int DrvGridView::frozenWidth() const
{
    int w = 0;
    for (int c = 0; c < fixedColumns_ && model() && c < model()->columnCount(); ++c) w += columnWidth(c);
    return w;
}

void DrvGridView::updateFrozenGeometry()
{
    frozen_->horizontalHeader()->setFixedHeight(horizontalHeader()->height());
    frozen_->setGeometry(verticalHeader()->width() + frameWidth(), frameWidth(), frozenWidth(),
                         viewport()->height() + horizontalHeader()->height());
}

void DrvGridView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    updateFrozenGeometry();
}

// Keyboard moves must not leave the current cell hidden under the fixed columns.
QModelIndex DrvGridView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    QModelIndex current = QTableView::moveCursor(cursorAction, modifiers);
    if (cursorAction == MoveLeft && current.column() >= fixedColumns_ &&
        visualRect(current).topLeft().x() < frozenWidth()) {
        const int newValue = horizontalScrollBar()->value() + visualRect(current).topLeft().x() - frozenWidth();
        horizontalScrollBar()->setValue(newValue);
    }
    return current;
}

void DrvGridView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (index.column() >= fixedColumns_) QTableView::scrollTo(index, hint);
}
