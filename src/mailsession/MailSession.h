#pragma once
// One window's work on the folder files it opens, without any toolkit: the
// records of the current folder file and the rows the list shows of them, the
// ticks, the sort order, the keyword filter and the check boxes, the preview,
// the exports and the texts of the message boxes they end with. A window (Qt
// on Linux, the Windows controls on Windows) turns its controls' events into
// calls of a TMailSession and shows what the session holds; it keeps no rule
// of its own.
//
// Threads: a session belongs to the thread that made it (the window's
// user-interface thread). Every call runs there and returns when its work is
// done; long work (a load, the filter, decoding the texts, an export) reports
// to the TProgress it is given, on the same thread, and stops at its next step
// when that progress asks to (ECancelled).
//
// Errors: failures leave the calls as exceptions carrying their text
// (platform/Errors.h: a folder file or message file that cannot be opened,
// read or created; ECancelled when the progress stopped the work). A call that
// fails or is stopped leaves the session as it was before it: the records,
// the rows with their ticks and order, the texts, the options and the message
// files the rows read (see Load).
//
// Texts: the cells, the preview and the keyword are UTF-8. The texts of the
// message boxes (TOutcome) and of the exceptions are in the system's own
// encoding of file names (they carry paths), as the platform layer names files.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Globals/Globals.h"
#include "emailexport/emailexport.h"
#include "maildecode/maildecode.h"

namespace corvane {
class TProgress;
}
class TDbxFiles;

namespace corvane::session {

// The message list's columns, their headings and widths in pixels.
enum TColumn : int { ColItemNum = 0, ColDate, ColFrom, ColTo, ColSubject, ColumnCount };
inline constexpr const char* kColumnHeadings[ColumnCount] = {"Item Num", "Date", "From", "To", "Subject"};
inline constexpr int kColumnWidths[ColumnCount] = {65, 150, 200, 200, 500};

// The order of texts for sorting a text column, supplied by the front end
// (the user's locale, ignoring letter case). One TSortKeys serves one sort:
// each text is added once, in row order, and prepared as the front end likes;
// Compare(i, j) orders the i-th and the j-th text added: negative when the
// i-th sorts first, 0 when they are equal, positive after.
class TSortKeys {
public:
    virtual ~TSortKeys() = default;
    virtual void Reserve(std::size_t /*count*/) {}
    virtual void Add(std::string_view utf8) = 0;
    virtual int Compare(std::size_t i, std::size_t j) const = 0;
};

class TCollation {
public:
    virtual ~TCollation() = default;
    virtual std::unique_ptr<TSortKeys> NewKeys() const = 0;
};

// Code point order of the case-folded texts (maildecode's FoldCase): the
// collation of a front end without a locale of its own, and of the tests.
class TFoldedCollation : public TCollation {
public:
    std::unique_ptr<TSortKeys> NewKeys() const override;
};

// Where the window's settings are kept between runs (the user's settings
// file, the registry), supplied by the front end. Values are plain strings.
class TSettingsStore {
public:
    virtual ~TSettingsStore() = default;
    virtual std::optional<std::string> Get(const std::string& key) const = 0;
    virtual void Set(const std::string& key, const std::string& value) = 0;
};

// Keys of the settings the session keeps.
inline constexpr const char* kDecodeTextsSetting = "Settings/DecodeTexts";
inline constexpr const char* kWholeMessagesSetting = "Settings/WholeMessages";
// The folder of the file last chosen in the open dialog (where it starts next
// time), and the folder last exported into (where both export dialogs start).
inline constexpr const char* kOpenFolderSetting = "Folders/Open";
inline constexpr const char* kExportFolderSetting = "Folders/Export";

// The pictures of the list's rows and the tree's nodes, by their place in the
// window's icon list (place 2 is not used).
enum TIcon : int {
    IconDeletedMessage = 0,  // envelope with a red cross
    IconLiveMessage = 1,     // envelope with a green tick
    IconFolderFile = 3,      // closed envelope: a folder file in the tree
    IconTopNode = 4,         // open yellow folder: a top-level tree node
};

// The file tree: the two top-level nodes "System Files" (the files Auto Scan
// found) and "Dbx Files" (the files opened), and a node per folder file
// below them. Nodes are never removed; a node's number is its place in the
// order of adding, the two top nodes first.
struct TTreeNode {
    std::string Text;  // what the node shows (a folder file's full path, as named)
    TIcon Icon = IconFolderFile;
    int Parent = -1;   // the node above, -1 for a top-level node
    std::string File;  // the folder file a click on the node loads; empty: none
};

class TFileTree {
public:
    static constexpr int kSystemFiles = 0;
    static constexpr int kDbxFiles = 1;

