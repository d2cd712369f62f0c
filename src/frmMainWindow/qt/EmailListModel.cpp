#include "frmMainWindow/qt/EmailListModel.h"

#include <utility>

using corvane::session::ColItemNum;
using corvane::session::ColSubject;
using corvane::session::ColumnCount;
using corvane::session::ColDate;

TEmailListModel::TEmailListModel(const corvane::session::TMailSession& session, QIcon deletedIcon, QIcon liveIcon,
                                 QObject* parent)
    : QAbstractTableModel(parent), session_(session), deletedIcon_(std::move(deletedIcon)), liveIcon_(std::move(liveIcon)) {}

void TEmailListModel::Reset() {
    beginResetModel();
    endResetModel();
}

void TEmailListModel::TextsChanged() {
    if (Count() > 0) emit dataChanged(index(0, ColDate), index(Count() - 1, ColSubject), {Qt::DisplayRole});
}

void TEmailListModel::TicksChanged() {
    if (Count() > 0) emit dataChanged(index(0, ColItemNum), index(Count() - 1, ColItemNum), {Qt::CheckStateRole});
}

void TEmailListModel::Sort(const std::function<std::vector<std::size_t>()>& sortRows) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<std::size_t> newPosition = sortRows();
    // The view's current row and selection are held as persistent indexes.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
        const auto from = static_cast<std::size_t>(old.row());
        after << (from < newPosition.size() ? index(static_cast<int>(newPosition[from]), old.column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool TEmailListModel::Valid(const QModelIndex& index) const {
    return index.isValid() && index.model() == this && index.row() >= 0 &&
           static_cast<std::size_t>(index.row()) < session_.RowCount();
}

int TEmailListModel::RecordOf(const QModelIndex& index) const {
    return Valid(index) ? session_.RecordAt(static_cast<std::size_t>(index.row())) : -1;
}

int TEmailListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

int TEmailListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TEmailListModel::data(const QModelIndex& index, int role) const {
    if (!Valid(index)) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(session_.CellText(row, column));
        case Qt::DecorationRole:
            if (column == ColItemNum) return session_.RowDeleted(row) ? deletedIcon_ : liveIcon_;
            return {};
        case Qt::CheckStateRole:
            if (column == ColItemNum) return static_cast<int>(session_.Ticked(row) ? Qt::Checked : Qt::Unchecked);
            return {};
        default:
            return {};
    }
}

bool TEmailListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != ColItemNum || !Valid(index) || !SetTick) return false;
    SetTick(static_cast<std::size_t>(index.row()), value.toInt() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant TEmailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) return {};
    return QString::fromLatin1(corvane::session::kColumnHeadings[section]);
}

Qt::ItemFlags TEmailListModel::flags(const QModelIndex& index) const {
    if (!Valid(index)) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (index.column() == ColItemNum) f |= Qt::ItemIsUserCheckable;
    return f;
}
