#include "frmMainWindow/qt/frmMainWindow.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

#include "emailexport/emailexport.h"
#include "frmMainWindow/qt/CorvaneApplication.h"
#include "mailsession/SessionTexts.h"
#include "platform/qt/Shell.h"
#include "waitfrm/waitfrm.h"

// Resources of a static library must be registered by hand.
static void InitMainWindowResources() { Q_INIT_RESOURCE(frmMainWindow); }

namespace texts = corvane::session::texts;
using corvane::session::TLongWork;
using corvane::session::TMailSession;

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
// A move of the current row by the keyboard is told (it previews the row).
class TEmailListView : public QTreeView {
public:
    using QTreeView::QTreeView;
    std::function<void()> KeyboardMovedCurrent;

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
    void keyPressEvent(QKeyEvent* event) override {
        const int before = currentIndex().row();
        QTreeView::keyPressEvent(event);
        if (currentIndex().row() != before && KeyboardMovedCurrent) KeyboardMovedCurrent();
    }
};

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

std::unique_ptr<QSettings> OpenSettings(const QString& file) {
    return file.isEmpty() ? std::make_unique<QSettings>() : std::make_unique<QSettings>(file, QSettings::IniFormat);
}

}  // namespace

std::optional<std::string> TQtSettingsStore::Get(const std::string& key) const {
    const QVariant value = OpenSettings(File)->value(QString::fromStdString(key));
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

void TQtSettingsStore::Set(const std::string& key, const std::string& value) {
    OpenSettings(File)->setValue(QString::fromStdString(key), QString::fromStdString(value));
}

// ---------------------------------------------------------------------------
// Construction

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint),
      Session(collation_, &Settings) {
    InitMainWindowResources();
    setObjectName("frmMain");
    setWindowTitle(texts::kMainCaption);
    setWindowIcon(QIcon(":/icons/program.svg"));
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    // Where the system lacks the font, its stand-in is narrowed to about the
    // same width, so that the captions fit their controls.
    if (QFontInfo(font).family() != font.family()) font.setStretch(88);
    setFont(font);

    ilIcons[corvane::session::IconDeletedMessage] = QIcon(":/icons/message_deleted.svg");
    ilIcons[corvane::session::IconLiveMessage] = QIcon(":/icons/message_live.svg");
    ilIcons[corvane::session::IconFolderFile] = QIcon(":/icons/folder_file.svg");
    ilIcons[corvane::session::IconTopNode] = QIcon(":/icons/top_folder.svg");

    // Old lists are freed in pieces, each in an event of its own.
    Session.SetPost([this](std::function<void()> work) {
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
    });

    createMenu();
    createControls();
    connectHandlers();

    ChooseStoreFolder = [this]() -> QString {
        return QFileDialog::getExistingDirectory(
            this, texts::kOpenStoreDialogTitle,
            FromEnginePath(Session.RememberedFolder(corvane::session::kOpenFolderSetting,
                                                    ToEnginePath(corvane::gui::OpenDialogStartFolder()))));
    };
    ChooseDiskImage = [this]() -> QString {
        const QString patterns = QString::fromStdString(corvane::session::TMailSession::DiskImagePatterns()).replace(';', ' ');
        return QFileDialog::getOpenFileName(
            this, texts::kRecoverImageDialogTitle,
            FromEnginePath(Session.RememberedFolder(corvane::session::kOpenFolderSetting,
                                                    ToEnginePath(corvane::gui::OpenDialogStartFolder()))),
            QString("%1 (%2);;%3 (*)").arg(texts::kDiskImageFileType, patterns, texts::kAllFilesType));
    };
    ChooseRecoveryFolder = [this]() -> QString {
        return QFileDialog::getExistingDirectory(
            this, texts::kRecoverFolderTitle,
            FromEnginePath(Session.RememberedFolder(corvane::session::kExportFolderSetting, {})));
    };
    ChooseDbxFile = [this]() -> QString {
        if (dlgOpenDbx == nullptr) {
            dlgOpenDbx = new QFileDialog(
                this, texts::kOpenDialogTitle,
                FromEnginePath(Session.RememberedFolder(corvane::session::kOpenFolderSetting,
                                                        ToEnginePath(corvane::gui::OpenDialogStartFolder()))),
                QString("%1 (%2)").arg(texts::kDbxFileType, texts::kDbxPattern));
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
    // The status line below it tells what the folder file's index lacks.
    setFixedSize(906, 553 + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

TfrmMain::~TfrmMain() {
    FormDestroy();
    // The rows read the session, which goes before the controls do.
    lvFoundEmails->setModel(nullptr);
    delete FoundEmails;
}

void TfrmMain::createMenu() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");
    File1 = MainMenu1->addMenu(texts::kFileMenu);
    File1->setObjectName("File1");
    mnuOpenStore = File1->addAction(texts::kOpenStoreMenu);
    mnuOpenStore->setObjectName("mnuOpenStore");
    mnuRecoverImage = File1->addAction(texts::kRecoverImageMenu);
    mnuRecoverImage->setObjectName("mnuRecoverImage");
    mnuExportMbox = File1->addAction(texts::kExportMboxMenu);
    mnuExportMbox->setObjectName("mnuExportMbox");
    Exit1 = File1->addAction(texts::kExitMenu);
    Exit1->setObjectName("Exit1");
    Help1 = MainMenu1->addMenu(texts::kHelpMenu);
    Help1->setObjectName("Help1");
    mnuHelp = Help1->addAction(texts::kHelpEntry);
    mnuHelp->setObjectName("mnuHelp");
    mnuHelp->setShortcut(QKeySequence(Qt::Key_F1));
}

void TfrmMain::createControls() {
    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    client->setFixedSize(906, 553);
    setCentralWidget(client);

    sbAutoScan = MakeToolButton(client, "sbAutoScan", texts::kAutoScan, ":/icons/autoscan.svg", 8);
    sbOpenDbx = MakeToolButton(client, "sbOpenDbx", texts::kOpenDbx, ":/icons/open.svg", 112);
    sbSelectAll = MakeToolButton(client, "sbSelectAll", texts::kSelectAll, ":/icons/select_all.svg", 216);
    sbDeselectAll = MakeToolButton(client, "sbDeselectAll", texts::kDeselectAll, ":/icons/deselect_all.svg", 320);
    sbSaveEmail = MakeToolButton(client, "sbSaveEmail", texts::kSaveEmail, ":/icons/export.svg", 424);

    Filter = new QGroupBox(texts::kFilterGroup, client);
    Filter->setObjectName("Filter");
    Filter->setGeometry(528, 8, 177, 89);
    lblKeyword = new QLabel(texts::kKeyword, Filter);
    lblKeyword->setObjectName("lblKeyword");
    lblKeyword->setGeometry(8, 17, 161, 13);
    txtFilter = new QLineEdit(Filter);
    txtFilter->setObjectName("txtFilter");
    txtFilter->setGeometry(8, 32, 161, 21);
    lblKeyword->setBuddy(txtFilter);
    btnApplyFilter = new QPushButton(texts::kApply, Filter);
    btnApplyFilter->setObjectName("btnApplyFilter");
    btnApplyFilter->setGeometry(64, 64, 50, 17);
    btnClearFilter = new QPushButton(texts::kClear, Filter);
    btnClearFilter->setObjectName("btnClearFilter");
    btnClearFilter->setGeometry(120, 64, 50, 17);
    btnClearFilter->setEnabled(false);

    GroupBox1 = new QGroupBox(texts::kSettingsGroup, client);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(712, 8, 177, 89);
    cbdeletedemails = new QCheckBox(texts::kIncludeDeleted, GroupBox1);
    cbdeletedemails->setObjectName("cbdeletedemails");
    cbdeletedemails->setGeometry(16, 20, 137, 17);
    cbwholemessages = new QCheckBox(texts::kWholeMessages, GroupBox1);
    cbwholemessages->setObjectName("cbwholemessages");
    cbwholemessages->setGeometry(16, 40, 137, 17);
    cbdecodetexts = new QCheckBox(texts::kDecodeTexts, GroupBox1);
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

    FoundEmails = new TEmailListModel(Session, ilIcons[corvane::session::IconDeletedMessage],
                                      ilIcons[corvane::session::IconLiveMessage], this);
    FoundEmails->setObjectName("FoundEmails");
    FoundEmails->SetTick = [this](std::size_t row, bool ticked) { Session.SetTicked(row, ticked); };
    auto* view = new TEmailListView(client);
    view->KeyboardMovedCurrent = [this] { Guarded([this] { lvFoundEmailsClick(); }); };
    lvFoundEmails = view;
    lvFoundEmails->setObjectName("lvFoundEmails");
    lvFoundEmails->setGeometry(192, 104, 705, 273);
    lvFoundEmails->setModel(FoundEmails);
    for (int c = 0; c < corvane::session::ColumnCount; ++c)
        lvFoundEmails->setColumnWidth(c, corvane::session::kColumnWidths[c]);
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
    lvFoundEmails->installEventFilter(this);

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
    // Enter in "Keyword" applies the filter, as Apply does.
    connect(txtFilter, &QLineEdit::returnPressed, this, [this] { Guarded([this] { btnApplyFilterClick(); }); });
    connect(cbdeletedemails, &QCheckBox::clicked, this, [this] { Guarded([this] { cbdeletedemailsClick(); }); });
    connect(cbdecodetexts, &QCheckBox::clicked, this, [this] { Guarded([this] { cbdecodetextsClick(); }); });
    connect(cbwholemessages, &QCheckBox::clicked, this, [this] { Guarded([this] { cbwholemessagesClick(); }); });
    connect(lvFoundEmails->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { Guarded([this, column] { lvFoundEmailsColumnClick(column); }); });
    connect(mnuHelp, &QAction::triggered, this, [this] { Guarded([this] { mnuHelpClick(); }); });
    connect(mnuExportMbox, &QAction::triggered, this, [this] { Guarded([this] { mnuExportMboxClick(); }); });
    connect(mnuOpenStore, &QAction::triggered, this, [this] { Guarded([this] { mnuOpenStoreClick(); }); });
    connect(mnuRecoverImage, &QAction::triggered, this, [this] { Guarded([this] { mnuRecoverImageClick(); }); });
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
    } else if (event->type() == QEvent::KeyPress && watched == lvFoundEmails) {
        // Space ticks or clears the current row, whichever cell has the focus.
        const auto* key = static_cast<QKeyEvent*>(event);
        const QModelIndex current = lvFoundEmails->currentIndex();
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && current.isValid()) {
            const QModelIndex box = current.siblingAtColumn(corvane::session::ColItemNum);
            const bool ticked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            FoundEmails->setData(box, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
            return true;
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
        const QString question = texts::kStopAndClose;
        const bool stop = ConfirmCancelHook ? ConfirmCancelHook(question)
                                            : QMessageBox::question(this, texts::kApplicationTitle, question) ==
                                                  QMessageBox::Yes;
        if (stop && operation_ != nullptr) {
            operation_->Cancel();
            closeAfterWork_ = true;
            Session.SetClosing(true);
        }
        return;
    }
    closeAfterWork_ = false;
    QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------
// Showing the session

void TfrmMain::ShowTree() {
    const corvane::session::TFileTree& tree = Session.Tree();
    QTreeWidgetItem* last = nullptr;
    for (auto node = static_cast<int>(TreeNodes.size()); node < static_cast<int>(tree.Count()); ++node) {
        const corvane::session::TTreeNode& n = tree.Node(node);
        auto* item = n.Parent < 0 ? new QTreeWidgetItem(tvFiles, QStringList{FromEnginePath(n.Text)})
                                  : new QTreeWidgetItem(TreeNodes.at(static_cast<std::size_t>(n.Parent)),
                                                        QStringList{FromEnginePath(n.Text)});
        item->setIcon(0, ilIcons[n.Icon]);
        item->setData(0, Qt::UserRole, node);
        TreeNodes.push_back(item);
        last = item;
    }
    if (last != nullptr && last->parent() != nullptr) last->parent()->setExpanded(true);
}

void TfrmMain::ShowOptions() {
    const corvane::session::TViewOptions& o = Session.Options();
    const QSignalBlocker deleted(cbdeletedemails), decode(cbdecodetexts), whole(cbwholemessages);
    cbdeletedemails->setChecked(o.IncludeDeleted);
    cbdecodetexts->setChecked(o.DecodeTexts);
    cbwholemessages->setChecked(o.WholeMessages);
    btnApplyFilter->setEnabled(!o.FilterOn);
    btnClearFilter->setEnabled(o.FilterOn);
    txtFilter->setEnabled(!o.FilterOn);
}

void TfrmMain::ShowSession() {
    ShowOptions();
    ShowTree();
    statusBar()->showMessage(FromEngineText(Session.IndexStatus()));
    if (Session.RowsVersion() != shownRows_) {
        FoundEmails->Reset();
        ScrollToLastRow();
    } else if (Session.TextsVersion() != shownTexts_) {
        FoundEmails->TextsChanged();
    }
    shownRows_ = Session.RowsVersion();
    shownTexts_ = Session.TextsVersion();
}

void TfrmMain::ScrollToLastRow() {
    // When the list has been filled it shows its last rows.
    const int rows = FoundEmails->Count();
    if (rows > 0) lvFoundEmails->scrollTo(FoundEmails->index(rows - 1, corvane::session::ColItemNum));
}

void TfrmMain::RunSessionWork(unsigned options, const std::function<void(corvane::TProgress&)>& work) {
    // What the user must hear once of the work (a temporary folder that
    // serves instead of the usual one), whatever the work's end.
    const auto tell = [this] {
        if (const std::string notice = Session.TakeNotice(); !notice.empty())
            ShowOutcome({corvane::session::TOutcome::Information, notice});
    };
    try {
        TLongOperation operation(*this, options);
        work(operation);
    } catch (...) {
        ShowSession();
        tell();
        throw;
    }
    ShowSession();
    tell();
}

void TfrmMain::ShowOutcome(const corvane::session::TOutcome& outcome) {
    if (outcome.Box == corvane::session::TOutcome::None || ClosingAfterWork()) return;
    const QString text = FromEngineText(outcome.Text);
    if (outcome.Box == corvane::session::TOutcome::Error) {
        TCorvaneApplication::ShowError(text);
        return;
    }
    if (InformationBoxHook) {
        InformationBoxHook(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, texts::kApplicationTitle, text, QMessageBox::Ok, this);
    box.setObjectName("InformationBox");
    box.exec();
}

// ---------------------------------------------------------------------------
// Handlers

void TfrmMain::FormCreate() {
    // The two top-level nodes come from the session's tree. Qt paints every
    // widget double-buffered already.
    ShowTree();
    SystemFilesNode = TreeNodes.at(corvane::session::TFileTree::kSystemFiles);
    DbxFilesNode = TreeNodes.at(corvane::session::TFileTree::kDbxFiles);
}

void TfrmMain::FormDestroy() {
    // Nothing of its own to release: the controls go with the window, and the
    // temporary message files stay on disk.
}

void TfrmMain::sbOpenDbxClick() {
    if (busy_) return;
    const QString chosen = ChooseDbxFile ? ChooseDbxFile() : QString();
    if (chosen.isEmpty()) return;
    Session.RememberFolder(corvane::session::kOpenFolderSetting, ToEnginePath(QFileInfo(chosen).absolutePath()));
    OpenDbxFiles({chosen});
}

// A store folder's folders under "Dbx Files"; the first folder with a
// folder file is selected and loaded.
void TfrmMain::mnuOpenStoreClick() {
    if (busy_) return;
    const QString chosen = ChooseStoreFolder ? ChooseStoreFolder() : QString();
    if (chosen.isEmpty()) return;
    const std::string folder = ToEnginePath(QFileInfo(chosen).absoluteFilePath());
    Session.RememberFolder(corvane::session::kOpenFolderSetting, folder);
    const std::vector<int> added = Session.AddStoreFolder(folder);
    ShowSession();
    if (added.empty()) {
        ShowOutcome({corvane::session::TOutcome::Information, texts::NoStoreFolderText(folder)});
        return;
    }
    DbxFilesNode->setExpanded(true);
    for (QTreeWidgetItem* item = TreeNodes.at(static_cast<std::size_t>(added.front())); item != nullptr; item = item->parent())
        item->setExpanded(true);
    for (const int node : added) TreeNodes.at(static_cast<std::size_t>(node))->setExpanded(true);
    tvFiles->setFocus();
    const int first = Session.Tree().FirstWithFile(added);
    tvFiles->setCurrentItem(TreeNodes.at(static_cast<std::size_t>(first >= 0 ? first : added.front())));
    if (first >= 0) loadDbxFile(Session.Tree().FileOf(first));
}

// The folder files carved out of a disk image under a node of their own
// below "Dbx Files", selected; a click on one loads it.
void TfrmMain::mnuRecoverImageClick() {
    if (busy_) return;
    const QString image = ChooseDiskImage ? ChooseDiskImage() : QString();
    if (image.isEmpty()) return;
    const QString folder = ChooseRecoveryFolder ? ChooseRecoveryFolder() : QString();
    if (folder.isEmpty()) return;
    const std::string imagePath = ToEnginePath(QFileInfo(image).absoluteFilePath());
    const std::string outFolder = ToEnginePath(QFileInfo(folder).absoluteFilePath());
    corvane::session::TMailSession::TImageRecovery recovered;
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this, &imagePath, &outFolder, &recovered](corvane::TProgress& p) {
                       recovered = Session.RecoverFromImage(imagePath, outFolder, &p);
                   });
    if (!recovered.Nodes.empty()) {
        QTreeWidgetItem* top = TreeNodes.at(static_cast<std::size_t>(recovered.Nodes.front()));
        DbxFilesNode->setExpanded(true);
        top->setExpanded(true);
        tvFiles->setFocus();
        tvFiles->setCurrentItem(top);
    }
    ShowOutcome(recovered.Outcome);
}

int TfrmMain::OpenDbxFiles(const QStringList& paths) {
    if (busy_) return 0;
    std::vector<std::string> given;
    for (const QString& path : paths) given.push_back(ToEnginePath(QFileInfo(path).absoluteFilePath()));
    const std::vector<int> added = Session.AddDbxFiles(given);
    if (added.empty()) return 0;
    ShowTree();
    DbxFilesNode->setExpanded(true);
    tvFiles->setFocus();
    tvFiles->setCurrentItem(TreeNodes.at(static_cast<std::size_t>(added.front())));
    loadDbxFile(Session.Tree().FileOf(added.front()));
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
    loadDbxFile(Session.Tree().FileOf(selected.first()->data(0, Qt::UserRole).toInt()));
}

void TfrmMain::loadDbxFile(const std::string& path) {
    if (path.empty() || busy_) return;  // a load or search may be running further up this stack
    RunSessionWork(TLongWork::Cancellable, [this, &path](corvane::TProgress& p) { Session.Load(path, &p); });
}

void TfrmMain::cbdeletedemailsClick() {
    if (busy_) return;
    const bool on = cbdeletedemails->isChecked();
    RunSessionWork(TLongWork::Cancellable, [this, on](corvane::TProgress& p) { Session.SetIncludeDeleted(on, &p); });
}

void TfrmMain::cbdecodetextsClick() {
    if (busy_) return;
    const bool on = cbdecodetexts->isChecked();
    // Decoding the texts of a large list is long work: the wait window comes
    // if it lasts.
    const unsigned options = Session.Options().FilterOn ? TLongWork::Cancellable
                                                        : TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare;
    RunSessionWork(options, [this, on](corvane::TProgress& p) { Session.SetDecodeTexts(on, &p); });
}

void TfrmMain::cbwholemessagesClick() {
    if (busy_) return;
    const bool on = cbwholemessages->isChecked();
    RunSessionWork(TLongWork::Cancellable, [this, on](corvane::TProgress& p) { Session.SetWholeMessages(on, &p); });
}

void TfrmMain::LoadSettings() {
    RunSessionWork(TLongWork::Cancellable | TLongWork::Delayed | TLongWork::ShowsShare,
                   [this](corvane::TProgress& p) { Session.LoadSettings(&p); });
}

void TfrmMain::btnApplyFilterClick() {
    if (busy_) return;
    const std::string keyword = txtFilter->text().toStdString();
    RunSessionWork(TLongWork::Cancellable, [this, &keyword](corvane::TProgress& p) { Session.ApplyFilter(keyword, &p); });
}

void TfrmMain::btnClearFilterClick() {
    if (busy_) return;
    RunSessionWork(TLongWork::Cancellable, [this](corvane::TProgress& p) { Session.ClearFilter(&p); });
}

void TfrmMain::mnuHelpClick() {
    for (const std::string& page : HelpPageCandidates) {
        const QString path = FromEnginePath(page);
        if (QFileInfo(path).isFile()) {
            corvane::gui::OpenWebPage(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString().toStdString());
            return;
        }
    }
    corvane::gui::OpenWebPage(texts::kHelpUrl);
}

void TfrmMain::Exit1Click() { close(); }

// ---------------------------------------------------------------------------
// Long operations

TfrmMain::TLongOperation::TLongOperation(TfrmMain& owner, unsigned options)
    : TLongWork(options, owner.Timing, owner.ReportHook), owner_(owner) {
    owner_.busy_ = true;
    owner_.operation_ = this;
    Begin();
}

void TfrmMain::TLongOperation::ShowWaitWindow() {
    wait_ = new TfrmWait(&owner_);
    wait_->SetCancellable(IsCancellable());
    wait_->show();
    owner_.setEnabled(false);
    // Paint both windows before the work goes on.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TfrmMain::TLongOperation::ProcessEvents(bool userInput) {
    QCoreApplication::processEvents(userInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}

void TfrmMain::TLongOperation::ShowShare(std::int64_t done, std::int64_t total) {
    if (wait_ != nullptr) wait_->ShowShare(done, total);
}

bool TfrmMain::TLongOperation::CancelPressed() const { return wait_ != nullptr && wait_->CancelRequested(); }

TfrmMain::TLongOperation::~TLongOperation() {
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

// ---------------------------------------------------------------------------
// Helpers

std::string TfrmMain::ToEnginePath(const QString& path) {
    return QFile::encodeName(QDir::toNativeSeparators(path)).toStdString();
}

QString TfrmMain::FromEnginePath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString TfrmMain::FromEngineText(const std::string& text) { return QString::fromLocal8Bit(text); }