    TFileTree();
    // Adds a folder file's node (its path as its text) below parent.
    int AddFile(int parent, const std::string& path);
    // Adds a node of any text below parent; file (may be empty: a click
    // loads nothing) is what a click loads.
    int AddNode(int parent, const std::string& text, const std::string& file, TIcon icon = IconFolderFile);
    std::size_t Count() const { return nodes_.size(); }
    const TTreeNode& Node(int node) const { return nodes_.at(static_cast<std::size_t>(node)); }
    // The folder file a click on the node loads: empty for a top-level node
    // or none (-1).
    std::string FileOf(int node) const;
    // The first of nodes whose click loads a folder file; -1 when none does.
    int FirstWithFile(const std::vector<int>& nodes) const;

private:
    std::vector<TTreeNode> nodes_;
};

// The check boxes and the keyword filter, as the next load reads them.
struct TViewOptions {
    bool IncludeDeleted = false;  // "Include Deleted Emails"
    bool DecodeTexts = false;     // "Decode Texts": decoded header texts, bodies and filter
    bool WholeMessages = false;   // "Whole Messages": one record per live message
    bool FilterOn = false;        // the keyword filter is switched on
    std::string Keyword;          // the keyword applied (UTF-8), while FilterOn

    bool operator==(const TViewOptions&) const = default;
};

// What a call ends with for the user: nothing, or a message box with its text.
struct TOutcome {
    enum TBox { None, Information, Error };
    TBox Box = None;
    std::string Text;

    bool operator==(const TOutcome&) const = default;
};

// Hands a piece of work to the front end's event loop, to run after the
// present event (a posted event, a window message). Used to free a large
// list a slice at a time, so that no single event holds the loop long. Null:
// the work runs at once.
using TPostFunction = std::function<void(std::function<void()>)>;

class TMailSession {
public:
    // The collation must outlive the session; settings may be null (nothing
    // is remembered) and must outlive it otherwise.
    explicit TMailSession(const TCollation& collation, TSettingsStore* settings = nullptr);
    ~TMailSession();
    TMailSession(const TMailSession&) = delete;
    TMailSession& operator=(const TMailSession&) = delete;

    void SetPost(TPostFunction post) { post_ = std::move(post); }

    // --- the current folder file -------------------------------------------
    const TEmailArray& Emails() const { return emails_; }
    // The decoded header texts of Emails by index while "Decode Texts" is on
    // (empty otherwise).
    const std::vector<corvane::mail::TDecodedHeaders>& Decoded() const { return decoded_; }
    // The folder file last loaded whole; empty before the first.
    const std::string& CurrentFile() const { return currentFile_; }
    const TViewOptions& Options() const { return options_; }

