#include "frmMainWindow/frmMainWindow.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontInfo>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QMetaObject>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "emailexport/emailexport.h"
#include "frmMainWindow/CorvaneApplication.h"
#include "maildecode/maildecode.h"
#include "outlookfile/outlookfile.h"
#include "platform/AnsiText.h"
#include "platform/Files.h"
#include "platform/MessagePump.h"
#include "platform/qt/Shell.h"
#include "waitfrm/waitfrm.h"

// Resources of a static library must be registered by hand.
static void InitMainWindowResources() { Q_INIT_RESOURCE(frmMainWindow); }

const char* const TfrmMain::kHelpUrl = "https://www.corvane.example/recovery/help.php";
const char* const TfrmMain::kOpenFolderSetting = "Folders/Open";
const char* const TfrmMain::kExportFolderSetting = "Folders/Export";

// The settings keys of "Decode Texts" and "Whole Messages".
static const char* const kDecodeTextsKey = "Settings/DecodeTexts";
static const char* const kWholeMessagesKey = "Settings/WholeMessages";

namespace {

// Grid lines between the cells of the message list.
class TGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        const QRect r = option.rect;
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }
};

// The message list's view. A change of the ticks of many rows at once (select
// and deselect all) changes no row's height and no text, and a change of the
// texts of many rows (decoded or raw) no height while every row has the first
// row's: repainting what is shown is all it takes, where the tree view would
// look at every changed row (a tenth of a second for a hundred thousand).
class TEmailListView : public QTreeView {
public:
    using QTreeView::QTreeView;

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) override {
        const bool ticks = roles == QList<int>{Qt::CheckStateRole};
        const bool texts = uniformRowHeights() && roles == QList<int>{Qt::DisplayRole};
        if (topLeft.row() == bottomRight.row() || (!ticks && !texts)) {
            QTreeView::dataChanged(topLeft, bottomRight, roles);
            return;
        }
        // The first row's texts set the height of every row.
        if (texts) QTreeView::dataChanged(topLeft, topLeft.siblingAtColumn(bottomRight.column()), roles);
        viewport()->update();
#if QT_CONFIG(accessibility)
        if (QAccessible::isActive()) {
            QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::DataChanged);
            event.setFirstRow(topLeft.row());
            event.setFirstColumn(topLeft.column());
            event.setLastRow(bottomRight.row());
            event.setLastColumn(bottomRight.column());
            QAccessible::updateAccessibility(&event);
        }
#endif
    }
};

// The engine's long loops run this while the wait window is shown.
void ProcessToolkitEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

QToolButton* MakeToolButton(QWidget* parent, const char* name, const QString& text, const QString& picture,
                            int left) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setIcon(QIcon(picture));
    button->setIconSize(QSize(48, 48));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFocusPolicy(Qt::NoFocus);
    button->setGeometry(left, 8, 100, 89);
    return button;
}

// The read's batch of chain text: a few megabytes, so that the wait window's
// events are processed often while a batch is gathered.
constexpr std::size_t kReadBatch = std::size_t{8} << 20;

// Frees a list a slice at a time from its end, each slice in an event of
// context's own: freeing a large list at once would hold the event loop for
// a noticeable time. Steps not yet run when context goes free it all then.
template <typename T>
void ReleaseStep(QObject* context, const std::shared_ptr<std::vector<T>>& held) {
    constexpr std::size_t kStep = 8192;
    held->erase(held->end() - static_cast<std::ptrdiff_t>(std::min(kStep, held->size())), held->end());
    if (!held->empty())
        QMetaObject::invokeMethod(context, [context, held] { ReleaseStep(context, held); }, Qt::QueuedConnection);
}

