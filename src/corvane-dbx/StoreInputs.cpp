#include "corvane-dbx/StoreInputs.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "corvane-dbx/ListFormats.h"
#include "dbxindex/Store.h"
#include "platform/AnsiText.h"
#include "platform/Console.h"

namespace corvane::cli {
namespace {

namespace stdfs = std::filesystem;

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return stdfs::is_directory(path, ec);
}

std::vector<std::string> Utf8Path(const std::vector<std::string>& ansi) {
    std::vector<std::string> out;
    for (const std::string& name : ansi) out.push_back(corvane::ansi::ToUtf8(name));
    return out;
}

std::string Joined(const std::vector<std::string>& names) { return corvane::dbx::PathText(names); }

}  // namespace

TExpandedInputs ExpandStores(const std::vector<std::string>& paths, const std::string& storeFolder) {
    TExpandedInputs out;
    bool anyStore = false, picked = false;
    for (const std::string& path : paths) {
        if (!IsDirectory(path) || !corvane::dbx::IsStoreFolder(path)) {
            out.Paths.push_back(path);
            continue;
        }
        anyStore = true;
        corvane::dbx::TStore store;
        try {
            store = corvane::dbx::ReadStore(path);
        } catch (const std::exception& e) {
            out.Warnings.push_back(std::string(e.what()) + " Its folder files are named by their own names.");
            store.Problem = "x";
        }
        if (!store.Problem.empty() && !store.FolderList.empty())
            out.Warnings.push_back("\"" + corvane::console::PathToUtf8(store.FolderList) + "\" could not be used whole (" +
                                   store.Problem + "); folder files it does not name are named by their own names.");
        for (const corvane::dbx::TStoreFolder& f : store.Folders) {
            const std::vector<std::string> names = Utf8Path(f.Path);
            if (!storeFolder.empty() && Joined(names) != storeFolder) continue;
            picked = true;
            if (f.FileMissing) {
                out.Warnings.push_back("Folders.dbx names \"" + corvane::ansi::ToUtf8(f.Properties.FileName) +
                                       "\" for the folder \"" + Joined(names) + "\", which \"" +
                                       corvane::console::PathToUtf8(path) + "\" does not hold.");
                continue;
            }
            if (f.FilePath.empty()) continue;
            out.Paths.push_back(f.FilePath);
            out.Names[f.FilePath] = names;
        }
    }
    if (anyStore && !storeFolder.empty() && !picked) out.Error = "no store folder given has a folder \"" + storeFolder + "\"";
    return out;
}