    // The only way a folder file becomes the current one: reads it with the
    // present options, decides the rows (the filter searching the bodies)
    // and, with "Decode Texts", decodes the texts, all under progress; then
    // replaces the records and every row (unticked, in record order; the sort
    // column and direction stay). An empty path does nothing. A read that
    // fails or is stopped leaves the previous file's records and rows as they
    // were; since message files keep their names from one read to the next,
    // a read of another file that got past its scans has overwritten some of
    // the rows' texts, so those are written again first (without a stop);
    // should that fail too, the list is emptied rather than left over other
    // messages' texts. Then the error leaves here.
    void Load(const std::string& path, corvane::TProgress* progress);
    // Makes records read by other means the current ones, with rows for the
    // records `rows` names, in that order, unticked (every record in index
    // order when rows is empty): what a load does once it has read. The
    // current file and the options stay as they are.
    void ShowRecords(TEmailArray emails, std::vector<int> rows = {});
    // The most records a load holds (the records of a hundred million would
    // take all the memory there is): a folder file that gives more is refused
    // with ETooManyRecords, whose text names the file and the limit, and the
    // previous list stays. kListRecordLimit unless set.
    void SetRecordLimit(std::size_t records) { recordLimit_ = records; }
    std::size_t RecordLimit() const { return recordLimit_; }
    // What the user should be told once after some work, such as that the
    // usual temporary folder was taken by someone else and which serves
    // instead; empty when there is nothing to tell. Each text comes once.
    std::string TakeNotice();
    // The window is closing once the running work stops: a stopped load
    // writes no message files again.
    void SetClosing(bool closing) { closing_ = closing; }

    // The check boxes. Each sets its option and reads the current file again
    // (when there is one) as Load does; failed or stopped, the option goes
    // back to what it was. "Decode Texts" without the filter only decodes or
    // drops the texts of the records it has; "Decode Texts" and "Whole
    // Messages" are remembered in the settings (the state they end with).
    void SetIncludeDeleted(bool on, corvane::TProgress* progress);
    void SetWholeMessages(bool on, corvane::TProgress* progress);
    void SetDecodeTexts(bool on, corvane::TProgress* progress);
    // Reads the remembered "Decode Texts" and "Whole Messages" (decoding the
    // texts of the records there are, under progress).
    void LoadSettings(corvane::TProgress* progress);

    // The keyword filter. Apply with an empty keyword does nothing and gives
    // false; otherwise the filter goes on with the keyword and the current
    // file is read again (a keyword of blanks is not empty). Clear switches it
    // off and reads the file again. Failed or stopped, the filter goes back to
    // its previous state. Without a current file only the state changes.
    bool ApplyFilter(const std::string& keywordUtf8, corvane::TProgress* progress);
    void ClearFilter(corvane::TProgress* progress);

    // --- rows ------------------------------------------------------------
    // Counted up whenever the rows are replaced (each load), and whenever
    // the cells' texts change (decoded or raw): a front end compares them
    // with what it showed last to know what to show anew.
    std::uint64_t RowsVersion() const { return rowsVersion_; }
    std::uint64_t TextsVersion() const { return textsVersion_; }

    std::size_t RowCount() const { return rows_.size(); }
    // The record index a row stands for ("Item Num"), and its record.
    int RecordAt(std::size_t row) const { return rows_.at(row); }
    const TEmail& RecordOfRow(std::size_t row) const;
    bool RowDeleted(std::size_t row) const { return RecordOfRow(row).Deleted != 0; }
    // A cell's text: "Item Num" the record's index in decimal; the text
    // columns as the record holds them (each with the space that followed
    // the header's colon), or with "Decode Texts" decoded (the date in ISO
    // 8601 where it can be read).
    std::string CellText(std::size_t row, int column) const;

    bool Ticked(std::size_t row) const { return ticks_.at(row); }
    void SetTicked(std::size_t row, bool ticked) { ticks_.at(row) = ticked; }
    // "Quick Select All" / "Quick Deselect All".
    void SetAllTicks(bool ticked);
    std::size_t TickedCount() const;

