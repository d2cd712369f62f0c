#pragma once
// corvane-dbx, the command-line program: what its arguments mean and how a
// command runs. The program's main only hands over its arguments and streams;
// tests and the argument fuzzer call these directly.
//
//   corvane-dbx list   [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--format table|csv|json] FILE.dbx...
//   corvane-dbx export [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--items LIST] (--out DIR | --mbox FILE) FILE.dbx...
//   corvane-dbx show   [--deleted] [--raw] [--whole-messages] ITEM FILE.dbx
//   corvane-dbx find   [FOLDER...]
//   corvane-dbx folders [--format table|csv|json] STORE-FOLDER...
// A store folder (one that holds Folders.dbx) stands for its mail folder
// files wherever a folder file may be given; --folder PATH picks one.
//   corvane-dbx --help | --version | COMMAND --help

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace corvane::cli {

enum class TCommand { None, List, Export, Show, Find, Folders };
enum class TFormat { Table, Csv, Json };

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
    std::string MboxFile;            // --mbox
    std::string MboxTree;            // --mbox-tree: one mbox per folder, as Thunderbird imports a tree
    std::string StoreFolder;         // --folder: of a store, only the folder of this path of names
    std::size_t ShowItem = 0;        // show's ITEM
    std::vector<std::string> Paths;  // folder files, or find's folders
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
    bool ShowProgress = false;  // a progress line on Err while a folder file is read
    std::size_t WriteThreads = 0;  // threads writing .eml files; 0: one per core, at least 2
    // Seams for tests, unset in the program. StopAt hears every progress
    // report of a command's long work (the read's stages, each .eml file
    // written: kExportStage), on any thread; an answer other than 0 asks the
    // command to stop as that signal would. AfterScan is called with a
    // folder file's name once its blocks are found, before its chains are
    // read.
    std::function<int(const char* stage, std::int64_t done)> StopAt{};
    std::function<void(const std::string& folderFile)> AfterScan{};
};

// Runs the program with the arguments that follow its name; returns the
// exit status.
int RunCorvaneDbx(const std::vector<std::string>& arguments, TConsole& console);

}  // namespace corvane::cli
