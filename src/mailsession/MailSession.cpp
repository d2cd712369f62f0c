#include "mailsession/MailSession.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <cstring>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <numeric>
#include <utility>

#include "carve/Carve.h"
#include "dbxindex/IndexRecord.h"
#include "dbxindex/MessageProperties.h"
#include "dbxindex/Store.h"
#include "emailexport/MboxExport.h"
#include "maildecode/MessageDate.h"
#include "mailsession/SessionTexts.h"
#include "outlookfile/outlookfile.h"
#include "platform/AnsiText.h"
#include "platform/Console.h"
#include "platform/Files.h"
#include "platform/ImageFiles.h"
#include "progress/Progress.h"
#include "sysdbxfiles/sysdbxfiles.h"

namespace corvane::session {
namespace {

// The read's batch of chain text: a few megabytes, so that a window's events
// are processed often while a batch is gathered.
constexpr std::size_t kReadBatch = std::size_t{8} << 20;
// How many records are freed in one posted piece of work.
constexpr std::size_t kReleaseStep = 8192;

// Passes the reports on and notes whether the read got past its scans (the
// scans write nothing; everything after them writes message files).
class TStageSpy : public corvane::TProgress {
public:
    explicit TStageSpy(corvane::TProgress* next) : next_(next) {}
    void Report(const char* Stage, std::int64_t Done, std::int64_t Total) override {
        if (!pastScanning_ && std::strncmp(Stage, "Scanning", 8) != 0) pastScanning_ = true;
        if (next_ != nullptr) next_->Report(Stage, Done, Total);
    }
    bool StopRequested() override { return next_ != nullptr && next_->StopRequested(); }
    bool PastScanning() const { return pastScanning_; }

private:
    corvane::TProgress* next_;
    bool pastScanning_ = false;
};

// Passes the reports on (the window stays alive) and never stops.
class TUnstoppable : public corvane::TProgress {
public:
    explicit TUnstoppable(corvane::TProgress* next) : next_(next) {}
    void Report(const char* Stage, std::int64_t Done, std::int64_t Total) override {
        if (next_ != nullptr) next_->Report(Stage, Done, Total);
    }
    bool StopRequested() override { return false; }

private:
    corvane::TProgress* next_;
};

// Raw header bytes (ANSI code page) as UTF-8. Plain ASCII reads the same in
// every code page and most header lines are; the conversion is skipped then.
std::string AnsiToUtf8(const std::string& bytes) {
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? bytes : corvane::ansi::ToUtf8(bytes);
}

const std::string& RawField(const TEmail& email, int column) {
    switch (column) {
        case ColDate: return email.Date;
        case ColFrom: return email.From;
        case ColTo: return email.To;
        default: return email.Subject;
    }
}

const std::string& DecodedField(const corvane::mail::TDecodedHeaders& d, int column) {
    switch (column) {
        case ColDate: return d.DateIso.empty() ? d.Date : d.DateIso;
        case ColFrom: return d.From;
        case ColTo: return d.To;
        default: return d.Subject;
    }
}

class TFoldedKeys : public TSortKeys {
public:
    void Reserve(std::size_t count) override { texts_.reserve(count); }
    void Add(std::string_view utf8) override { texts_.push_back(corvane::mail::FoldCase(utf8)); }
    int Compare(std::size_t i, std::size_t j) const override {
        const int c = texts_[i].compare(texts_[j]);
        return (c > 0) - (c < 0);
    }

private:
    std::vector<std::string> texts_;  // UTF-8 bytes compare in code point order
};

// The text with %1, %2, ... replaced by the values, in one pass (a value
// may hold a '%' of its own).
std::string Format(const std::string& text, std::initializer_list<std::string> values) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const auto n = static_cast<std::size_t>(next - '1');
        if (text[i] == '%' && next >= '1' && next <= '9' && n < values.size()) {
            out += *(values.begin() + n);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ParseBool(const std::optional<std::string>& value) { return value && (*value == "true" || *value == "1"); }

}  // namespace

std::unique_ptr<TSortKeys> TFoldedCollation::NewKeys() const { return std::make_unique<TFoldedKeys>(); }

TFileTree::TFileTree() {
    nodes_.push_back({texts::kSystemFiles, IconTopNode, -1, {}});
    nodes_.push_back({texts::kDbxFiles, IconTopNode, -1, {}});
}

int TFileTree::AddFile(int parent, const std::string& path) {
    static_cast<void>(Node(parent));  // raises for a node that does not exist
    nodes_.push_back({path, IconFolderFile, parent, path});
    return static_cast<int>(nodes_.size() - 1);
}

int TFileTree::AddNode(int parent, const std::string& text, const std::string& file, TIcon icon) {
    static_cast<void>(Node(parent));
    nodes_.push_back({text, icon, parent, file});
    return static_cast<int>(nodes_.size() - 1);
}

std::string TFileTree::FileOf(int node) const {
    if (node < 0 || static_cast<std::size_t>(node) >= nodes_.size()) return {};
    return nodes_[static_cast<std::size_t>(node)].File;
}

int TFileTree::FirstWithFile(const std::vector<int>& nodes) const {
    for (const int node : nodes)
        if (!FileOf(node).empty()) return node;
    return -1;
}

TMailSession::TMailSession(const TCollation& collation, TSettingsStore* settings)
    : Search([](TDbxFiles& files) { files.FindDbxFiles(); }),
      collation_(collation),
      settings_(settings),
      recordLimit_(kListRecordLimit) {}

std::string TMailSession::TakeNotice() { return corvane::fs::TakeTempFolderNotice(); }

TMailSession::~TMailSession() = default;

// ---------------------------------------------------------------------------
// Loading

void TMailSession::Load(const std::string& path, corvane::TProgress* progress) { LoadWith(path, options_, progress); }

void TMailSession::LoadWith(const std::string& path, const TViewOptions& options, corvane::TProgress* progress) {
    if (path.empty()) return;
    TEmailArray found;
    std::vector<std::size_t> shown;
    std::vector<corvane::mail::TDecodedHeaders> decoded;
    TStageSpy spy(progress);
    try {
        Toutlookfile reader;
        reader.SetWriteBatch(kReadBatch);
        reader.SetRecordLimit(recordLimit_);
        found = reader.GetEmails(path, options.IncludeDeleted, &spy, options.WholeMessages);
        indexStatus_ = reader.IndexProblem().empty()
                           ? std::string()
                           : "The index of \"" + corvane::console::PathToUtf8(path) + "\" could not be used (" + reader.IndexProblem() +
                                 "); whole messages are found by their header lines.";
        // The rows are decided before anything changes, so that a message
        // file that cannot be read, or a stop, leaves the previous state whole.
        shown = corvane::mail::FilteredRecords(found, options.FilterOn, corvane::mail::MakeKeyword(options.Keyword),
                                               options.DecodeTexts, &spy);
        if (options.DecodeTexts) decoded = corvane::mail::DecodeRecordHeaders(found, &spy);
    } catch (...) {
        // The message files share their names between reads: once this read
        // has written some, those of the rows shown may hold other texts.
        if (spy.PastScanning() && path != currentFile_ && !emails_.empty() && !closing_) {
            try {
                RewriteMessageFiles(progress);
            } catch (...) {
                // Rows whose texts are gone must not stay: an empty list
                // rather than other messages' texts under their names.
                ShowRows({});
                currentFile_.clear();
                ReplaceRecords({}, {});
            }
        }
        throw;
    }

    // The old rows go before the records they stand for.
    ShowRows({});
    currentFile_ = path;
    currentDeleted_ = options.IncludeDeleted;
    ReplaceRecords(std::move(found), std::move(decoded));
    ShowRows(std::vector<int>(shown.begin(), shown.end()));
}

void TMailSession::ShowRecords(TEmailArray emails, std::vector<int> rows) {
    if (rows.empty()) {
        rows.resize(emails.size());
        std::iota(rows.begin(), rows.end(), 0);
    }
    ShowRows({});
    ReplaceRecords(std::move(emails), {});
    ShowRows(std::move(rows));
}

void TMailSession::RewriteMessageFiles(corvane::TProgress* progress) {
    // Not to be stopped: the rows would point into other messages' texts.
    if (currentFile_.empty()) return;
    TUnstoppable unstoppable(progress);
    Toutlookfile reader;
    static_cast<void>(reader.GetEmails(currentFile_, currentDeleted_, &unstoppable));
}

namespace {
// Frees a list a slice at a time from its end, posting itself again until
// the list is empty.
template <typename T>
struct TReleaseStep {
    std::shared_ptr<std::vector<T>> Held;
    TPostFunction Post;
    void operator()() const {
        Held->erase(Held->end() - static_cast<std::ptrdiff_t>(std::min(kReleaseStep, Held->size())), Held->end());
        if (!Held->empty()) Post(*this);
    }
};
}  // namespace

template <typename T>
void TMailSession::Release(std::vector<T> items) {
    if (items.empty() || !post_) return;  // freed here, at once
    // Freeing a large list at once would hold the event loop noticeably.
    post_(TReleaseStep<T>{std::make_shared<std::vector<T>>(std::move(items)), post_});
}

void TMailSession::ReplaceRecords(TEmailArray emails, std::vector<corvane::mail::TDecodedHeaders> decoded) {
    Release(std::exchange(emails_, std::move(emails)));
    ReplaceDecoded(std::move(decoded));
}

void TMailSession::ReplaceDecoded(std::vector<corvane::mail::TDecodedHeaders> decoded) {
    Release(std::exchange(decoded_, std::move(decoded)));
    instants_.clear();
    ++textsVersion_;
}

void TMailSession::ShowRows(std::vector<int> rows) {
    ++rowsVersion_;
    rows_ = std::move(rows);
    rows_.shrink_to_fit();
    ticks_.assign(rows_.size(), false);
}

void TMailSession::ChangeAndReload(TViewOptions changed, corvane::TProgress* progress) {
    const TViewOptions before = options_;
    options_ = std::move(changed);
    SaveSettings();
    try {
        LoadWith(currentFile_, options_, progress);
    } catch (...) {
        // The rows still show the previous options: put them back.
        options_ = before;
        SaveSettings();
        throw;
    }
}

void TMailSession::SetIncludeDeleted(bool on, corvane::TProgress* progress) {
    TViewOptions changed = options_;
    changed.IncludeDeleted = on;
    ChangeAndReload(changed, progress);
}

void TMailSession::SetWholeMessages(bool on, corvane::TProgress* progress) {
    TViewOptions changed = options_;
    changed.WholeMessages = on;
    ChangeAndReload(changed, progress);
}

void TMailSession::SetDecodeTexts(bool on, corvane::TProgress* progress) {
    TViewOptions changed = options_;
    changed.DecodeTexts = on;
    // The filter searches other texts with the box than without it: with
    // the filter on, the file is read again.
    if (options_.FilterOn || currentFile_.empty()) {
        ChangeAndReload(changed, progress);
        return;
    }
    std::vector<corvane::mail::TDecodedHeaders> decoded;
    if (on && !emails_.empty()) decoded = corvane::mail::DecodeRecordHeaders(emails_, progress);
    options_ = changed;
    SaveSettings();
    ReplaceDecoded(std::move(decoded));
}

void TMailSession::LoadSettings(corvane::TProgress* progress) {
    if (settings_ == nullptr) return;
    const bool decode = ParseBool(settings_->Get(kDecodeTextsSetting));
    options_.WholeMessages = ParseBool(settings_->Get(kWholeMessagesSetting));
    if (decode != options_.DecodeTexts) {
        if (emails_.empty() || currentFile_.empty()) {
            options_.DecodeTexts = decode;
            ReplaceDecoded({});
        } else {
            SetDecodeTexts(decode, progress);
        }
    }
}

void TMailSession::SaveSettings() {
    if (settings_ == nullptr) return;
    settings_->Set(kDecodeTextsSetting, options_.DecodeTexts ? "true" : "false");
    settings_->Set(kWholeMessagesSetting, options_.WholeMessages ? "true" : "false");
}

bool TMailSession::ApplyFilter(const std::string& keywordUtf8, corvane::TProgress* progress) {
    if (keywordUtf8.empty()) return false;
    TViewOptions changed = options_;
    changed.FilterOn = true;
    changed.Keyword = keywordUtf8;
    ChangeAndReload(changed, progress);
    return true;
}

void TMailSession::ClearFilter(corvane::TProgress* progress) {
    TViewOptions changed = options_;
    changed.FilterOn = false;
    changed.Keyword.clear();
    ChangeAndReload(changed, progress);
}

// ---------------------------------------------------------------------------
// Rows

const TEmail& TMailSession::RecordOfRow(std::size_t row) const {
    return emails_.at(static_cast<std::size_t>(rows_.at(row)));
}

std::string TMailSession::CellText(std::size_t row, int column) const {
    const auto k = static_cast<std::size_t>(rows_.at(row));
    if (column == ColItemNum) return std::to_string(k);
    if (column < ColDate || column >= ColumnCount) return {};
    if (options_.DecodeTexts && k < decoded_.size()) return DecodedField(decoded_[k], column);
    return AnsiToUtf8(RawField(emails_.at(k), column));
}

void TMailSession::SetAllTicks(bool ticked) { ticks_.assign(rows_.size(), ticked); }

std::size_t TMailSession::TickedCount() const {
    return static_cast<std::size_t>(std::count(ticks_.begin(), ticks_.end(), true));
}

// ---------------------------------------------------------------------------
// Sorting

const std::vector<std::optional<std::int64_t>>& TMailSession::DecodedInstants() const {
    if (instants_.size() != decoded_.size()) {
        instants_.clear();
        instants_.reserve(decoded_.size());
        for (const corvane::mail::TDecodedHeaders& d : decoded_) {
            const auto date = corvane::mail::ReadMessageDate(d.Date);
            instants_.push_back(date ? std::optional<std::int64_t>(corvane::mail::UtcTime(*date)) : std::nullopt);
        }
    }
    return instants_;
}

std::vector<std::size_t> TMailSession::SortByColumn(int column) {
    if (column < ColItemNum || column >= ColumnCount) return {};
    if (column == sortColumn_)
        sortAscending_ = !sortAscending_;
    else
        sortColumn_ = column;
    const bool ascending = sortAscending_;

    const std::size_t n = rows_.size();
    // order[p]: the present position of the row that goes to position p.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (column == ColItemNum) {
        // Each record has at most one row, so the numbers never tie.
        std::sort(order.begin(), order.end(), [this, ascending](std::size_t a, std::size_t b) {
            return ascending ? rows_[a] < rows_[b] : rows_[b] < rows_[a];
        });
    } else if (column == ColDate && options_.DecodeTexts && !decoded_.empty()) {
        // By the instant each date names, whatever its zone; rows without a
        // date that can be read after the dated ones, in their order.
        const auto& instants = DecodedInstants();
        const auto instantOf = [&](std::size_t position) -> std::optional<std::int64_t> {
            const auto k = static_cast<std::size_t>(rows_[position]);
            return k < instants.size() ? instants[k] : std::nullopt;
        };
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const auto ia = instantOf(a), ib = instantOf(b);
            if (!ia || !ib) return ia.has_value() && !ib.has_value();
            return ascending ? *ia < *ib : *ib < *ia;
        });
    } else {
        // Each text is prepared for comparison once per sort.
        const std::unique_ptr<TSortKeys> keys = collation_.NewKeys();
        keys->Reserve(n);
        for (std::size_t p = 0; p < n; ++p) keys->Add(CellText(p, column));
        std::stable_sort(order.begin(), order.end(), [&keys, ascending](std::size_t a, std::size_t b) {
            return ascending ? keys->Compare(a, b) < 0 : keys->Compare(b, a) < 0;
        });
    }

    std::vector<int> rows(n);
    std::vector<bool> ticks(n);
    std::vector<std::size_t> newPosition(n);
    for (std::size_t p = 0; p < n; ++p) {
        rows[p] = rows_[order[p]];
        ticks[p] = ticks_[order[p]];
        newPosition[order[p]] = p;
    }
    rows_ = std::move(rows);
    ticks_ = std::move(ticks);
    return newPosition;
}