std::string SafeFileName(const std::string& name) {
    std::string safe;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        safe += (u < 0x20 || u == 0x7F || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) ? '_' : c;
    }
    if (safe.size() > 120) {
        safe.resize(120);
        // Not inside a UTF-8 sequence.
        while (!safe.empty() && (static_cast<unsigned char>(safe.back()) & 0xC0) == 0x80) safe.pop_back();
        if (!safe.empty() && static_cast<unsigned char>(safe.back()) >= 0xC0) safe.pop_back();
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
    if (safe.empty()) return "_";
    std::string stem = safe.substr(0, safe.find('.'));
    for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    static const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL"};
    bool reserved = std::find(std::begin(kReserved), std::end(kReserved), stem) != std::end(kReserved);
    if (stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9')
        reserved = true;
    if (reserved) safe.insert(safe.begin(), '_');
    return safe;
}

int ListStoreFolders(const TOptions& o, TConsole& c) {
    bool failed = false;
    std::vector<std::vector<std::string>> rows;  // path, file, messages, unread, special, note
    std::string json = "[";
    std::size_t jsonRows = 0;
    for (const std::string& path : o.Paths) {
        if (!IsDirectory(path) || !corvane::dbx::IsStoreFolder(path)) {
            c.Err << "corvane-dbx: \"" << corvane::console::PathToUtf8(path) << "\" is no store folder (it holds no Folders.dbx).\n";
            failed = true;
            continue;
        }
        corvane::dbx::TStore store;
        try {
            store = corvane::dbx::ReadStore(path);
        } catch (const std::exception& e) {
            c.Err << "corvane-dbx: " << e.what() << '\n';
            failed = true;
            continue;
        }
        if (!store.Problem.empty())
            c.Err << "corvane-dbx: \"" << corvane::console::PathToUtf8(store.FolderList) << "\" could not be used whole ("
                  << store.Problem << ").\n";
        for (const corvane::dbx::TStoreFolder& f : store.Folders) {
            const std::string names = Joined(Utf8Path(f.Path));
            const std::string file = corvane::ansi::ToUtf8(f.Properties.FileName);
            const std::string special = corvane::dbx::SpecialFolderName(f.Properties.Special);
            const std::string note = f.FileMissing ? "file missing" : !f.Listed ? "not in Folders.dbx" : "";
            const std::string messages = f.Listed ? std::to_string(f.Properties.MessageCount) : "";
            const std::string unread = f.Listed ? std::to_string(f.Properties.UnreadCount) : "";
            if (o.Paths.size() > 1) rows.push_back({corvane::console::PathToUtf8(path)});
            else rows.emplace_back();
            for (const std::string& cell : {names, file, messages, unread, special, note}) rows.back().push_back(cell);
            json += jsonRows++ == 0 ? "\n" : ",\n";
            std::string names_json = "[";
            for (const std::string& n : Utf8Path(f.Path)) {
                if (names_json.size() > 1) names_json += ", ";
                names_json += JsonString(n);
            }
            json += "  {\"store\": " + JsonString(corvane::console::PathToUtf8(path)) + ", \"path\": " + JsonString(names) +
                    ", \"names\": " + names_json + "], \"file\": " + (file.empty() ? "null" : JsonString(file)) +
                    ", \"messages\": " + (f.Listed ? messages : "null") + ", \"unread\": " + (f.Listed ? unread : "null") +
                    ", \"special\": " + (special.empty() ? "null" : JsonString(special)) +
                    ", \"listed\": " + (f.Listed ? "true" : "false") + ", \"fileMissing\": " +
                    (f.FileMissing ? "true" : "false") + "}";
        }
    }
    std::vector<std::string> headings = {"Folder", "File", "Messages", "Unread", "Special", "Note"};
    if (o.Paths.size() > 1) headings.insert(headings.begin(), "Store");
    if (o.Format == TFormat::Json) {
        c.Out << json << (jsonRows > 0 ? "\n]\n" : "]\n");
    } else if (o.Format == TFormat::Csv) {
        const auto line = [&](const std::vector<std::string>& cells) {
            std::string text;
            for (const std::string& cell : cells) {
                if (!text.empty()) text += ',';
                text += CsvField(cell);
            }
            c.Out << text << "\r\n";
        };
        line(headings);
        for (const auto& row : rows) line(row);
    } else {
        std::vector<std::size_t> widths(headings.size(), 0);
        const auto width = [](const std::string& s) {
            return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char ch) {
                return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
            }));
        };
        for (std::size_t k = 0; k < headings.size(); ++k) widths[k] = width(headings[k]);
        for (const auto& row : rows)
            for (std::size_t k = 0; k < row.size(); ++k) widths[k] = std::max(widths[k], width(TerminalText(row[k], false)));
        const auto line = [&](const std::vector<std::string>& cells) {
            std::string text;
            for (std::size_t k = 0; k < cells.size(); ++k) {
                const std::string cell = TerminalText(cells[k], false);
                text += cell;
                if (k + 1 < cells.size()) text += std::string(widths[k] - width(cell) + 2, ' ');
            }
            while (!text.empty() && text.back() == ' ') text.pop_back();
            c.Out << text << '\n';
        };
        line(headings);
        for (const auto& row : rows) line(row);
    }
    c.Out.flush();
    return failed ? kExitFailed : kExitOk;
}

}  // namespace corvane::cli
