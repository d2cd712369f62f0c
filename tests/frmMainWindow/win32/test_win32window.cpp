// The Windows window in its own process, worked through its controls'
// messages as a user's keys and clicks reach them: the list read back with
// LVM_GETITEMTEXTW, ticks, a heading click, the preview, the exports, the
// filter, the settings, the wait window's Cancel, a store folder's tree, the
// folder files recovered from a disk image and the status line. The rows, their order
// and the exported bytes are the ones the Qt window's tests hold it to
// (support/WindowExpectations.h).

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FastStrings/FastStrings.h"
#include "emailexport/emailexport.h"
#include "frmMainWindow/win32/Wide.h"
#include "frmMainWindow/win32/frmMainWindow.h"
#include "frmMainWindow/win32/waitfrm.h"
#include "mailsession/SessionTexts.h"
#include "sysdbxfiles/sysdbxfiles.h"
#include "support/DbxFixture.h"
#include "support/DiskImageFixture.h"
#include "support/MessageFiles.h"
#include "support/StoreFixture.h"
#include "support/TestFiles.h"
#include "support/WindowExpectations.h"

namespace texts = corvane::session::texts;
using corvane::testsupport::ExpectedWindowRows;
using corvane::testsupport::TExpectedRow;
using corvane::win32::FromAnsi;
using corvane::win32::FromUtf8;
using corvane::win32::ToUtf8;