// ---------------------------------------------------------------------------
// Preview

std::string TMailSession::PreviewText(std::size_t row) const {
    const TEmail& email = RecordOfRow(row);
    if (!options_.DecodeTexts) {
        // The text and its closing line break in one piece: for a body of
        // many megabytes every extra copy counts.
        std::string text = corvane::mail::ReadMessageBody(email);
        text += '\n';
        return AnsiToUtf8(text);
    }
    return IndexLines(email) +
           corvane::mail::PreviewLayout(corvane::mail::DecodeMessage(corvane::mail::ReadMessageText(email)));
}

// ---------------------------------------------------------------------------
// Exports

std::vector<corvane::mail::TExportItem> TMailSession::TickedItems() const {
    std::vector<corvane::mail::TExportItem> items;
    for (std::size_t p = 0; p < rows_.size(); ++p)
        if (ticks_[p]) items.push_back({p, &emails_.at(static_cast<std::size_t>(rows_[p]))});
    return items;
}

TOutcome TMailSession::ExportEml(const std::string& folder, corvane::TProgress* progress) {
    if (folder.empty()) return {};
    if (!corvane::mail::FolderIsWriteable(folder)) return {TOutcome::Error, texts::kNotWriteable};
    RememberFolder(kExportFolderSetting, folder);

    const std::vector<corvane::mail::TExportItem> items = TickedItems();
    const corvane::mail::TExportReport report = corvane::mail::ExportEmails(items, folder, progress);
    if (report.Cancelled)
        return {TOutcome::Information,
                Format(texts::kExportStopped, {std::to_string(report.Written()), std::to_string(items.size())})};
    if (report.Failed() > 0)
        return {TOutcome::Error, Format(texts::kExportFailed, {std::to_string(report.Failed()),
                                                               std::to_string(report.Chosen), report.Failures.front()})};
    return {TOutcome::Information, texts::kExported};
}

