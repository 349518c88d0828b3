#pragma once
// The viewer grid's rows as a model over parsed DRV files: texts are made in
// data() only for the cells the view shows.
//
// The grid's rules allow rows of an earlier file to stay when a file without a
// file header is shown over them, so the model keeps a short stack of files:
// each row takes its text from the newest file that reaches it. A file whose
// rows are all covered by a newer one is dropped.

#include "app/drv/drv_format.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

class DrvRecordModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // 31 empty numbered rows, as the grid starts.
    static constexpr int kInitialRows = 31;

    explicit DrvRecordModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Rows below the header row; rows beyond a smaller count lose their text.
    void setRecordRowCount(int rows);
    // Back to the start: the initial empty numbered rows, no file.
    void clear();
    // Writes the file's records into rows 0 .. count-1 (those within the row count).
    void showRecords(std::shared_ptr<const drv::DrvFile> file);
    // Takes the file's records out again: its rows show what was under them.
    // For a file read anew, which must not be shown over its own earlier reading.
    void withdraw(const drv::DrvFile* file);

    // Text as the grid shows it, for tests and export of the visible grid.
    QString text(int row, int column) const;
    // Files still shown somewhere in the grid (newest last).
    std::size_t layerCount() const { return layers_.size(); }

private:
    struct Layer {
        std::shared_ptr<const drv::DrvFile> file;
        qint64 rows;  // rows this file fills, from row 0
    };
    const Layer* layerFor(int row) const;

    int rows_ = kInitialRows;
    std::vector<Layer> layers_;  // oldest first, rows strictly decreasing
    QChar decimalPoint_;
};