    // --- sorting -----------------------------------------------------------
    // The column the list was last sorted by and the direction of the next
    // sort; they live as long as the session, loads keep them.
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortAscending_; }
    // A click on a column heading: on the last sorted column the direction
    // turns, on another the column changes and the direction stays; then the
    // rows are sorted stably by that column in that direction, their ticks
    // with them: "Item Num" by number, the text columns as shown through the
    // collation, except that decoded dates sort by the instant they name
    // (rows without a readable date after the dated ones). Returns for each
    // row's old position its new one. Out-of-range columns do nothing.
    std::vector<std::size_t> SortByColumn(int column);

    // --- preview -----------------------------------------------------------
    // What the preview shows for a row: the body stretch of its record's
    // message file as stored and a line break, or with "Decode Texts" the
    // decoded body and its attachments (maildecode's PreviewLayout), after
    // the index's lines for a record the index names (IndexLines). Raises
    // EFOpenError when the message file cannot be read.
    std::string PreviewText(std::size_t row) const;
    // The index's state of a record as header lines (UTF-8), each ended by
    // a line break, then an empty line: "Received: <ISO 8601>", "State: read,
    // answered, forwarded" (or "unread"), "Attachment: yes"; for a record
    // the index does not name "Index: not in the index"; empty when no index
    // was read.
    static std::string IndexLines(const TEmail& email);

    // --- exports -------------------------------------------------------------
    // The ticked rows, in the list's present order: their positions (which
    // name the files) and records.
    std::vector<corvane::mail::TExportItem> TickedItems() const;
    // "Export Selected" into a chosen folder (empty: the chooser was
    // cancelled, nothing happens): the writeability test, then every ticked
    // message as RecoveredEmail<position>.eml under progress. The outcome
    // says how it went: written, stopped (the files written stay whole),
    // files that could not be written, or the folder not writeable. The
    // folder is remembered. A message file that cannot be read leaves as the
    // error.
    TOutcome ExportEml(const std::string& folder, corvane::TProgress* progress);
    // "Export Selected To Mbox File...": the ticked messages into one mbox
    // file (empty name: the dialog was cancelled). A folder file is never
    // replaced; a stopped export leaves a file of that name as it was. `now`
    // dates the separator lines of messages without a readable date.
    TOutcome ExportMbox(const std::string& file, std::time_t now, corvane::TProgress* progress);

    // --- the file tree -----------------------------------------------------
    const TFileTree& Tree() const { return tree_; }
    // Folder files from the open dialog, the program's arguments or a drop:
    // each path whose extension is ".dbx" in any letter case gets a node
    // under "Dbx Files" (also when the same path has one already); other
    // paths are passed over. Returns the new nodes in the order given; the
    // caller selects the first and loads its file.
    std::vector<int> AddDbxFiles(const std::vector<std::string>& paths);
    // "Auto Scan For Files": the search (Search, by default every local fixed
    // drive) under progress, which hears of each folder entered and can stop
    // it; stopped or not, every folder file found gets a node under "System
    // Files". Returns the new nodes. Other errors of the search leave here,
    // after the nodes of what it found.
    // A Folders.dbx found gives its store's tree under "Dbx Files" too
    // (AddStoreFolder).
    std::vector<int> AutoScan(corvane::TProgress* progress);
    std::function<void(TDbxFiles&)> Search;
    // "Open Store Folder...": a store folder (one holding Folders.dbx) gets a
    // node under "Dbx Files" (its path) and below it its mail folders as a
    // tree, each named "Name (unread/total)" from Folders.dbx (in the
    // encoding of paths, as every node's text), a click loading its folder
    // file; a folder whose file is missing loads nothing. Folder files Folders.dbx does not name follow under the
    // store's node, by their own names. Returns the new nodes, the store's
    // first; none for a folder that is no store. What Folders.dbx lacks is
    // told by IndexStatus(). Raises EFOpenError when Folders.dbx cannot be read.
    std::vector<int> AddStoreFolder(const std::string& folder);

