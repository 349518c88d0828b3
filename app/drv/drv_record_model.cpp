#include "app/drv/drv_record_model.h"

#include "app/drv/drv_text.h"

#include <algorithm>

DrvRecordModel::DrvRecordModel(QObject* parent)
    : QAbstractTableModel(parent), decimalPoint_(drv::systemDecimalPoint())
{
}

int DrvRecordModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int DrvRecordModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : drv::kColumnCount;
}

const DrvRecordModel::Layer* DrvRecordModel::layerFor(int row) const
{
    for (auto it = layers_.rbegin(); it != layers_.rend(); ++it)
        if (row < it->rows) return &*it;
    return nullptr;
}

QString DrvRecordModel::text(int row, int column) const
{
    if (row < 0 || row >= rows_ || column < 0 || column >= drv::kColumnCount) return {};
    if (column == 0) return QString::number(row + 1);
    const Layer* layer = layerFor(row);
    if (!layer) return {};
    return drv::fieldText(layer->file->record(row), column, decimalPoint_);
}

QVariant DrvRecordModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return text(index.row(), index.column());
}

QVariant DrvRecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < drv::kColumnCount)
        return QString::fromLatin1(drv::columns()[std::size_t(section)].label);
    if (orientation == Qt::Vertical) return section + 1;
    return {};
}

void DrvRecordModel::clear()
{
    beginResetModel();
    layers_.clear();
    rows_ = kInitialRows;
    endResetModel();
}

void DrvRecordModel::setRecordRowCount(int rows)
{
    rows = std::max(rows, 0);
    if (rows == rows_) return;
    if (rows < rows_) {
        beginRemoveRows({}, rows, rows_ - 1);
        rows_ = rows;
        // Rows that are gone take their text with them, as a grid that shrinks does.
        for (Layer& l : layers_) l.rows = std::min<qint64>(l.rows, rows);
        std::erase_if(layers_, [](const Layer& l) { return l.rows == 0; });
        // Equal reach means the older layer is hidden for good.
        for (std::size_t i = layers_.size(); i-- > 1;)
            if (layers_[i - 1].rows <= layers_[i].rows) layers_.erase(layers_.begin() + qsizetype(i - 1));
        endRemoveRows();
    } else {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    }
}

void DrvRecordModel::showRecords(std::shared_ptr<const drv::DrvFile> file)
{
    const qint64 reach = std::min<qint64>(file->count(), rows_);
    std::erase_if(layers_, [reach](const Layer& l) { return l.rows <= reach; });
    if (reach > 0) {
        layers_.push_back({std::move(file), reach});
        emit dataChanged(index(0, 1), index(int(reach) - 1, drv::kColumnCount - 1), {Qt::DisplayRole});
    }
}

void DrvRecordModel::withdraw(const drv::DrvFile* file)
{
    qint64 reach = 0;
    for (const Layer& l : layers_)
        if (l.file.get() == file) reach = std::max(reach, l.rows);
    // Taking any layer out keeps the others' reaches strictly decreasing.
    std::erase_if(layers_, [file](const Layer& l) { return l.file.get() == file; });
    if (reach > 0) emit dataChanged(index(0, 1), index(int(reach) - 1, drv::kColumnCount - 1), {Qt::DisplayRole});
}