TOutcome TMailSession::ExportMbox(const std::string& file, std::time_t now, corvane::TProgress* progress) {
    if (file.empty()) return {};
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    if (!ec) RememberFolder(kExportFolderSetting, absolute.parent_path().string());
    // The folder file the list came from, or any other, is never replaced.
    if (const std::string inTheWay = corvane::mail::FolderFileInTheWay(file, {currentFile_}); !inTheWay.empty())
        return {TOutcome::Error, inTheWay + " Nothing was written."};

    std::vector<const TEmail*> ticked;
    for (const corvane::mail::TExportItem& item : TickedItems()) ticked.push_back(item.Email);
    corvane::mail::TMboxReport report;
    try {
        report = corvane::mail::WriteMbox(ticked, file, now, progress);
    } catch (const corvane::ECancelled&) {
        return {TOutcome::Information, Format(texts::kMboxStopped, {file})};
    }
    return {TOutcome::Information, Format(texts::kMboxExported, {std::to_string(report.Written), file})};
}

// ---------------------------------------------------------------------------
// The file tree

std::vector<int> TMailSession::AddDbxFiles(const std::vector<std::string>& paths) {
    std::vector<int> added;
    for (const std::string& path : paths)
        if (corvane::mail::IsDbxPath(path)) added.push_back(tree_.AddFile(TFileTree::kDbxFiles, path));
    return added;
}

