#pragma once
// Shared by the window's selection and export tests: a private temporary
// folder, message files written as the folder reader writes them (raw message
// texts end to end, CR LF lines), their summary records, and the mouse
// actions on the message list.

#include <QApplication>
#include <QHeaderView>
#include <QStringList>
#include <QIcon>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <initializer_list>
#include <string>
#include <vector>

#include <unistd.h>

#include "Globals/Globals.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "frmMainWindow/qt/frmMainWindow.h"
#include "platform/AnsiText.h"
#include "platform/Files.h"
#include "support/MessageFiles.h"

namespace fixture {

namespace stdfs = std::filesystem;

// A folder of this test program's own, made the user's temporary folder
// (TMPDIR) and the home of the settings kept between runs (XDG_CONFIG_HOME)
// for the whole run, and removed at its end.
class TPrivateTempDir {
public:
    TPrivateTempDir() {
        std::string templ = (stdfs::temp_directory_path() / "corvane-window-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) std::abort();
        path_ = templ;
        ::setenv("TMPDIR", path_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
    }
    ~TPrivateTempDir() {
        std::error_code ec;
        stdfs::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A fresh, empty folder below the private temporary folder.
inline std::string NewFolder(const std::string& name) {
    const stdfs::path dir = stdfs::path(std::getenv("TMPDIR")) / name;
    std::error_code ec;
    stdfs::remove_all(dir, ec);
    stdfs::create_directories(dir);
    return dir.string();
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using corvane::testsupport::TMessage;
using corvane::testsupport::SomeMessages;
using corvane::testsupport::Stretch;

// Writes the messages end to end into the message file `name` of the
// temporary folder and returns their records (support/MessageFiles.h).
inline TEmailArray WriteMessageFile(const std::string& name, const std::vector<TMessage>& messages) {
    return corvane::testsupport::WriteMessageFile(corvane::fs::TempPath() + name, messages);
}

// Makes `emails` the window's records and lists the rows of `order` (every
// record in index order when empty), as a load or a filter leaves them.
inline void ShowRecords(TfrmMain& w, const TEmailArray& emails, std::vector<int> order = {}) {
    w.Session.ShowRecords(emails, std::move(order));
    w.ShowSession();
}

// The record a row of the list stands for.
inline const TEmail& RecordOfRow(const TfrmMain& w, int row) { return w.Session.RecordOfRow(static_cast<std::size_t>(row)); }

// The rows of the message list as the view reads them, by position from the top.
inline int RowCount(const TfrmMain& w) { return w.lvFoundEmails->model()->rowCount(); }

inline QModelIndex Cell(const TfrmMain& w, int row, int c) { return w.lvFoundEmails->model()->index(row, c); }

inline QString Text(const TfrmMain& w, int row, int c) { return Cell(w, row, c).data(Qt::DisplayRole).toString(); }

inline Qt::CheckState CheckState(const TfrmMain& w, int row) {
    return static_cast<Qt::CheckState>(Cell(w, row, 0).data(Qt::CheckStateRole).toInt());
}

// Sets a tick as the view does when its box is clicked.
inline void SetCheckState(TfrmMain& w, int row, Qt::CheckState state) {
    w.lvFoundEmails->model()->setData(Cell(w, row, 0), state, Qt::CheckStateRole);
}

// Ticks the rows at these positions.
inline void Tick(TfrmMain& w, std::initializer_list<int> positions) {
    for (int row : positions) SetCheckState(w, row, Qt::Checked);
}

inline QIcon RowIcon(const TfrmMain& w, int row) { return qvariant_cast<QIcon>(Cell(w, row, 0).data(Qt::DecorationRole)); }

// Texts of column c, row by row from the top.
inline QStringList Column(const TfrmMain& w, int c) {
    QStringList texts;
    for (int i = 0; i < RowCount(w); ++i) texts << Text(w, i, c);
    return texts;
}

// The position of the row numbered k, -1 when there is none.
inline int RowNumbered(const TfrmMain& w, int k) {
    for (int i = 0; i < RowCount(w); ++i)
        if (Text(w, i, 0) == QString::number(k)) return i;
    return -1;
}

// The numbers ("Item Num") of the selected rows.
inline QStringList SelectedNumbers(const TfrmMain& w) {
    QStringList numbers;
    for (const QModelIndex& row : w.lvFoundEmails->selectionModel()->selectedRows(0)) numbers << row.data().toString();
    return numbers;
}

// A mouse click on a column heading.
inline void ClickHeading(TfrmMain& w, int c) {
    QHeaderView* header = w.lvFoundEmails->header();
    const int left = header->sectionViewportPosition(c);
    const int visible = std::min(header->sectionSize(c), header->viewport()->width() - left);
    const QPoint at(left + visible / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// A mouse click on the middle of a row's Date cell (away from its tick box).
inline void ClickRow(TfrmMain& w, int row) {
    w.lvFoundEmails->scrollTo(Cell(w, row, 0));
    const QRect cell = w.lvFoundEmails->visualRect(Cell(w, row, 0));
    QHeaderView* header = w.lvFoundEmails->header();
    const QPoint at(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, cell.center().y());
    QTest::mouseClick(w.lvFoundEmails->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// The text the preview shows for a stretch of message text: the box keeps
// lines, so a CR LF reads back as one line break.
inline QString AsPreview(const std::string& bytes) {
    QString text = QString::fromStdString(corvane::ansi::ToUtf8(bytes));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text + QLatin1Char('\n');
}

// Answers the next modal dialog of type T once it is up: a timer of no
// interval looks at each pass of the event loop (no time is involved) until
// it finds one, hands it to answer and stops.
template <typename T>
void AnswerNextModal(QObject* context, std::function<void(T*)> answer) {
    auto* look = new QTimer(context);
    look->setInterval(0);
    QObject::connect(look, &QTimer::timeout, context, [look, answer = std::move(answer)] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        look->stop();
        look->deleteLater();
        answer(dialog);
    });
    look->start();
}

}  // namespace fixture

// main() of a window test program: the private temporary folder first, the
// offscreen platform unless another is asked for, then the application with
// the program's own top-level error handling.
#define CORVANE_WINDOW_TEST_MAIN(TestClass)                                  \
    int main(int argc, char** argv) {                                        \
        fixture::TPrivateTempDir tempDir;                                    \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                  \
            qputenv("QT_QPA_PLATFORM", "offscreen");                         \
        TCorvaneApplication app(argc, argv);                                 \
        TestClass tc;                                                        \
        return QTest::qExec(&tc, argc, argv);                                \
    }
