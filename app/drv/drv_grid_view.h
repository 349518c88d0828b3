#pragma once
// A table view whose first columns stay in place while the rest scroll
// sideways: an overlay view over the same model shows only those columns,
// shares the selection and follows the main view's vertical scrolling.

#include <QTableView>

class DrvGridView : public QTableView {
    Q_OBJECT
public:
    explicit DrvGridView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    void setFixedColumnCount(int columns);
    int fixedColumnCount() const { return fixedColumns_; }
    QTableView* fixedView() const { return frozen_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

private:
    void updateFrozenColumns();
    void updateFrozenGeometry();
    int frozenWidth() const;

    QTableView* frozen_;
    int fixedColumns_ = 0;
};
