#pragma once
// The rows of the message list. A row stands for one record of the main
// window's Emails and holds nothing but that record's index; the rows are kept
// in display order, each with its tick. The texts are converted for display
// only when the view asks for them, so a row costs a few bytes however long
// its texts are, and ticking, sorting and walking the rows touch no widget.

#include <QAbstractTableModel>
#include <QIcon>

#include <string>
#include <vector>

#include "Globals/Globals.h"
#include "maildecode/maildecode.h"

class TEmailListModel : public QAbstractTableModel {
public:
    enum Column : int { ColItemNum = 0, ColDate, ColFrom, ColTo, ColSubject, ColumnCount };

    // `emails` is read whenever a row's texts are needed and must outlive the
    // model; deletedIcon and liveIcon are shared by all rows.
    TEmailListModel(const TEmailArray& emails, QIcon deletedIcon, QIcon liveIcon, QObject* parent = nullptr);

    // Replaces every row by the rows of `records` (indexes into the records),
    // in that order, all unticked.
    void SetRows(std::vector<int> records);
    // Appends one unticked row for record `record`.
    void AppendRow(int record);
    void Clear() { SetRows({}); }

    int Count() const { return static_cast<int>(rows_.size()); }
    // The record the row at `position` stands for.
    int RecordAt(int position) const { return rows_[static_cast<std::size_t>(position)]; }
    // The record a cell of this model stands for, -1 for none.
    int RecordOf(const QModelIndex& index) const;

    bool Ticked(int position) const { return ticks_[static_cast<std::size_t>(position)]; }
    // Ticks or clears every row, as one change of the whole tick column.
    void SetAllTicks(bool ticked);
    // The ticked rows in their present order: where each is in the list, and
    // the record it stands for.
    struct TTickedRow {
        int Position;
        int Record;
    };
    std::vector<TTickedRow> TickedRows() const;

    // Sorts the rows by a column, stably: "Item Num" by number, the text columns
    // by the user's locale ignoring case, as CompareLocaleTextIgnoreCase orders
    // the texts shown; rows that compare equal keep their order. Ticks, the
    // current row and the selection go with their rows.
    void Sort(int column, bool ascending);

    // The record's text in a text column, as held by the record.
    static const std::string& Field(const TEmail& email, int column);

    // The decoded header texts of the records, by record index, shown in
    // place of the raw ones while set (null: the raw texts). The vector must
    // outlive its use here; records beyond its end show their raw texts.
    void SetDecoded(const std::vector<corvane::mail::TDecodedHeaders>* decoded);
    bool ShowsDecoded() const { return decoded_ != nullptr; }
    // The text a row of record `record` shows in a text column: the raw text,
    // or with decoded texts set the decoded one (the date in ISO 8601 where
    // it can be read, else the decoded Date text).
    QString DisplayText(int record, int column) const;

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const TEmailArray& emails_;
    const std::vector<corvane::mail::TDecodedHeaders>* decoded_ = nullptr;
    QIcon deletedIcon_;
    QIcon liveIcon_;
    std::vector<int> rows_;     // record index of each row, in display order
    std::vector<bool> ticks_;   // tick of each row, in display order
};
