#include "dbxindex/Store.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "dbxindex/DbxFileHeader.h"
#include "dbxindex/IndexRecord.h"
#include "dbxindex/IndexTree.h"
#include "platform/Files.h"

namespace corvane::dbx {
namespace {

namespace stdfs = std::filesystem;

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A name for a file Folders.dbx does not name: its own folder name, else its
// file name without ".dbx".
std::string OwnName(const std::string& path) {
    try {
        fs::TReadFile file(path, fs::Share::None);
        const TDbxFileHeader header = ReadFileHeader(TFileSource(file));
        if (!header.FolderName.empty()) return header.FolderName;
    } catch (const std::exception&) {
    }
    return stdfs::path(path).stem().string();
}

// Deeper nesting is taken as a fault (Outlook Express's own tree is shallow);
// the bound keeps the walk's stack small.
constexpr std::size_t kMaxFolderDepth = 64;

}  // namespace

std::vector<TStoreFolder> ReadFolderList(const TByteSource& source, std::string& problem) {
    std::vector<TStoreFolder> out;
    const TDbxFileHeader header = ReadFileHeader(source);
    if (header.Kind != TFileKind::FolderList) {
        problem = "the file header does not name a folder list";
        return out;
    }
    const TTreeWalk walk = WalkIndexTree(source, header.RootNode, header.RecordCount);
    if (!walk.Complete) problem = walk.Problem;
    std::vector<TFolderProperties> records;
    for (const std::uint32_t value : walk.Values) {
        TRecordRead read = ReadIndexRecord(source, value);
        std::string why;
        std::optional<TFolderProperties> folder;
        if (read.Record) folder = FolderOf(*read.Record, why);
        else why = read.Problem;
        if (!folder) {
            problem = why;
            break;
        }
        records.push_back(std::move(*folder));
    }
    // Ids must be unique; children are found under their parent's id.
    std::map<std::uint32_t, std::size_t> byId;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (!byId.emplace(records[i].Id, i).second && problem.empty())
            problem = "two folder records carry the id " + std::to_string(records[i].Id);
    std::multimap<std::uint32_t, std::size_t> children;
    std::vector<std::size_t> tops;  // folders whose parent is missing: shown at the top, and told
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TFolderProperties& f = records[i];
        if (f.ParentId == kNoParent) continue;  // the root itself
        if (f.ParentId == f.Id || byId.count(f.ParentId) == 0) {
            if (problem.empty()) problem = "the folder \"" + f.Name + "\" has no parent in the list";
            tops.push_back(i);
            continue;
        }
        children.emplace(f.ParentId, i);
    }
    // Depth first from the roots; a folder reached again (a loop of parents)
    // is not followed twice.
    std::vector<bool> placed(records.size(), false);
    const auto place = [&](auto& self, std::size_t i, std::vector<std::string> path) -> void {
        if (placed[i]) return;
        placed[i] = true;
        if (path.size() >= kMaxFolderDepth) {
            if (problem.empty()) problem = "the folders nest deeper than " + std::to_string(kMaxFolderDepth) + " levels";
            path.resize(kMaxFolderDepth - 1);
        }
        path.push_back(records[i].Name);
        TStoreFolder folder;
        folder.Properties = records[i];
        folder.Path = path;
        out.push_back(std::move(folder));
        const auto [from, to] = children.equal_range(records[i].Id);
        for (auto it = from; it != to; ++it) self(self, it->second, path);
    };
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].ParentId != kNoParent) continue;
        placed[i] = true;  // the root: its children's paths begin below it
        const auto [from, to] = children.equal_range(records[i].Id);
        for (auto it = from; it != to; ++it) place(place, it->second, {});
    }
    for (const std::size_t i : tops) place(place, i, {});
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (placed[i]) continue;
        if (problem.empty()) problem = "the folder \"" + records[i].Name + "\" lies in a loop of parents";
        place(place, i, {});
    }
    return out;
}

std::string FindInFolder(const std::string& folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos) return {};
    const std::string want = Lower(name);
    std::error_code ec;
    for (const auto& entry : stdfs::directory_iterator(folder, ec)) {
        if (Lower(entry.path().filename().string()) != want) continue;
        std::error_code ignored;
        if (entry.is_regular_file(ignored)) return entry.path().string();
    }
    return {};
}

bool IsStoreFolder(const std::string& folder) { return !FindInFolder(folder, kFolderListName).empty(); }

TStore ReadStore(const std::string& folder) {
    TStore store;
    store.Folder = folder;
    store.FolderList = FindInFolder(folder, kFolderListName);
    if (store.FolderList.empty()) {
        store.Problem = "the folder holds no Folders.dbx";
    } else {
        fs::TReadFile file(store.FolderList, fs::Share::None);
        const TFileSource source(file);
        store.Folders = ReadFolderList(TPagedSource(source), store.Problem);
    }
    std::set<std::string> named;
    for (TStoreFolder& f : store.Folders) {
        if (f.Properties.FileName.empty()) continue;
        f.FilePath = FindInFolder(folder, f.Properties.FileName);
        f.FileMissing = f.FilePath.empty();
        if (!f.FilePath.empty()) named.insert(Lower(stdfs::path(f.FilePath).filename().string()));
    }
    // The mail folder files it does not name, by file name.
    std::vector<std::string> others;
    std::error_code ec;
    for (const auto& entry : stdfs::directory_iterator(folder, ec)) {
        const std::string file = entry.path().filename().string();
        const std::string lower = Lower(file);
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) || !lower.ends_with(".dbx") || lower == Lower(kFolderListName) ||
            named.count(lower) != 0)
            continue;
        others.push_back(entry.path().string());
    }
    std::sort(others.begin(), others.end());
    for (const std::string& path : others) {
        TStoreFolder f;
        f.Listed = false;
        f.FilePath = path;
        f.Properties.Name = OwnName(path);
        f.Properties.FileName = stdfs::path(path).filename().string();
        f.Path = {f.Properties.Name};
        store.Folders.push_back(std::move(f));
    }
    return store;
}

std::string PathText(const std::vector<std::string>& path) {
    std::string text;
    for (const std::string& name : path) {
        if (!text.empty()) text += '/';
        text += name;
    }
    return text;
}

}  // namespace corvane::dbx