template <typename T>
void ReleaseInSteps(QObject* context, std::vector<T> items) {
    if (items.empty()) return;
    auto held = std::make_shared<std::vector<T>>(std::move(items));
    QMetaObject::invokeMethod(context, [context, held] { ReleaseStep(context, held); }, Qt::QueuedConnection);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint) {
    InitMainWindowResources();
    setObjectName("frmMain");
    setWindowTitle("Corvane DBX Recovery v3.0");
    setWindowIcon(QIcon(":/icons/program.svg"));
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    // Where the system lacks the font, its stand-in is narrowed to about the
    // same width, so that the captions fit their controls.
    if (QFontInfo(font).family() != font.family()) font.setStretch(88);
    setFont(font);

    ilIcons[IconDeletedMessage] = QIcon(":/icons/message_deleted.svg");
    ilIcons[IconLiveMessage] = QIcon(":/icons/message_live.svg");
    ilIcons[IconFolderFile] = QIcon(":/icons/folder_file.svg");
    ilIcons[IconTopNode] = QIcon(":/icons/top_folder.svg");

    createMenu();
    createControls();
    connectHandlers();

    ChooseDbxFile = [this]() -> QString {
        if (dlgOpenDbx == nullptr) {
            dlgOpenDbx = new QFileDialog(
                this, "Open Dbx File",
                TCorvaneApplication::RememberedFolder(kOpenFolderSetting, corvane::gui::OpenDialogStartFolder()),
                "DBX Mail File (*.dbx)");
            dlgOpenDbx->setObjectName("dlgOpenDbx");
            dlgOpenDbx->setAcceptMode(QFileDialog::AcceptOpen);
            // A typed name need not exist, nor its folder: the load reports it.
            dlgOpenDbx->setFileMode(QFileDialog::AnyFile);
            dlgOpenDbx->setSizeGripEnabled(true);
        }
        if (dlgOpenDbx->exec() != QDialog::Accepted) return {};
        const QStringList files = dlgOpenDbx->selectedFiles();
        return files.isEmpty() ? QString() : files.first();
    };

    const QString programFolder = QCoreApplication::applicationDirPath();
    HelpPageCandidates = {ToEnginePath(programFolder + "/../share/corvane-recovery/help.html"),
                          ToEnginePath(programFolder + "/help.html")};
    setAcceptDrops(true);

    FormCreate();
    LoadSettings();

    // Client area 906 x 553 below the menu bar; the window cannot be resized.
    setFixedSize(906, 553 + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

TfrmMain::~TfrmMain() {
    FormDestroy();
    // The rows read Emails, which goes before the controls do.
    FoundEmails->Clear();
}

void TfrmMain::createMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");
    File1 = MainMenu1->addMenu("File");
    File1->setObjectName("File1");
    mnuExportMbox = File1->addAction("Export Selected To Mbox File...");
    mnuExportMbox->setObjectName("mnuExportMbox");
    Exit1 = File1->addAction("Exit");
    Exit1->setObjectName("Exit1");
    Help1 = MainMenu1->addMenu("Help");
    Help1->setObjectName("Help1");
    mnuHelp = Help1->addAction("Corvane DBX Recovery Help");
    mnuHelp->setObjectName("mnuHelp");
    mnuHelp->setShortcut(QKeySequence(Qt::Key_F1));
}

void TfrmMain::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    client->setFixedSize(906, 553);
    setCentralWidget(client);

    sbAutoScan = MakeToolButton(client, "sbAutoScan", "Auto Scan For Files", ":/icons/autoscan.svg", 8);
    sbOpenDbx = MakeToolButton(client, "sbOpenDbx", "Open Dbx File", ":/icons/open.svg", 112);
    sbSelectAll = MakeToolButton(client, "sbSelectAll", "Quick Select All", ":/icons/select_all.svg", 216);
    sbDeselectAll = MakeToolButton(client, "sbDeselectAll", "Quick Deselect All", ":/icons/deselect_all.svg", 320);
    sbSaveEmail = MakeToolButton(client, "sbSaveEmail", "Export Selected", ":/icons/export.svg", 424);

    Filter = new QGroupBox("Filter Emails", client);
    Filter->setObjectName("Filter");
    Filter->setGeometry(528, 8, 177, 89);
    lblKeyword = new QLabel("Keyword", Filter);
    lblKeyword->setObjectName("lblKeyword");
    lblKeyword->setGeometry(8, 17, 161, 13);
    txtFilter = new QLineEdit(Filter);
    txtFilter->setObjectName("txtFilter");
    txtFilter->setGeometry(8, 32, 161, 21);
    lblKeyword->setBuddy(txtFilter);
    btnApplyFilter = new QPushButton("Apply", Filter);
    btnApplyFilter->setObjectName("btnApplyFilter");
    btnApplyFilter->setGeometry(64, 64, 50, 17);
    btnClearFilter = new QPushButton("Clear", Filter);
    btnClearFilter->setObjectName("btnClearFilter");
    btnClearFilter->setGeometry(120, 64, 50, 17);
    btnClearFilter->setEnabled(false);

    GroupBox1 = new QGroupBox("Settings", client);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(712, 8, 177, 89);
    cbdeletedemails = new QCheckBox("Include Deleted Emails", GroupBox1);
    cbdeletedemails->setObjectName("cbdeletedemails");
    cbdeletedemails->setGeometry(16, 20, 137, 17);
    cbwholemessages = new QCheckBox("Whole Messages", GroupBox1);
    cbwholemessages->setObjectName("cbwholemessages");
    cbwholemessages->setGeometry(16, 40, 137, 17);
    cbdecodetexts = new QCheckBox("Decode Texts", GroupBox1);
    cbdecodetexts->setObjectName("cbdecodetexts");
    cbdecodetexts->setGeometry(16, 60, 137, 17);

    tvFiles = new QTreeWidget(client);
    tvFiles->setObjectName("tvFiles");
    tvFiles->setGeometry(8, 104, 169, 441);
    tvFiles->setHeaderHidden(true);
    tvFiles->setColumnCount(1);
    tvFiles->setIndentation(19);
    tvFiles->setIconSize(QSize(16, 16));
    tvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    {
        // The selected node stays highlighted when the tree loses the focus.
        QPalette palette = tvFiles->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Active, QPalette::HighlightedText));
        tvFiles->setPalette(palette);
    }

    FoundEmails = new TEmailListModel(Emails, ilIcons[IconDeletedMessage], ilIcons[IconLiveMessage], this);
    FoundEmails->setObjectName("FoundEmails");
    lvFoundEmails = new TEmailListView(client);
    lvFoundEmails->setObjectName("lvFoundEmails");
    lvFoundEmails->setGeometry(192, 104, 705, 273);
    lvFoundEmails->setModel(FoundEmails);
    const int widths[ColumnCount] = {65, 150, 200, 200, 500};
    for (int c = 0; c < ColumnCount; ++c) lvFoundEmails->setColumnWidth(c, widths[c]);
    lvFoundEmails->header()->setStretchLastSection(false);
    // The list sorts through lvFoundEmailsColumnClick, not by itself; switching
    // the view's own sorting off also makes the headings unclickable, so first.
    lvFoundEmails->setSortingEnabled(false);
    lvFoundEmails->header()->setSectionsClickable(true);
    lvFoundEmails->header()->setSectionsMovable(false);
    lvFoundEmails->setRootIsDecorated(false);
    lvFoundEmails->setItemsExpandable(false);
    lvFoundEmails->setUniformRowHeights(true);
    lvFoundEmails->setAllColumnsShowFocus(true);
    lvFoundEmails->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFoundEmails->setSelectionMode(QAbstractItemView::SingleSelection);
    lvFoundEmails->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFoundEmails->setIconSize(QSize(16, 16));
    lvFoundEmails->setItemDelegate(new TGridDelegate(lvFoundEmails));

    txtmsgbody = new QTextEdit(client);
    txtmsgbody->setObjectName("txtmsgbody");
    txtmsgbody->setGeometry(192, 384, 705, 161);
    txtmsgbody->setAcceptRichText(false);
    txtmsgbody->setLineWrapMode(QTextEdit::NoWrap);
    txtmsgbody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtmsgbody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // Tab order: the list, the tree, the settings, the filter, the preview.
    setTabOrder(lvFoundEmails, tvFiles);
    setTabOrder(tvFiles, cbdeletedemails);
    setTabOrder(cbdeletedemails, cbwholemessages);
    setTabOrder(cbwholemessages, cbdecodetexts);
    setTabOrder(cbdecodetexts, txtFilter);
    setTabOrder(txtFilter, btnApplyFilter);
    setTabOrder(btnApplyFilter, btnClearFilter);
    setTabOrder(btnClearFilter, txtmsgbody);
}