std::vector<int> TMailSession::AutoScan(corvane::TProgress* progress) {
    TDbxFiles files(progress);
    std::exception_ptr failure;
    try {
        if (Search) Search(files);
    } catch (const corvane::ECancelled&) {
        // Stopped: the files found until then are listed all the same.
    } catch (...) {
        failure = std::current_exception();
    }
    std::vector<int> added;
    std::vector<std::string> stores;
    for (const std::string& path : files.FileList()) {
        added.push_back(tree_.AddFile(TFileTree::kSystemFiles, path));
        const std::filesystem::path p(path);
        std::string name = p.filename().string();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "folders.dbx") stores.push_back(p.parent_path().string());
    }
    for (const std::string& store : stores) {
        try {
            for (const int node : AddStoreFolder(store)) added.push_back(node);
        } catch (const std::exception&) {
            // A Folders.dbx that cannot be read still has its node above.
        }
    }
    if (failure) std::rethrow_exception(failure);
    return added;
}

std::vector<int> TMailSession::AddStoreFolder(const std::string& folder) {
    std::vector<int> added;
    if (!corvane::dbx::IsStoreFolder(folder)) return added;
    const corvane::dbx::TStore store = corvane::dbx::ReadStore(folder);
    indexStatus_ = store.Problem.empty() ? std::string()
                                         : "\"" + corvane::console::PathToUtf8(store.FolderList) + "\" could not be used whole (" +
                                               store.Problem + "); its folder files are named by their own names.";
    const int top = tree_.AddNode(TFileTree::kDbxFiles, folder, {}, IconTopNode);
    added.push_back(top);
    // Each folder below the node of its path's parent.
    std::map<std::vector<std::string>, int> nodes;
    for (const corvane::dbx::TStoreFolder& f : store.Folders) {
        std::vector<std::string> parentPath(f.Path.begin(), f.Path.end() - 1);
        const auto parent = nodes.find(parentPath);
        // In the encoding of paths, as every node's text: the front ends show them alike.
        std::string text = corvane::console::PathFromUtf8(corvane::ansi::ToUtf8(f.Path.back()));
        if (f.Listed)
            text += " (" + std::to_string(f.Properties.UnreadCount) + "/" + std::to_string(f.Properties.MessageCount) + ")";
        const int node = tree_.AddNode(parent != nodes.end() ? parent->second : top, text, f.FilePath,
                                       f.FilePath.empty() && !f.FileMissing ? IconTopNode : IconFolderFile);
        nodes[f.Path] = node;
        added.push_back(node);
    }
    return added;
}