namespace {

struct TBox {
    std::string Text;  // UTF-8
    UINT Type = 0;
    bool operator==(const TBox&) const = default;
};

std::string Normalised(std::string text) {
    // The preview box keeps lines; its line breaks read back as CR LF or CR.
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

class Win32Window : public ::testing::Test {
protected:
    void SetUp() override {
        folderFile = scratch / "Inbox.dbx";
        corvane::testsupport::WriteWindowFixture(folderFile);
        w = NewWindow();
    }

    std::unique_ptr<TfrmMain> NewWindow() {
        auto window = std::make_unique<TfrmMain>(FromAnsi(scratch / "settings.ini"));
        window->MessageBoxHook = [this](const std::wstring& text, UINT type) {
            boxes.push_back({ToUtf8(text), type});
            return answer;
        };
        window->Timing.WaitWindowDelay = std::chrono::milliseconds(0);
        window->Show(SW_SHOWNORMAL);
        window->ProcessMessages();
        return window;
    }

    // --- the list, as the control gives it ---------------------------------
    int RowCount() const { return static_cast<int>(::SendMessageW(w->lvFoundEmails, LVM_GETITEMCOUNT, 0, 0)); }
    std::string Cell(int row, int column) const {
        wchar_t buffer[1024] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 1024;
        const auto n = ::SendMessageW(w->lvFoundEmails, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return ToUtf8(std::wstring(buffer, static_cast<std::size_t>(n)));
    }
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> texts;
        for (int row = 0; row < RowCount(); ++row) texts.push_back(Cell(row, column));
        return texts;
    }
    int RowNumbered(int k) const {
        for (int row = 0; row < RowCount(); ++row)
            if (Cell(row, 0) == std::to_string(k)) return row;
        return -1;
    }
    bool Ticked(int row) const {
        const auto state = ::SendMessageW(w->lvFoundEmails, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
        return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    }
    int Icon(int row) const {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        ::SendMessageW(w->lvFoundEmails, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    int Selected() const {
        return static_cast<int>(::SendMessageW(w->lvFoundEmails, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    }
    void Expect(const std::vector<TExpectedRow>& rows) const {
        ASSERT_EQ(RowCount(), static_cast<int>(rows.size()));
        for (int row = 0; row < RowCount(); ++row) {
            for (int c = 0; c < 5; ++c) EXPECT_EQ(Cell(row, c), rows[row].Cells[c]) << "row " << row << " column " << c;
            EXPECT_EQ(Icon(row), rows[row].Deleted ? corvane::session::IconDeletedMessage
                                                  : corvane::session::IconLiveMessage);
        }
    }

    // --- the user's keys and clicks ------------------------------------------
    void Key(HWND control, WPARAM key) {
        ::SetFocus(control);
        ::SendMessageW(control, WM_KEYDOWN, key, 1);
        ::SendMessageW(control, WM_KEYUP, key, 0xC0000001);
        w->ProcessMessages();
    }
    // Moves the selection onto a row with the arrow keys, from its neighbour.
    void MoveTo(int row) {
        const int from = row > 0 ? row - 1 : 1;
        LVITEMW item{};
        item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
        ::SendMessageW(w->lvFoundEmails, LVM_SETITEMSTATE, from, reinterpret_cast<LPARAM>(&item));
        Key(w->lvFoundEmails, row > 0 ? VK_DOWN : VK_UP);
        ASSERT_EQ(Selected(), row);
    }
    void Click(HWND control, POINT at) {
        const LPARAM where = MAKELPARAM(at.x, at.y);
        ::SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, where);
        ::SendMessageW(control, WM_LBUTTONUP, 0, where);
        w->ProcessMessages();
    }
    // A click on a heading as the heading control tells the list of it; the
    // list hands it on as its column click.
    void ClickHeading(int column) {
        HWND header = reinterpret_cast<HWND>(::SendMessageW(w->lvFoundEmails, LVM_GETHEADER, 0, 0));
        NMHEADERW click{};
        click.hdr.hwndFrom = header;
        click.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(header));
        click.hdr.code = HDN_ITEMCLICKW;
        click.iItem = column;
        click.iButton = 0;
        ::SendMessageW(w->lvFoundEmails, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
        w->ProcessMessages();
    }
    // A click on a row's tick box.
    void ClickBox(int row) {
        ::SendMessageW(w->lvFoundEmails, LVM_ENSUREVISIBLE, row, FALSE);
        RECT bounds{};
        bounds.left = LVIR_BOUNDS;
        ::SendMessageW(w->lvFoundEmails, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
        for (LONG x = bounds.left; x < bounds.left + 40; ++x) {
            LVHITTESTINFO hit{};
            hit.pt = {x, (bounds.top + bounds.bottom) / 2};
            ::SendMessageW(w->lvFoundEmails, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
            if (hit.iItem == row && (hit.flags & LVHT_ONITEMSTATEICON) != 0) {
                Click(w->lvFoundEmails, hit.pt);
                return;
            }
        }
        ADD_FAILURE() << "no tick box found in row " << row;
    }
    void Command(int id) {
        ::SendMessageW(w->Handle, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        w->ProcessMessages();
    }
    void Press(HWND button) {
        ::SendMessageW(button, BM_CLICK, 0, 0);
        w->ProcessMessages();
    }
    std::string Text(HWND control) const {
        wchar_t buffer[65536] = {};
        ::GetWindowTextW(control, buffer, 65536);
        return ToUtf8(buffer);
    }
    bool Enabled(HWND control) const { return ::IsWindowEnabled(control) != FALSE; }
    std::string MenuText(int id) const {
        wchar_t buffer[256] = {};
        ::GetMenuStringW(w->File1, static_cast<UINT>(id), buffer, 256, MF_BYCOMMAND);
        return ToUtf8(buffer);
    }

    // --- the tree, as the control gives it -------------------------------------
    std::vector<HTREEITEM> ChildrenOf(HTREEITEM node) const {
        std::vector<HTREEITEM> children;
        for (auto child = reinterpret_cast<HTREEITEM>(
                 ::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(node)));
             child != nullptr; child = reinterpret_cast<HTREEITEM>(
                                   ::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child))))
            children.push_back(child);
        return children;
    }
    std::string NodeText(HTREEITEM node) const {
        wchar_t text[MAX_PATH] = {};
        TVITEMW item{};
        item.mask = TVIF_TEXT;
        item.hItem = node;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        ::SendMessageW(w->tvFiles, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return corvane::win32::ToAnsi(text);
    }
    std::vector<std::string> ChildTexts(HTREEITEM node) const {
        std::vector<std::string> texts;
        for (HTREEITEM child : ChildrenOf(node)) texts.push_back(NodeText(child));
        return texts;
    }
    HTREEITEM SelectedNode() const {
        return reinterpret_cast<HTREEITEM>(::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_CARET, 0));
    }
    bool Expanded(HTREEITEM node) const {
        return (::SendMessageW(w->tvFiles, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(node), TVIS_EXPANDED) &
                TVIS_EXPANDED) != 0;
    }
    // A click on a node: the tree selects it, then tells the window.
    void ClickNode(HTREEITEM node) {
        ::SendMessageW(w->tvFiles, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
        NMHDR click{w->tvFiles, static_cast<UINT_PTR>(TfrmMain::IdFiles), static_cast<UINT>(NM_CLICK)};
        ::SendMessageW(w->Handle, WM_NOTIFY, TfrmMain::IdFiles, reinterpret_cast<LPARAM>(&click));
        w->ProcessMessages();
    }
    bool Checked(HWND box) const { return ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

    corvane::testsupport::TScratchFolder scratch{"corvane-win32"};
    corvane::testsupport::TTempFolderOverride temp{scratch.Path()};
    std::string folderFile;
    std::vector<TBox> boxes;
    int answer = IDOK;
    std::unique_ptr<TfrmMain> w;
};

TEST_F(Win32Window, TheWindowHasItsCaptionSizeBorderAndControls) {
    EXPECT_EQ(Text(w->Handle), texts::kMainCaption);
    // The client area of 906 x 553 above the status line, which is empty.
    RECT client{}, status{};
    ::GetClientRect(w->Handle, &client);
    ASSERT_NE(w->StatusBar1, nullptr);
    ::GetWindowRect(w->StatusBar1, &status);
    ::MapWindowPoints(nullptr, w->Handle, reinterpret_cast<POINT*>(&status), 2);
    EXPECT_EQ(client.right, 906);
    EXPECT_GT(status.bottom, status.top);
    EXPECT_EQ(status.top, 553);
    EXPECT_EQ(client.bottom, 553 + (status.bottom - status.top));
    EXPECT_EQ(Text(w->StatusBar1), "");
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(w->Handle, GWL_STYLE));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    // Centred on the desktop.
    RECT frame{}, area{};
    ::GetWindowRect(w->Handle, &frame);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_LE(std::abs((frame.left + frame.right) - (area.left + area.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (area.top + area.bottom)), 2);

    const std::pair<HWND, const char*> labelled[] = {
        {w->Filter, texts::kFilterGroup},         {w->lblKeyword, texts::kKeyword},
        {w->btnApplyFilter, texts::kApply},       {w->btnClearFilter, texts::kClear},
        {w->GroupBox1, texts::kSettingsGroup},    {w->cbdeletedemails, texts::kIncludeDeleted},
        {w->cbwholemessages, texts::kWholeMessages}, {w->cbdecodetexts, texts::kDecodeTexts}};
    for (const auto& [control, text] : labelled) EXPECT_EQ(Text(control), text);
    EXPECT_TRUE(Enabled(w->btnApplyFilter));
    EXPECT_FALSE(Enabled(w->btnClearFilter));
    EXPECT_FALSE(Checked(w->cbdeletedemails));

    const std::pair<HWND, const char*> tools[] = {{w->sbAutoScan, texts::kAutoScan},
                                                  {w->sbOpenDbx, texts::kOpenDbx},
                                                  {w->sbSelectAll, texts::kSelectAll},
                                                  {w->sbDeselectAll, texts::kDeselectAll},
                                                  {w->sbSaveEmail, texts::kSaveEmail}};
    for (const auto& [button, text] : tools) {
        EXPECT_EQ(Text(button), text);
        EXPECT_FALSE(::GetWindowLongPtrW(button, GWL_STYLE) & WS_TABSTOP);
    }
    // A click leaves the keyboard focus where it was.
    ::SetFocus(w->lvFoundEmails);
    ::SendMessageW(w->sbSelectAll, WM_SETFOCUS, reinterpret_cast<WPARAM>(w->lvFoundEmails), 0);
    EXPECT_EQ(::GetFocus(), w->lvFoundEmails);

    const auto listStyle = static_cast<DWORD>(::GetWindowLongPtrW(w->lvFoundEmails, GWL_STYLE));
    EXPECT_TRUE(listStyle & LVS_OWNERDATA);
    EXPECT_TRUE(listStyle & LVS_REPORT);
    EXPECT_TRUE(::SendMessageW(w->lvFoundEmails, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES);
    for (int c = 0; c < corvane::session::ColumnCount; ++c) {
        wchar_t buffer[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = buffer;
        column.cchTextMax = 64;
        ::SendMessageW(w->lvFoundEmails, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
        EXPECT_EQ(ToUtf8(buffer), corvane::session::kColumnHeadings[c]);
        EXPECT_EQ(column.cx, corvane::session::kColumnWidths[c]);
    }

    // The tree's two top-level nodes, in order.
    wchar_t node[64] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.pszText = node;
    item.cchTextMax = 64;
    item.hItem = reinterpret_cast<HTREEITEM>(::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    ASSERT_EQ(item.hItem, w->SystemFilesNode);
    ::SendMessageW(w->tvFiles, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(ToUtf8(node), texts::kSystemFiles);
    item.hItem = reinterpret_cast<HTREEITEM>(
        ::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item.hItem)));
    ASSERT_EQ(item.hItem, w->DbxFilesNode);
    ::SendMessageW(w->tvFiles, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(ToUtf8(node), texts::kDbxFiles);
}

TEST_F(Win32Window, OpensAFolderFileAndListsItsRowsWithAndWithoutTheDeleted) {
    w->ChooseDbxFile = [this] { return FromAnsi(folderFile); };
    Press(w->sbOpenDbx);
    Expect(ExpectedWindowRows(false));
    // The file's node under "Dbx Files", selected.
    const auto selected = reinterpret_cast<HTREEITEM>(::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_CARET, 0));
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(reinterpret_cast<HTREEITEM>(::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_PARENT,
                                                         reinterpret_cast<LPARAM>(selected))),
              w->DbxFilesNode);

    Press(w->cbdeletedemails);
    EXPECT_TRUE(Checked(w->cbdeletedemails));
    Expect(ExpectedWindowRows(true));
    Press(w->cbdeletedemails);
    Expect(ExpectedWindowRows(false));

    // A name that is not a folder file's is passed over.
    w->ChooseDbxFile = [this] { return FromAnsi(scratch / "notes.txt"); };
    Press(w->sbOpenDbx);
    Expect(ExpectedWindowRows(false));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Win32Window, ADroppedFileAndATreeClickLoadIt) {
    // A drop as the shell hands it: a DROPFILES block with the wide names.
    const std::wstring name = FromAnsi(folderFile);
    const std::size_t bytes = sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), name.c_str(), name.size() * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    ::SendMessageW(w->Handle, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    w->ProcessMessages();
    Expect(ExpectedWindowRows(false));
    EXPECT_EQ(w->Session.CurrentFile(), folderFile);

    // Another file's rows, then a click on the first file's node reads it again.
    const std::string other = scratch / "Other.dbx";
    corvane::testsupport::WriteFolderFile(other, {corvane::testsupport::Mail(1)});
    w->OpenDbxFiles({other});
    ASSERT_EQ(RowCount(), 1);
    ::SendMessageW(w->tvFiles, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(w->TreeNodes.at(2)));
    NMHDR click{w->tvFiles, static_cast<UINT_PTR>(TfrmMain::IdFiles), static_cast<UINT>(NM_CLICK)};
    ::SendMessageW(w->Handle, WM_NOTIFY, TfrmMain::IdFiles, reinterpret_cast<LPARAM>(&click));
    w->ProcessMessages();
    Expect(ExpectedWindowRows(false));
}

TEST_F(Win32Window, AutoScanHangsTheFilesFoundUnderSystemFiles) {
    const std::string tree = scratch / "tree";
    ::CreateDirectoryW(FromAnsi(tree).c_str(), nullptr);
    ::CreateDirectoryW(FromAnsi(tree + "\\sub").c_str(), nullptr);
    corvane::testsupport::WriteWindowFixture(tree + "\\a.dbx");
    corvane::testsupport::WriteWindowFixture(tree + "\\sub\\b.DBX");
    corvane::testsupport::WriteWholeFile(tree + "\\notes.txt", "not a folder file");
    w->Session.Search = [&tree](TDbxFiles& files) { files.SearchFolder(tree, "*.dbx", true); };
    Press(w->sbAutoScan);
    EXPECT_TRUE(boxes.empty());

    std::vector<std::string> found;
    for (auto node = reinterpret_cast<HTREEITEM>(::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                 reinterpret_cast<LPARAM>(w->SystemFilesNode)));
         node != nullptr; node = reinterpret_cast<HTREEITEM>(
                              ::SendMessageW(w->tvFiles, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(node)))) {
        wchar_t text[MAX_PATH] = {};
        TVITEMW item{};
        item.mask = TVIF_TEXT | TVIF_IMAGE;
        item.hItem = node;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        ::SendMessageW(w->tvFiles, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(item.iImage, corvane::session::IconFolderFile);
        found.push_back(corvane::win32::ToAnsi(text));
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{tree + "\\a.dbx", tree + "\\sub\\b.DBX"}));
    EXPECT_TRUE(::SendMessageW(w->tvFiles, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(w->SystemFilesNode),
                               TVIS_EXPANDED) &
                TVIS_EXPANDED);

    // A click on a found file's node loads it.
    ::SendMessageW(w->tvFiles, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(w->TreeNodes.back()));
    w->tvFilesClick();
    Expect(ExpectedWindowRows(false));
}

TEST_F(Win32Window, OpenStoreFolderShowsTheStoresFoldersAndLoadsTheFirst) {
    EXPECT_EQ(MenuText(TfrmMain::mnuOpenStore), texts::kOpenStoreMenu);
    const std::string store = scratch / "store";
    ::CreateDirectoryW(FromAnsi(store).c_str(), nullptr);
    const std::vector<corvane::testsupport::TFolderFixture> folders = {
        {1, 0, "Local Folders", "", "", {}, 0, 0, true},
        {2, 1, "Inbox", "Inbox.dbx", "",
         {corvane::testsupport::PlainMessage("a@x", "one", "1"), corvane::testsupport::PlainMessage("b@x", "two", "2")}, 2, 1, true},
        {3, 2, "Family", "Folder1.dbx", "", {corvane::testsupport::PlainMessage("m@x", "dinner", "3")}, 0, 0, true},
    };
    corvane::testsupport::WriteStore(store, folders);
    // A folder's node as Folders.dbx counts it: "Name (unread/total)".
    const auto label = [](const corvane::testsupport::TFolderFixture& f) {
        return f.name + " (" + std::to_string(f.unread) + "/" + std::to_string(f.texts.size()) + ")";
    };
    std::wstring chosen = FromAnsi(store);
    w->ChooseStoreFolder = [&chosen] { return chosen; };
    Command(TfrmMain::mnuOpenStore);
    EXPECT_TRUE(boxes.empty());

    ASSERT_EQ(ChildTexts(w->DbxFilesNode), std::vector<std::string>{store});
    const HTREEITEM top = ChildrenOf(w->DbxFilesNode)[0];
    ASSERT_EQ(ChildTexts(top), std::vector<std::string>{label(folders[0])});
    const HTREEITEM local = ChildrenOf(top)[0];
    ASSERT_EQ(ChildTexts(local), std::vector<std::string>{label(folders[1])});
    const HTREEITEM inbox = ChildrenOf(local)[0];
    ASSERT_EQ(ChildTexts(inbox), std::vector<std::string>{label(folders[2])});
    EXPECT_EQ(label(folders[1]), "Inbox (2/2)");
    EXPECT_TRUE(Expanded(w->DbxFilesNode) && Expanded(top) && Expanded(local));
    // The first folder with a folder file is selected and listed.
    EXPECT_EQ(SelectedNode(), inbox);
    EXPECT_EQ(Column(4), (std::vector<std::string>{" one", " two"}));

    // A click on another folder lists its messages.
    ClickNode(ChildrenOf(inbox)[0]);
    EXPECT_EQ(Column(4), std::vector<std::string>{" dinner"});
    EXPECT_EQ(Text(w->StatusBar1), "");

    // A folder that is no store: the box; cancelled: nothing.
    chosen = FromAnsi(scratch.Path());
    Command(TfrmMain::mnuOpenStore);
    EXPECT_EQ(boxes, (std::vector<TBox>{{texts::NoStoreFolderText(scratch.Path()), MB_OK | MB_ICONINFORMATION}}));
    chosen.clear();
    Command(TfrmMain::mnuOpenStore);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ChildrenOf(w->DbxFilesNode).size(), 1u);
}

TEST_F(Win32Window, TheStatusLineTellsWhyTheIndexCouldNotBeUsed) {
    corvane::testsupport::TDbxWriter bare(3);
    bare.AddMessage(corvane::testsupport::PlainMessage("a@x", "no index", "1"));
    const std::string path = scratch / "bare.dbx";
    bare.Save(path);
    Press(w->cbwholemessages);
    w->OpenDbxFiles({path});
    EXPECT_NE(Text(w->StatusBar1).find("could not be used (the folder file has no index)"), std::string::npos)
        << Text(w->StatusBar1);
    Press(w->cbwholemessages);
    EXPECT_EQ(Text(w->StatusBar1), "");
}

TEST_F(Win32Window, RecoverFromDiskImageHangsTheFolderFilesUnderTheImagesNode) {
    EXPECT_EQ(MenuText(TfrmMain::mnuRecoverImage), texts::kRecoverImageMenu);
    const std::string image = scratch / "disk.img";
    const std::vector<corvane::testsupport::TImagedFolder> folders = corvane::testsupport::WriteTwoFolderImage(image);
    w->ChooseDiskImage = [&image] { return FromAnsi(image); };
    std::wstring out = FromAnsi(scratch / "out");
    w->ChooseRecoveryFolder = [&out] { return out; };
    bool waitShown = false;
    w->ReportHook = [&](corvane::session::TLongWork&, std::uint64_t, const char*, std::int64_t, std::int64_t) {
        waitShown = waitShown || (w->Operation()->WaitWindow() != nullptr && !Enabled(w->Handle));
    };
    Command(TfrmMain::mnuRecoverImage);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(waitShown);
    EXPECT_TRUE(Enabled(w->Handle));

    ASSERT_EQ(ChildTexts(w->DbxFilesNode), std::vector<std::string>{"Disk image disk.img"});
    const HTREEITEM top = ChildrenOf(w->DbxFilesNode)[0];
    std::vector<std::string> labels;
    for (std::size_t f = 0; f < folders.size(); ++f)
        labels.push_back(texts::CarvedFileText("recovered-" + std::to_string(f + 1) + ".dbx",
                                               static_cast<std::size_t>(folders[f].Pieces), folders[f].Live.size(), 0, true));
    EXPECT_EQ(ChildTexts(top), labels);
    EXPECT_EQ(SelectedNode(), top);
    EXPECT_TRUE(Expanded(top));
    EXPECT_EQ(RowCount(), 0);  // selecting the node loads nothing

    // A click on the second file's node lists its messages.
    ClickNode(ChildrenOf(top)[1]);
    EXPECT_EQ(RowCount(), static_cast<int>(folders[1].Live.size()));
    EXPECT_EQ(w->Session.CurrentFile(), (scratch / "out") + "\\recovered-2.dbx");

    // Stopped at the first report: told, no node.
    out = FromAnsi(scratch / "stopped");
    w->ReportHook = [](corvane::session::TLongWork& work, std::uint64_t report, const char*, std::int64_t, std::int64_t) {
        if (report == 1) work.Cancel();
    };
    Command(TfrmMain::mnuRecoverImage);
    EXPECT_EQ(boxes, (std::vector<TBox>{{"Recovery from disk.img was stopped before a folder file was finished.",
                                         MB_OK | MB_ICONINFORMATION}}));
    EXPECT_EQ(ChildrenOf(w->DbxFilesNode).size(), 1u);
}

TEST_F(Win32Window, SpaceTheTickBoxAndSelectAllTick) {
    w->OpenDbxFiles({folderFile});
    MoveTo(2);
    Key(w->lvFoundEmails, VK_SPACE);
    EXPECT_TRUE(Ticked(2));
    Key(w->lvFoundEmails, VK_SPACE);
    EXPECT_FALSE(Ticked(2));
    ClickBox(5);
    EXPECT_TRUE(Ticked(5));
    EXPECT_EQ(w->Session.TickedCount(), 1u);

    Press(w->sbSelectAll);
    for (int row = 0; row < RowCount(); ++row) EXPECT_TRUE(Ticked(row));
    Press(w->sbDeselectAll);
    for (int row = 0; row < RowCount(); ++row) EXPECT_FALSE(Ticked(row));
    // Ctrl+A in the list ticks every row as "Quick Select All" does.
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    Key(w->lvFoundEmails, 'A');
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(w->Session.TickedCount(), static_cast<std::size_t>(RowCount()));
}

TEST_F(Win32Window, AHeadingClickSortsTheRowsWithTheirTicksAndSelection) {
    w->OpenDbxFiles({folderFile});
    const std::vector<TExpectedRow> rows = ExpectedWindowRows(false);
    MoveTo(RowNumbered(7));
    Key(w->lvFoundEmails, VK_SPACE);

    // The first click on a text column sorts descending, the next ascending.
    ClickHeading(corvane::session::ColSubject);
    EXPECT_EQ(Column(0), corvane::testsupport::NumbersBySubject(rows, false));
    ClickHeading(corvane::session::ColSubject);
    EXPECT_EQ(Column(0), corvane::testsupport::NumbersBySubject(rows, true));
    EXPECT_TRUE(Ticked(RowNumbered(7)));
    EXPECT_EQ(Selected(), RowNumbered(7));
    EXPECT_EQ(w->Session.TickedCount(), 1u);

    // "Item Num" sorts by number, in the direction kept from before.
    ClickHeading(corvane::session::ColItemNum);
    std::vector<std::string> numbers;
    for (std::size_t i = 0; i < rows.size(); ++i) numbers.push_back(std::to_string(i));
    EXPECT_EQ(Column(0), numbers);
}

TEST_F(Win32Window, ArrowKeysPreviewTheRowOfItsNumber) {
    w->OpenDbxFiles({folderFile});
    const std::vector<TExpectedRow> rows = ExpectedWindowRows(false);
    ClickHeading(corvane::session::ColTo);
    for (int k : {6, 0, 9}) {
        MoveTo(RowNumbered(k));
        // The blank line that ends the header block, the body, a line break.
        EXPECT_EQ(Normalised(Text(w->txtmsgbody)),
                  Normalised("\r\n" + corvane::testsupport::BodyOf(rows[static_cast<std::size_t>(k)]) + "\r\n"));
    }
    // A sort leaves the preview alone.
    const std::string shown = Text(w->txtmsgbody);
    ClickHeading(corvane::session::ColDate);
    EXPECT_EQ(Text(w->txtmsgbody), shown);
}

TEST_F(Win32Window, ExportsTheTickedRowsAsTheEngineDoes) {
    Press(w->cbdeletedemails);
    w->OpenDbxFiles({folderFile});
    ClickHeading(corvane::session::ColSubject);
    for (int row : {0, 2, 5}) {
        MoveTo(row);
        Key(w->lvFoundEmails, VK_SPACE);
    }
    const std::string out = scratch / "out";
    ::CreateDirectoryW(FromAnsi(out).c_str(), nullptr);
    std::string title;
    w->ChooseExportFolder = [&](const std::string& t, const std::string&, bool) {
        title = t;
        return out;
    };
    Press(w->sbSaveEmail);
    EXPECT_EQ(title, texts::kExportFolderTitle);
    ASSERT_EQ(boxes, (std::vector<TBox>{{texts::kExported, MB_OK | MB_ICONINFORMATION}}));
    EXPECT_EQ(corvane::testsupport::NamesIn(out),
              (std::vector<std::string>{"RecoveredEmail0.eml", "RecoveredEmail2.eml", "RecoveredEmail5.eml"}));

    // The engine's own export of the same rows writes the same bytes.
    const std::string engine = scratch / "engine";
    ::CreateDirectoryW(FromAnsi(engine).c_str(), nullptr);
    corvane::mail::ExportEmails(w->Session.TickedItems(), engine);
    for (const std::string& name : corvane::testsupport::NamesIn(out))
        EXPECT_EQ(corvane::testsupport::ReadWholeFile(out + "\\" + name),
                  corvane::testsupport::ReadWholeFile(engine + "\\" + name));
    // Each file holds the message of its row's number.
    const std::vector<TExpectedRow> rows = ExpectedWindowRows(true);
    for (int row : {0, 2, 5}) {
        const int k = std::stoi(Cell(row, 0));
        const std::string bytes = corvane::testsupport::ReadWholeFile(out + "\\RecoveredEmail" + std::to_string(row) + ".eml");
        EXPECT_NE(bytes.find(corvane::testsupport::BodyOf(rows[static_cast<std::size_t>(k)])), std::string::npos);
    }
}

TEST_F(Win32Window, MessageBoxesTellOfAFolderNotWriteableAndAMessageFileGone) {
    w->OpenDbxFiles({folderFile});
    w->ChooseExportFolder = [this](const std::string&, const std::string&, bool) { return scratch / "no\\such"; };
    Press(w->sbSaveEmail);
    EXPECT_EQ(boxes, (std::vector<TBox>{{texts::kNotWriteable, MB_OK | MB_ICONERROR}}));

    boxes.clear();
    w->ChooseExportFolder = [](const std::string&, const std::string&, bool) { return std::string(); };
    Press(w->sbSaveEmail);  // cancelled: nothing at all
    EXPECT_TRUE(boxes.empty());

    const std::string messageFile = w->Session.RecordOfRow(3).FileName;
    ASSERT_TRUE(::DeleteFileW(FromAnsi(messageFile).c_str()));
    MoveTo(3);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(boxes[0].Text.rfind("Cannot open file \"" + messageFile + "\". ", 0), 0u) << boxes[0].Text;
}

TEST_F(Win32Window, EnterInKeywordAppliesTheFilterAndClearEndsIt) {
    w->OpenDbxFiles({folderFile});
    const std::vector<TExpectedRow> rows = ExpectedWindowRows(false);
    const std::string keyword = "NUMBER 1";  // "number 1." and "number 10.", "number 11."
    std::vector<std::string> matching;
    for (const TExpectedRow& row : rows)
        if (corvane::testsupport::BodyOf(row).find("number 1") != std::string::npos) matching.push_back(row.Cells[0]);
    ASSERT_GE(matching.size(), 2u);

    ::SetWindowTextW(w->txtFilter, FromUtf8(keyword).c_str());
    ::SetFocus(w->txtFilter);
    ::PostMessageW(w->txtFilter, WM_KEYDOWN, VK_RETURN, 1);
    w->ProcessMessages();
    EXPECT_EQ(Column(0), matching);
    EXPECT_FALSE(Enabled(w->btnApplyFilter));
    EXPECT_TRUE(Enabled(w->btnClearFilter));
    EXPECT_FALSE(Enabled(w->txtFilter));

    Press(w->btnClearFilter);
    Expect(rows);
    EXPECT_TRUE(Enabled(w->btnApplyFilter));
    EXPECT_FALSE(Enabled(w->btnClearFilter));
    EXPECT_TRUE(Enabled(w->txtFilter));

    // An empty keyword changes nothing.
    ::SetWindowTextW(w->txtFilter, L"");
    Press(w->btnApplyFilter);
    EXPECT_TRUE(Enabled(w->btnApplyFilter));
    EXPECT_EQ(RowCount(), static_cast<int>(rows.size()));
}

TEST_F(Win32Window, CancelAtReportNKeepsThePreviousList) {
    w->OpenDbxFiles({folderFile});
    std::vector<corvane::testsupport::TMail> many;
    for (int i = 0; i < 300; ++i) many.push_back(corvane::testsupport::Mail(i));
    const std::string large = scratch / "Large.dbx";
    corvane::testsupport::WriteFolderFile(large, many);

    constexpr std::uint64_t kPressAt = 5;
    bool waitShown = false, mainDisabled = false, cancelShown = false;
    std::uint64_t pressedAt = 0;
    w->ReportHook = [&](corvane::session::TLongWork&, std::uint64_t report, const char*, std::int64_t, std::int64_t) {
        if (report != kPressAt) return;
        pressedAt = report;
        TfrmWait* wait = w->Operation()->WaitWindow();
        ASSERT_NE(wait, nullptr);
        waitShown = ::IsWindowVisible(wait->Handle) != FALSE;
        cancelShown = ::IsWindowVisible(wait->btnCancel) != FALSE;
        mainDisabled = ::IsWindowEnabled(w->Handle) == FALSE;
        ::SendMessageW(wait->btnCancel, BM_CLICK, 0, 0);
    };
    w->Guarded([&] { w->OpenDbxFiles({large}); });
    EXPECT_TRUE(waitShown);
    EXPECT_TRUE(cancelShown);
    EXPECT_TRUE(mainDisabled);
    // The work stopped, and the list is the previous file's.
    EXPECT_EQ(pressedAt, kPressAt);
    Expect(ExpectedWindowRows(false));
    EXPECT_EQ(w->Session.CurrentFile(), folderFile);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(::IsWindowEnabled(w->Handle));
    EXPECT_FALSE(w->Busy());

    // Without a press the same file is read whole.
    w->ReportHook = nullptr;
    w->OpenDbxFiles({large});
    EXPECT_EQ(RowCount(), 300);
}

TEST_F(Win32Window, ClosingDuringWorkAsksAndStopsIt) {
    answer = IDYES;
    bool closed = false;
    w->ReportHook = [&](corvane::session::TLongWork&, std::uint64_t report, const char*, std::int64_t, std::int64_t) {
        if (report == 2) ::SendMessageW(w->Handle, WM_CLOSE, 0, 0);
        closed = closed || w->Handle == nullptr;
    };
    w->Guarded([&] { w->OpenDbxFiles({folderFile}); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], (TBox{texts::kStopAndClose, MB_YESNO | MB_ICONQUESTION}));
    EXPECT_FALSE(closed);  // not while the work ran
    w->ProcessMessages();
    EXPECT_EQ(w->Handle, nullptr);
}

TEST_F(Win32Window, TheSettingsBoxesAreRemembered) {
    Press(w->cbwholemessages);
    Press(w->cbdecodetexts);
    ASSERT_TRUE(Checked(w->cbwholemessages));
    w.reset();
    w = NewWindow();
    EXPECT_TRUE(Checked(w->cbwholemessages));
    EXPECT_TRUE(Checked(w->cbdecodetexts));
    EXPECT_FALSE(Checked(w->cbdeletedemails));
}

TEST_F(Win32Window, F1OpensTheHelpPageBesideTheProgramOrTheAddress) {
    std::vector<std::wstring> opened;
    w->OpenPage = [&](const std::wstring& page) { opened.push_back(page); };
    const std::string page = scratch / "help.html";
    corvane::testsupport::WriteWholeFile(page, "<html></html>");
    w->HelpPageCandidates = {FromAnsi(scratch / "missing.html"), FromAnsi(page)};
    ::SetFocus(w->lvFoundEmails);
    ::PostMessageW(w->lvFoundEmails, WM_KEYDOWN, VK_F1, 1);
    w->ProcessMessages();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(ToUtf8(opened[0]), page);

    w->HelpPageCandidates = {FromAnsi(scratch / "missing.html")};
    Command(TfrmMain::mnuHelp);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(ToUtf8(opened[1]), texts::kHelpUrl);
}

TEST(Win32WaitWindow, TheThreadStepsTheBarOnlyThroughTheWindowsMessages) {
    TfrmWait wait(nullptr, static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
    EXPECT_TRUE(::IsWindowVisible(wait.Handle));
    EXPECT_FALSE(::IsWindowVisible(wait.btnCancel));
    RECT client{};
    ::GetClientRect(wait.Handle, &client);
    EXPECT_EQ(client.right, TfrmWait::kClientWidth);
    EXPECT_EQ(client.bottom, TfrmWait::kClientHeight);
    EXPECT_EQ(::SendMessageW(wait.pbwait, PBM_GETPOS, 0, 0), 0);
    // The first step is posted at once; until the messages are processed
    // the bar stands still.
    TProcessbar* thread = wait.FProcessbar;
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->StepsDone(), 0u);
    MSG message;
    while (thread->StepsDone() == 0 && ::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    EXPECT_EQ(::SendMessageW(wait.pbwait, PBM_GETPOS, 0, 0), 1);

    // A full bar starts again from its minimum.
    ::SendMessageW(wait.pbwait, PBM_SETPOS, 100, 0);
    while (thread->StepsDone() == 1 && ::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    EXPECT_EQ(::SendMessageW(wait.pbwait, PBM_GETPOS, 0, 0), 0);

    wait.SetCancellable(true);
    EXPECT_TRUE(::IsWindowVisible(wait.btnCancel));
    ::SendMessageW(wait.btnCancel, BM_CLICK, 0, 0);
    EXPECT_TRUE(wait.CancelRequested());
    EXPECT_FALSE(::IsWindowEnabled(wait.btnCancel));

    // Closed (twice: the second does nothing), no step reaches the bar.
    const std::uint64_t steps = thread->StepsDone();
    wait.FormClose();
    wait.FormClose();
    EXPECT_EQ(wait.FProcessbar, nullptr);
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    EXPECT_EQ(thread->StepsDone(), steps);
}

}  // namespace

int main(int argc, char** argv) {
    (void)TUpperTable::Data();
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