void TfrmMain::connectHandlers() {
    connect(sbAutoScan, &QToolButton::clicked, this, [this] { Guarded([this] { sbAutoScanClick(); }); });
    connect(sbOpenDbx, &QToolButton::clicked, this, [this] { Guarded([this] { sbOpenDbxClick(); }); });
    connect(sbSelectAll, &QToolButton::clicked, this, [this] { Guarded([this] { sbSelectAllClick(); }); });
    connect(sbDeselectAll, &QToolButton::clicked, this, [this] { Guarded([this] { sbDeselectAllClick(); }); });
    connect(sbSaveEmail, &QToolButton::clicked, this, [this] { Guarded([this] { sbSaveEmailClick(); }); });
    connect(btnApplyFilter, &QPushButton::clicked, this, [this] { Guarded([this] { btnApplyFilterClick(); }); });
    connect(btnClearFilter, &QPushButton::clicked, this, [this] { Guarded([this] { btnClearFilterClick(); }); });
    connect(cbdeletedemails, &QCheckBox::clicked, this, [this] { Guarded([this] { cbdeletedemailsClick(); }); });
    connect(cbdecodetexts, &QCheckBox::clicked, this, [this] { Guarded([this] { cbdecodetextsClick(); }); });
    connect(cbwholemessages, &QCheckBox::clicked, this, [this] { Guarded([this] { cbwholemessagesClick(); }); });
    connect(lvFoundEmails->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { Guarded([this, column] { lvFoundEmailsColumnClick(column); }); });
    connect(mnuHelp, &QAction::triggered, this, [this] { Guarded([this] { mnuHelpClick(); }); });
    connect(mnuExportMbox, &QAction::triggered, this, [this] { Guarded([this] { mnuExportMboxClick(); }); });
    connect(Exit1, &QAction::triggered, this, [this] { Guarded([this] { Exit1Click(); }); });
    // Clicks anywhere in the tree and the list, also beside the nodes and rows.
    tvFiles->viewport()->installEventFilter(this);
    lvFoundEmails->viewport()->installEventFilter(this);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            if (watched == tvFiles->viewport()) {
                // Let the tree finish its own handling (selection, expansion) first.
                QMetaObject::invokeMethod(this, [this] { Guarded([this] { tvFilesClick(); }); }, Qt::QueuedConnection);
            } else if (watched == lvFoundEmails->viewport()) {
                QMetaObject::invokeMethod(this, [this] { Guarded([this] { lvFoundEmailsClick(); }); },
                                          Qt::QueuedConnection);
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // Long work runs nested event processing; the window stays until it ends.
    // Work that can stop is asked to, when the user wants that, and the
    // window closes once it has.
    if (busy_) {
        event->ignore();
        if (operation_ == nullptr || !operation_->IsCancellable() || closeAfterWork_) return;
        const QString question = "The work is still running. Stop it and close the window?";
        const bool stop = ConfirmCancelHook ? ConfirmCancelHook(question)
                                            : QMessageBox::question(this, TCorvaneApplication::kTitle, question) ==
                                                  QMessageBox::Yes;
        if (stop && operation_ != nullptr) {
            operation_->Cancel();
            closeAfterWork_ = true;
        }
        return;
    }
    closeAfterWork_ = false;
    QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------
// Handlers

void TfrmMain::FormCreate() {
    SystemFilesNode = new QTreeWidgetItem(tvFiles, QStringList{"System Files"});
    SystemFilesNode->setIcon(0, ilIcons[IconTopNode]);
    DbxFilesNode = new QTreeWidgetItem(tvFiles, QStringList{"Dbx Files"});
    DbxFilesNode->setIcon(0, ilIcons[IconTopNode]);
    // Qt paints every widget double-buffered already.
}

void TfrmMain::FormDestroy() {
    // Nothing of its own to release: the controls go with the window, and the
    // temporary message files stay on disk.
}

void TfrmMain::sbOpenDbxClick() {
    if (busy_) return;
    const QString chosen = ChooseDbxFile ? ChooseDbxFile() : QString();
    if (chosen.isEmpty()) return;
    TCorvaneApplication::RememberFolder(kOpenFolderSetting, QFileInfo(chosen).absolutePath());
    const std::string path = ToEnginePath(chosen);
    if (!corvane::mail::IsDbxPath(path)) return;
    addDbxFileNode(path);
    loadDbxFile(path);
}

void TfrmMain::addDbxFileNode(const std::string& path) {
    auto* node = new QTreeWidgetItem(DbxFilesNode, QStringList{FromEnginePath(path)});
    node->setIcon(0, ilIcons[IconFolderFile]);
    DbxFilesNode->setExpanded(true);
    tvFiles->setFocus();
    tvFiles->setCurrentItem(node);
}

int TfrmMain::OpenDbxFiles(const QStringList& paths) {
    if (busy_) return 0;
    std::vector<std::string> added;
    for (const QString& given : paths) {
        const std::string path = ToEnginePath(QFileInfo(given).absoluteFilePath());
        if (!corvane::mail::IsDbxPath(path)) continue;
        addDbxFileNode(path);
        added.push_back(path);
    }
    if (added.empty()) return 0;
    tvFiles->setCurrentItem(DbxFilesNode->child(DbxFilesNode->childCount() - static_cast<int>(added.size())));
    loadDbxFile(added.front());
    return static_cast<int>(added.size());
}

namespace {

// The local files a drag carries.
QStringList DraggedFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

bool HoldsDbxFile(const QStringList& files) {
    return std::any_of(files.begin(), files.end(),
                       [](const QString& f) { return corvane::mail::IsDbxPath(TfrmMain::ToEnginePath(f)); });
}

}  // namespace

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!busy_ && HoldsDbxFile(DraggedFiles(event->mimeData())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const QStringList files = DraggedFiles(event->mimeData());
    if (busy_ || !HoldsDbxFile(files)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // After the drop returns: the dragging program waits for it, and a load
    // runs its own event processing under the wait window.
    QMetaObject::invokeMethod(this, [this, files] { Guarded([this, &files] { OpenDbxFiles(files); }); },
                              Qt::QueuedConnection);
}

void TfrmMain::tvFilesClick() {
    const QList<QTreeWidgetItem*> selected = tvFiles->selectedItems();
    if (selected.isEmpty()) return;
    const QTreeWidgetItem* node = selected.first();
    if (node->parent() == nullptr) return;  // a top-level node
    loadDbxFile(ToEnginePath(node->text(0)));
}

void TfrmMain::cbdeletedemailsClick() {
    if (CurrentFile.empty()) return;
    try {
        loadDbxFile(CurrentFile);
    } catch (...) {
        // The rows still show the previous state of the box: put it back.
        const QSignalBlocker blocker(cbdeletedemails);
        cbdeletedemails->setChecked(!cbdeletedemails->isChecked());
        throw;
    }
}

void TfrmMain::cbdecodetextsClick() {
    SaveSettings();
    if (CurrentFile.empty()) return;
    try {
        // The filter searches decoded bodies only while the box is ticked:
        // with the filter on, the file is read again.
        if (FilterOn)
            loadDbxFile(CurrentFile);
        else
            ShowDecodedTexts();
    } catch (...) {
        // Failed or stopped, the rows still show the texts of the previous
        // state of the box: put it back.
        const QSignalBlocker blocker(cbdecodetexts);
        cbdecodetexts->setChecked(!cbdecodetexts->isChecked());
        SaveSettings();
        throw;
    }
}

void TfrmMain::cbwholemessagesClick() {
    SaveSettings();
    if (CurrentFile.empty()) return;
    try {
        loadDbxFile(CurrentFile);
    } catch (...) {
        // The rows still show the previous state of the box: put it back.
        const QSignalBlocker blocker(cbwholemessages);
        cbwholemessages->setChecked(!cbwholemessages->isChecked());
        SaveSettings();
        throw;
    }
}

void TfrmMain::ShowDecodedTexts() {
    std::vector<corvane::mail::TDecodedHeaders> decoded;
    if (cbdecodetexts->isChecked() && !Emails.empty()) {
        // A read of every message file: long work for a large list.
        TLongOperation operation(*this, TLongOperation::Cancellable | TLongOperation::Delayed | TLongOperation::ShowsShare);
        decoded = corvane::mail::DecodeRecordHeaders(Emails, &operation);
    }
    ShowDecoded(std::move(decoded));
}

void TfrmMain::ShowDecoded(std::vector<corvane::mail::TDecodedHeaders> decoded) {
    FoundEmails->SetDecoded(nullptr);
    ReleaseInSteps(this, std::exchange(DecodedHeaders, std::move(decoded)));
    if (cbdecodetexts->isChecked()) FoundEmails->SetDecoded(&DecodedHeaders);
}

QString TfrmMain::PreviewText(const TEmail& email) const {
    if (!cbdecodetexts->isChecked()) {
        // The text and its closing line break in one piece: for a body of
        // many megabytes every extra copy counts.
        std::string text = corvane::mail::ReadMessageBody(email);
        text += '\n';
        return AnsiToDisplay(text);
    }
    const corvane::mail::TDecodedMessage decoded = corvane::mail::DecodeMessage(corvane::mail::ReadMessageText(email));
    QString text = QString::fromStdString(decoded.Body);
    if (!text.endsWith('\n')) text += '\n';
    if (!decoded.Attachments.empty()) {
        text += "\nAttachments:\n";
        for (const corvane::mail::TAttachment& a : decoded.Attachments)
            text += QString("  %1  (%2, %3 bytes)\n")
                        .arg(a.Name.empty() ? QString("(no name)") : QString::fromStdString(a.Name),
                             QString::fromStdString(a.Type), QString::number(a.Size));
    }
    return text;
}

void TfrmMain::LoadSettings() {
    const std::unique_ptr<QSettings> settings =
        SettingsFile.isEmpty() ? std::make_unique<QSettings>() : std::make_unique<QSettings>(SettingsFile, QSettings::IniFormat);
    const QSignalBlocker blocker(cbdecodetexts);
    cbdecodetexts->setChecked(settings->value(kDecodeTextsKey, false).toBool());
    const QSignalBlocker wholeBlocker(cbwholemessages);
    cbwholemessages->setChecked(settings->value(kWholeMessagesKey, false).toBool());
    ShowDecodedTexts();
}

void TfrmMain::SaveSettings() const {
    const std::unique_ptr<QSettings> settings =
        SettingsFile.isEmpty() ? std::make_unique<QSettings>() : std::make_unique<QSettings>(SettingsFile, QSettings::IniFormat);
    settings->setValue(kDecodeTextsKey, cbdecodetexts->isChecked());
    settings->setValue(kWholeMessagesKey, cbwholemessages->isChecked());
}

void TfrmMain::btnApplyFilterClick() {
    if (busy_ || txtFilter->text().isEmpty()) return;
    SwitchFilter(true);
}

void TfrmMain::btnClearFilterClick() {
    if (busy_) return;
    SwitchFilter(false);
}

void TfrmMain::ShowFilterState(bool on) {
    FilterOn = on;
    btnApplyFilter->setEnabled(!on);
    btnClearFilter->setEnabled(on);
}

void TfrmMain::SwitchFilter(bool on) {
    ShowFilterState(on);
    try {
        loadDbxFile(CurrentFile);
    } catch (...) {
        // The rows still show the previous filter state: put it back.
        ShowFilterState(!on);
        throw;
    }
    txtFilter->setEnabled(!on);
}

void TfrmMain::mnuHelpClick() {
    for (const std::string& page : HelpPageCandidates) {
        const QString path = FromEnginePath(page);
        if (QFileInfo(path).isFile()) {
            corvane::gui::OpenWebPage(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString().toStdString());
            return;
        }
    }
    corvane::gui::OpenWebPage(kHelpUrl);
}

void TfrmMain::Exit1Click() { close(); }

// ---------------------------------------------------------------------------
// Loading and listing

TfrmMain::TLongOperation::TLongOperation(TfrmMain& owner, unsigned options)
    : owner_(owner), options_(options), started_(std::chrono::steady_clock::now()) {
    owner_.busy_ = true;
    owner_.operation_ = this;
    if ((options_ & Delayed) == 0) ShowWaitWindow();
}

void TfrmMain::TLongOperation::ShowWaitWindow() {
    wait_ = new TfrmWait(&owner_);
    wait_->SetCancellable(IsCancellable());
    wait_->show();
    owner_.setEnabled(false);
    previousPump_ = corvane::pump::SetHandler(&ProcessToolkitEvents);
    pumping_ = true;
    // Paint both windows before the work goes on.
    corvane::pump::ProcessNow();
}

void TfrmMain::TLongOperation::Report(const char* Stage, std::int64_t Done, std::int64_t Total) {
    if (!pastScanning_ && std::strncmp(Stage, "Scanning", 8) != 0) pastScanning_ = true;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastEvents_ < std::chrono::milliseconds(15)) return;
    lastEvents_ = now;
    if (wait_ == nullptr) {
        if (now - started_ < kWaitWindowDelay) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            return;
        }
        ShowWaitWindow();
    }
    if ((options_ & ShowsShare) != 0) wait_->ShowShare(Done, Total);
    ProcessToolkitEvents();
}

bool TfrmMain::TLongOperation::StopRequested() {
    return cancelled_ || (wait_ != nullptr && wait_->CancelRequested());
}

TfrmMain::TLongOperation::~TLongOperation() {
    if (pumping_) corvane::pump::SetHandler(previousPump_);
    if (wait_ != nullptr) {
        wait_->close();
        delete wait_;
    }
    owner_.setEnabled(true);
    owner_.busy_ = false;
    owner_.operation_ = nullptr;
    if (owner_.closeAfterWork_) {
        TfrmMain* window = &owner_;
        QMetaObject::invokeMethod(window, [window] { window->close(); }, Qt::QueuedConnection);
    }
}

void TfrmMain::loadDbxFile(const std::string& path) {
    if (path.empty()) return;
    if (busy_) return;  // a load or search is running further up this stack

    TEmailArray found;
    std::vector<std::size_t> shown;
    std::vector<corvane::mail::TDecodedHeaders> decoded;
    const bool deleted = cbdeletedemails->isChecked();
    const bool decode = cbdecodetexts->isChecked();
    bool rewrite = false;
    try {
        TLongOperation operation(*this, TLongOperation::Cancellable);
        try {
            Toutlookfile reader;
            reader.SetWriteBatch(kReadBatch);
            found = reader.GetEmails(path, deleted, &operation, cbwholemessages->isChecked());

            // Decide the rows before anything changes, so that a message file
            // that cannot be read, or a stop, leaves the previous file's state
            // whole.
            operation.ShowShareOnBar();
            shown = decode ? corvane::mail::ShownDecodedRecords(
                                 found, FilterOn,
                                 {FilterOn ? DisplayToAnsi(txtFilter->text()) : std::string(), txtFilter->text().toStdString()},
                                 &operation)
                           : corvane::mail::ShownRecords(found, FilterOn,
                                                         FilterOn ? DisplayToAnsi(txtFilter->text()) : std::string(), &operation);
            if (decode) decoded = corvane::mail::DecodeRecordHeaders(found, &operation);
        } catch (...) {
            // The message files share their names between reads: once this
            // read has written some, those of the list shown may be gone.
            rewrite = operation.PastScanning() && path != CurrentFile && !Emails.empty();
            throw;
        }
    } catch (...) {
        if (rewrite && !closeAfterWork_) {
            try {
                RewriteMessageFiles();
            } catch (...) {
                // Rows whose texts are gone must not stay: an empty list
                // rather than other messages' texts under their names.
                FoundEmails->Clear();
                CurrentFile.clear();
                ReleaseInSteps(this, std::exchange(Emails, {}));
                ShowDecoded({});
            }
        }
        throw;
    }

    // The old rows go before the records they stand for; the old records and
    // texts are freed in steps after the new rows are shown.
    FoundEmails->Clear();
    CurrentFile = path;
    currentDeleted_ = deleted;
    ReleaseInSteps(this, std::exchange(Emails, std::move(found)));
    ShowDecoded(std::move(decoded));
    listEmails(std::vector<int>(shown.begin(), shown.end()));
}

void TfrmMain::RewriteMessageFiles() {
    // Not to be stopped: the list would point into other messages' texts.
    if (CurrentFile.empty()) return;
    TLongOperation operation(*this);
    Toutlookfile reader;
    static_cast<void>(reader.GetEmails(CurrentFile, currentDeleted_, &operation));
}

void TfrmMain::listEmails(std::vector<int> shown) {
    FoundEmails->SetRows(std::move(shown));
    scrollPending_ = true;
    scrollToPendingRow();
}

void TfrmMain::addEmailRow(int index) {
    FoundEmails->AppendRow(index);
    // Bringing a row into view lays out the whole list; done once for the
    // last added row, when the filling is over or control returns to the loop.
    scrollPending_ = true;
    if (!scrollQueued_) {
        scrollQueued_ = true;
        QMetaObject::invokeMethod(this, [this] { scrollToPendingRow(); }, Qt::QueuedConnection);
    }
}

void TfrmMain::scrollToPendingRow() {
    scrollQueued_ = false;
    if (!scrollPending_) return;
    scrollPending_ = false;
    const int rows = FoundEmails->Count();
    if (rows > 0) lvFoundEmails->scrollTo(FoundEmails->index(rows - 1, ColItemNum));
}

// ---------------------------------------------------------------------------
// Helpers

int TfrmMain::RowIndex(const QModelIndex& row) const { return FoundEmails->RecordOf(row); }

std::string TfrmMain::ToEnginePath(const QString& path) {
    return QFile::encodeName(QDir::toNativeSeparators(path)).toStdString();
}

QString TfrmMain::FromEnginePath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString TfrmMain::AnsiToDisplay(const std::string& bytes) {
    // Plain ASCII reads the same in every ANSI code page: skip the detour
    // through UTF-8 for it (most header lines are).
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return QString::fromStdString(corvane::ansi::ToUtf8(bytes));
}

std::string TfrmMain::DisplayToAnsi(const QString& text) { return corvane::ansi::FromUtf8(text.toStdString()); }