// ---------------------------------------------------------------------------
// Disk images

std::vector<std::string> TMailSession::ImagePieces(const std::string& image) {
    std::vector<std::string> pieces{image};
    const std::filesystem::path first(image);
    if (first.extension().string() != ".001") return pieces;
    const std::string stem = image.substr(0, image.size() - 3);
    std::error_code ec;
    for (int n = 2; n <= 999; ++n) {
        std::string number = std::to_string(n);
        const std::string next = stem + std::string(3 - number.size(), '0') + number;
        if (!std::filesystem::is_regular_file(next, ec)) break;
        pieces.push_back(next);
    }
    return pieces;
}

std::string TMailSession::DiskImagePatterns() {
    std::string patterns = "*.img;*.dd;*.raw;*.bin;*.001";
    if (corvane::fs::ReadsEwfImages()) patterns += ";*.E01";
    return patterns;
}

TMailSession::TImageRecovery TMailSession::RecoverFromImage(const std::string& image, const std::string& outFolder,
                                                            corvane::TProgress* progress) {
    TImageRecovery recovery;
    if (image.empty() || outFolder.empty()) return recovery;
    const std::string name = std::filesystem::path(image).filename().string();
    std::vector<corvane::carve::TCarvedFile> written;
    corvane::carve::TCarveOptions options;
    options.OutFolder = outFolder;
    options.FileWritten = [&written](const corvane::carve::TCarvedFile& file) { written.push_back(file); };
    bool stopped = false;
    std::optional<std::int64_t> full;  // the bytes searched, when the memory was full
    std::exception_ptr failure;
    try {
        const corvane::carve::TCarveResult result = corvane::carve::Carve(ImagePieces(image), options, progress);
        if (result.MemoryFull) full = result.ImageBytes;
    } catch (const corvane::ECancelled&) {
        // The files finished until then stay whole and are listed.
        stopped = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!written.empty()) {
        const int top = tree_.AddNode(TFileTree::kDbxFiles, texts::DiskImageNodeText(name), {}, IconTopNode);
        recovery.Nodes.push_back(top);
        for (const corvane::carve::TCarvedFile& file : written)
            recovery.Nodes.push_back(tree_.AddNode(
                top,
                texts::CarvedFileText(std::filesystem::path(file.Path).filename().string(), file.Pieces.size(),
                                      file.Complete, file.Partial, file.Live()),
                file.Path));
    }
    if (failure) std::rethrow_exception(failure);
    if (stopped)
        recovery.Outcome = {TOutcome::Information,
                            written.empty() ? Format(texts::kRecoveryStoppedEarly, {name})
                                            : Format(texts::kRecoveryStopped, {name, std::to_string(written.size())})};
    else if (full)
        recovery.Outcome = {TOutcome::Information,
                            Format(texts::kRecoveryMemoryFull, {name, std::to_string(*full), std::to_string(written.size())})};
    else if (written.empty())
        recovery.Outcome = {TOutcome::Information, Format(texts::kNoFolderFilesFound, {name})};
    return recovery;
}

