#pragma once
// corvane-dbx, the command-line program: what its arguments mean and how a
// command runs. The program's main only hands over its arguments and streams;
// tests and the argument fuzzer call these directly.
//
//   corvane-dbx list   [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--format table|csv|json] FILE.dbx...
//   corvane-dbx export [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--items LIST]
//                      (--out DIR [--names row|item|date-subject] [--overwrite | --skip-existing] | --mbox FILE | --mbox-tree DIR) FILE.dbx...
//   corvane-dbx show   [--deleted] [--raw] [--whole-messages] ITEM FILE.dbx
// (FILE.dbx: a folder file, "-" for standard input, a pipe, or a folder of
// folder files; list, export and show also take --progress)
//   corvane-dbx find   [FOLDER...]
//   corvane-dbx carve  [--partial] (--out DIR | --list) IMAGE...
//   corvane-dbx folders [--format table|csv|json] STORE-FOLDER...
// A store folder (one that holds Folders.dbx) stands for its mail folder
// files wherever a folder file may be given; --folder PATH picks one.
//   corvane-dbx --help | --version | COMMAND --help

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "corvane-dbx/ExportNames.h"

namespace corvane::cli {

enum class TCommand { None, List, Export, Show, Find, Carve, Folders };
enum class TFormat { Table, Csv, Json };
// What export --out does with a name that holds a file already.
enum class TExisting {
    Refuse,     // nothing is written (the default)
    Overwrite,  // --overwrite: replaced, once the new file is whole
    Skip,       // --skip-existing: kept; the other messages are written
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // something could not be done; the rest was
inline constexpr int kExitUsage = 2;   // the arguments make no sense; nothing was done

struct TOptions {
    TCommand Command = TCommand::None;
    bool Help = false;     // --help: the program's or the command's help
    bool Version = false;  // --version
    bool Deleted = false;  // --deleted: deleted messages too
    bool Raw = false;      // --raw: the texts as the records hold them, the filter on the raw body only
    bool WholeMessages = false;  // --whole-messages: one record per live message
    bool FilterOn = false;
    std::string Keyword;   // --filter, as given (the terminal's character set)
    TFormat Format = TFormat::Table;
    bool ItemsGiven = false;
    std::vector<std::size_t> Items;  // --items, ascending, without repeats
    std::string OutFolder;           // --out
    bool List = false;               // carve --list: report, write nothing
    bool Partial = false;            // carve --partial: the partial messages too
    std::string MboxFile;            // --mbox
    TNames Names = TNames::Row;      // --names
    TExisting Existing = TExisting::Refuse;
    bool Progress = false;           // --progress: the progress line also when standard error is no terminal
    std::string MboxTree;            // --mbox-tree: one mbox per folder, as Thunderbird imports a tree
    std::string StoreFolder;         // --folder: of a store, only the folder of this path of names
    std::size_t ShowItem = 0;        // show's ITEM
    std::vector<std::string> Paths;  // folder files, find's folders, or carve's images
};

struct TParsed {
    TOptions Options;
    std::string Error;  // empty when the arguments are sound
};

// Reads the arguments that follow the program's name. Options may stand
// anywhere after the command, as "--name VALUE" or "--name=VALUE"; "--" ends
// them. Never throws.
TParsed ParseArguments(const std::vector<std::string>& arguments);

// The help of the program (TCommand::None) or of one command.
std::string HelpText(TCommand command);

// Where the program's output goes and what the terminal can show.
struct TConsole {
    std::ostream& Out;
    std::ostream& Err;
    int OutWidth = 0;         // columns of the terminal behind Out; 0: none
    bool ShowProgress = false;  // Err is a terminal: a progress line while the work runs, a summary at its end
    std::size_t WriteThreads = 0;  // threads writing .eml files; 0: one per core, at least 2
    // Seams for tests, unset in the program. StopAt hears every progress
    // report of a command's long work (the read's stages, each .eml file
    // written: kExportStage), on any thread; an answer other than 0 asks the
    // command to stop as that signal would. AfterScan is called with a
    // folder file's name once its blocks are found, before its chains are
    // read.
    std::function<int(const char* stage, std::int64_t done)> StopAt{};
    std::function<void(const std::string& folderFile)> AfterScan{};
    // The clock of the progress line and the summary's time; unset: the
    // steady clock.
    std::function<std::chrono::steady_clock::time_point()> Clock{};
};

// Runs the program with the arguments that follow its name; returns the
// exit status.
int RunCorvaneDbx(const std::vector<std::string>& arguments, TConsole& console);

}  // namespace corvane::cli