    // --- folder files carved out of a disk image ----------------------------
    // The images one chosen file stands for: a raw piece NAME.001 with the
    // pieces NAME.002, NAME.003, ... that follow it beside it, read as one
    // image; any other file alone.
    static std::vector<std::string> ImagePieces(const std::string& image);
    // The chooser's patterns of disk images, separated by ';' (E01 where
    // this build reads EWF images).
    static std::string DiskImagePatterns();
    struct TImageRecovery {
        TOutcome Outcome;        // what to tell: nothing found, or stopped
        std::vector<int> Nodes;  // the new nodes, the image's first
    };
    // "Recover From Disk Image...": carves the image (its pieces, as
    // ImagePieces) into outFolder (recovered-N.dbx, carve.json) under
    // progress, which can stop it, and hangs the folder files it wrote under
    // a node of their own below "Dbx Files", "Disk image NAME" (the image's
    // file name), a child per file labelled with its name, its pieces and
    // messages (texts::CarvedFileText), a click loading it. Stopped, the
    // files finished by then get their nodes all the same, and the outcome
    // says it was stopped; an image without any folder file gets no node
    // and an outcome that says so. An empty image or folder (a chooser
    // cancelled) does nothing. The carve's errors (an image that cannot be
    // opened, an output folder that cannot be made or lies on the device
    // being read, a failed write) leave here, after the nodes of the files
    // it finished before.
    TImageRecovery RecoverFromImage(const std::string& image, const std::string& outFolder,
                                    corvane::TProgress* progress);

    // --- the index -------------------------------------------------------------
    // What the status line should say about the folder file's index after
    // the last load or store opened: with "Whole Messages", why the index
    // could not be used (whole messages then follow the header lines); for
    // a store, why Folders.dbx could not be used whole. Empty: nothing to say.
    const std::string& IndexStatus() const { return indexStatus_; }

    // --- folders remembered --------------------------------------------------
    // The folder kept under key when it still exists, else fallback; and
    // keeping one (nothing without a settings store).
    std::string RememberedFolder(const char* key, const std::string& fallback) const;
    void RememberFolder(const char* key, const std::string& folder);

private:
    // Runs a load of path with options, committing on success; returns false
    // when there is nothing to load.
    void LoadWith(const std::string& path, const TViewOptions& options, corvane::TProgress* progress);
    // Sets an option, reloads, and puts the option back when that fails.
    void ChangeAndReload(TViewOptions changed, corvane::TProgress* progress);
    void SaveSettings();
    void RewriteMessageFiles(corvane::TProgress* progress);
    void ReplaceRecords(TEmailArray emails, std::vector<corvane::mail::TDecodedHeaders> decoded);
    void ReplaceDecoded(std::vector<corvane::mail::TDecodedHeaders> decoded);
    void ShowRows(std::vector<int> rows);
    template <typename T>
    void Release(std::vector<T> items);
    // The instant of each record's decoded date, seconds since 1970 UTC.
    const std::vector<std::optional<std::int64_t>>& DecodedInstants() const;

    const TCollation& collation_;
    TSettingsStore* settings_;
    TFileTree tree_;
    TPostFunction post_;

    TEmailArray emails_;
    std::vector<corvane::mail::TDecodedHeaders> decoded_;
    mutable std::vector<std::optional<std::int64_t>> instants_;  // filled at the first date sort
    std::string currentFile_;
    bool currentDeleted_ = false;  // "Include Deleted Emails" of the read of currentFile_
    TViewOptions options_;
    bool closing_ = false;
    std::size_t recordLimit_;
    std::string indexStatus_;

    std::uint64_t rowsVersion_ = 0;
    std::uint64_t textsVersion_ = 0;
    std::vector<int> rows_;     // record index of each row, in display order
    std::vector<bool> ticks_;   // tick of each row, in display order
    int sortColumn_ = ColItemNum;
    bool sortAscending_ = false;
};

}  // namespace corvane::session