std::string TMailSession::IndexLines(const TEmail& email) {
    if (email.IndexState == TIndexState::Unknown) return {};
    if (!email.Index) return "Index: not in the index\n\n";
    const TIndexEntry& e = *email.Index.Entry;
    std::string lines;
    if (const std::string received = corvane::dbx::FileTimeToIso(e.ReceivedTime); !received.empty())
        lines += "Received: " + received + "\n";
    if (e.HasFlags) {
        std::string state = (e.Flags & corvane::dbx::kFlagRead) != 0 ? "read" : "unread";
        if ((e.Flags & corvane::dbx::kFlagAnswered) != 0) state += ", answered";
        if ((e.Flags & corvane::dbx::kFlagForwarded) != 0) state += ", forwarded";
        lines += "State: " + state + "\n";
        lines += std::string("Attachment: ") + ((e.Flags & corvane::dbx::kFlagAttachment) != 0 ? "yes" : "no") + "\n";
    }
    return lines.empty() ? lines : lines + "\n";
}

// ---------------------------------------------------------------------------
// Remembered folders

std::string TMailSession::RememberedFolder(const char* key, const std::string& fallback) const {
    if (settings_ == nullptr) return fallback;
    const std::optional<std::string> folder = settings_->Get(key);
    std::error_code ec;
    if (folder && !folder->empty() && std::filesystem::is_directory(*folder, ec)) return *folder;
    return fallback;
}

void TMailSession::RememberFolder(const char* key, const std::string& folder) {
    if (settings_ == nullptr || folder.empty()) return;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    if (ec) {
        settings_->Set(key, folder);
        return;
    }
    // Without a separator at its end, as the folder's own name.
    std::filesystem::path clean = absolute.lexically_normal();
    if (!clean.has_filename() && clean != clean.root_path()) clean = clean.parent_path();
    settings_->Set(key, clean.string());
}

}  // namespace corvane::session
