#include "frmMainWindow/EmailListModel.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "frmMainWindow/frmMainWindow.h"
#include "platform/qt/LocaleCompare.h"

TEmailListModel::TEmailListModel(const TEmailArray& emails, QIcon deletedIcon, QIcon liveIcon, QObject* parent)
    : QAbstractTableModel(parent), emails_(emails), deletedIcon_(std::move(deletedIcon)), liveIcon_(std::move(liveIcon)) {}

void TEmailListModel::SetRows(std::vector<int> records) {
    beginResetModel();
    rows_ = std::move(records);
    rows_.shrink_to_fit();
    ticks_.assign(rows_.size(), false);
    endResetModel();
}

void TEmailListModel::AppendRow(int record) {
    const int position = Count();
    beginInsertRows(QModelIndex(), position, position);
    rows_.push_back(record);
    ticks_.push_back(false);
    endInsertRows();
}

int TEmailListModel::RecordOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.row() >= Count()) return -1;
    return RecordAt(index.row());
}

void TEmailListModel::SetAllTicks(bool ticked) {
    if (rows_.empty()) return;
    ticks_.assign(rows_.size(), ticked);
    emit dataChanged(index(0, ColItemNum), index(Count() - 1, ColItemNum), {Qt::CheckStateRole});
}

std::vector<TEmailListModel::TTickedRow> TEmailListModel::TickedRows() const {
    std::vector<TTickedRow> ticked;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (ticks_[i]) ticked.push_back({static_cast<int>(i), rows_[i]});
    return ticked;
}

const std::string& TEmailListModel::Field(const TEmail& email, int column) {
    switch (column) {
        case ColDate: return email.Date;
        case ColFrom: return email.From;
        case ColTo: return email.To;
        default: return email.Subject;
    }
}

void TEmailListModel::SetDecoded(const std::vector<corvane::mail::TDecodedHeaders>* decoded) {
    decoded_ = decoded;
    if (!rows_.empty()) emit dataChanged(index(0, ColDate), index(Count() - 1, ColSubject), {Qt::DisplayRole});
}

QString TEmailListModel::DisplayText(int record, int column) const {
    if (record < 0 || static_cast<std::size_t>(record) >= emails_.size()) return {};
    const auto k = static_cast<std::size_t>(record);
    if (decoded_ != nullptr && k < decoded_->size()) {
        const corvane::mail::TDecodedHeaders& d = (*decoded_)[k];
        switch (column) {
            case ColDate: return QString::fromStdString(d.DateIso.empty() ? d.Date : d.DateIso);
            case ColFrom: return QString::fromStdString(d.From);
            case ColTo: return QString::fromStdString(d.To);
            default: return QString::fromStdString(d.Subject);
        }
    }
    return TfrmMain::AnsiToDisplay(Field(emails_[k], column));
}

void TEmailListModel::Sort(int column, bool ascending) {
    if (column < ColItemNum || column >= ColumnCount) return;
    const std::size_t n = rows_.size();
    // order[p]: the present position of the row that goes to position p.
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    if (column == ColItemNum) {
        // Each record has at most one row, so the numbers never tie.
        std::sort(order.begin(), order.end(), [this, ascending](int a, int b) {
            const int ka = rows_[static_cast<std::size_t>(a)], kb = rows_[static_cast<std::size_t>(b)];
            return ascending ? ka < kb : kb < ka;
        });
    } else {
        // Each text is converted and prepared for comparison once per sort.
        corvane::gui::TLocaleSortKeys keys;
        keys.Reserve(n);
        // A row whose record is gone (the records replaced behind the list)
        // shows no text and sorts as an empty one.
        for (const int record : rows_) keys.Add(DisplayText(record, column));
        std::stable_sort(order.begin(), order.end(), [&keys, ascending](int a, int b) {
            const auto ia = static_cast<std::size_t>(a), ib = static_cast<std::size_t>(b);
            return ascending ? keys.Compare(ia, ib) < 0 : keys.Compare(ib, ia) < 0;
        });
    }

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> rows(n);
    std::vector<bool> ticks(n);
    std::vector<int> newPosition(n);
    for (std::size_t p = 0; p < n; ++p) {
        const auto from = static_cast<std::size_t>(order[p]);
        rows[p] = rows_[from];
        ticks[p] = ticks_[from];
        newPosition[from] = static_cast<int>(p);
    }
    rows_ = std::move(rows);
    ticks_ = std::move(ticks);
    // The view's current row and selection are held as persistent indexes.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after << index(newPosition[static_cast<std::size_t>(old.row())], old.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TEmailListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

int TEmailListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TEmailListModel::data(const QModelIndex& index, int role) const {
    const int record = RecordOf(index);
    if (record < 0 || static_cast<std::size_t>(record) >= emails_.size()) return {};
    const TEmail& email = emails_[static_cast<std::size_t>(record)];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            if (column == ColItemNum) return QString::number(record);
            return DisplayText(record, column);
        case Qt::DecorationRole:
            if (column == ColItemNum) return email.Deleted != 0 ? deletedIcon_ : liveIcon_;
            return {};
        case Qt::CheckStateRole:
            if (column == ColItemNum) return static_cast<int>(Ticked(index.row()) ? Qt::Checked : Qt::Unchecked);
            return {};
        default:
            return {};
    }
}

bool TEmailListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != ColItemNum || RecordOf(index) < 0) return false;
    ticks_[static_cast<std::size_t>(index.row())] = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant TEmailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kHeadings[ColumnCount] = {"Item Num", "Date", "From", "To", "Subject"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) return {};
    return QString::fromLatin1(kHeadings[section]);
}

Qt::ItemFlags TEmailListModel::flags(const QModelIndex& index) const {
    if (RecordOf(index) < 0) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (index.column() == ColItemNum) f |= Qt::ItemIsUserCheckable;
    return f;
}
