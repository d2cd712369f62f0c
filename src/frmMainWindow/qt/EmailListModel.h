#pragma once
// The message list's rows as the view reads them: the session's rows, each
// standing for one record by its index, with its tick. The texts come from
// the session when the view asks for them, so a row costs the view nothing
// however long its texts are.

#include <QAbstractTableModel>
#include <QIcon>

#include <cstddef>
#include <functional>
#include <vector>

#include "mailsession/MailSession.h"

class TEmailListModel : public QAbstractTableModel {
public:
    // The session must outlive the model; deletedIcon and liveIcon are shared
    // by all rows.
    TEmailListModel(const corvane::session::TMailSession& session, QIcon deletedIcon, QIcon liveIcon,
                    QObject* parent = nullptr);

    // The session's rows were replaced: the view reads them anew.
    void Reset();
    // The texts of the cells changed (decoded or raw).
    void TextsChanged();
    // Every tick changed, as one change of the whole tick column.
    void TicksChanged();
    // Runs sortRows, which sorts the session's rows and gives for each row's
    // old position its new one; the view's current row and selection go with
    // their rows.
    void Sort(const std::function<std::vector<std::size_t>()>& sortRows);

    int Count() const { return static_cast<int>(session_.RowCount()); }
    // The record a cell stands for, -1 for none.
    int RecordOf(const QModelIndex& index) const;

    // Set by the window: a tick the view changes goes to the session.
    std::function<void(std::size_t row, bool ticked)> SetTick;

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    bool Valid(const QModelIndex& index) const;

    const corvane::session::TMailSession& session_;
    QIcon deletedIcon_;
    QIcon liveIcon_;
};
