#include "corvane-dbx/CommandLine.h"

#include "corvane-dbx/CarveCommand.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <set>

namespace corvane::cli {
namespace {

const char* const kUsage =
    "usage: corvane-dbx list   [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--format table|csv|json]\n"
    "                          [--progress] FILE.dbx...\n"
    "       corvane-dbx export [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--items LIST] [--progress]\n"
    "                          [--folder PATH]\n"
    "                          (--out DIR [--names row|item|date-subject] [--overwrite | --skip-existing]\n"
    "                           | --mbox FILE | --mbox-tree DIR) FILE.dbx...\n"
    "       corvane-dbx show   [--deleted] [--raw] [--whole-messages] [--progress] [--folder PATH] ITEM FILE.dbx\n"
    "       corvane-dbx find   [FOLDER...]\n"
    "       corvane-dbx carve  [--partial] (--out DIR | --list) IMAGE...\n"
    "       corvane-dbx folders [--format table|csv|json] STORE-FOLDER...\n"
    "       corvane-dbx --help | --version | COMMAND --help\n";

const char* const kProgramHelp =
    "corvane-dbx recovers e-mail from Outlook Express mail folder files (.dbx),\n"
    "live messages and, with --deleted, the deleted ones not yet overwritten.\n"
    "It only ever reads the folder files.\n\n"
    "Commands:\n"
    "  list    list the messages of folder files: item number, deleted flag,\n"
    "          date, from, to, subject\n"
    "  export  write messages as .eml files, byte for byte\n"
    "  show    write the text of one message to standard output\n"
    "  find    find folder files on the local disks or below folders\n"
    "  carve   reconstruct the folder files whose blocks are in a disk image or\n"
    "          on a device (deleted files, a reformatted disk)\n\n"
    "  folders list the mail folders of a store folder\n\n"
    "A store folder is a folder that holds Folders.dbx, the list of the mail\n"
    "folders, beside their folder files (Inbox.dbx, Folder1.dbx, ...). list,\n"
    "export and show take a store folder wherever they take a folder file, and\n"
    "name each folder by its path of names (\"Local Folders/Inbox\"); --folder\n"
    "PATH picks one. Without a usable Folders.dbx a folder file is named by the\n"
    "name it holds itself, or its file name.\n\n"
    "Each folder file's own index says which messages are live and holds their\n"
    "flags and dates: JSON and CSV show them (flags, received, messageId,\n"
    "inIndex). With --whole-messages the live messages come from the index when\n"
    "it can be read: each whole, those without header lines too, then the live\n"
    "texts the index no longer names; when it cannot, standard error says why.\n\n"
    "Item numbers are the messages' indexes in their folder file's list: the live\n"
    "messages first, then with --deleted the deleted ones. Texts are shown as a\n"
    "mail program shows them: encoded words decoded, the body's MIME parts\n"
    "undone, in UTF-8; --raw shows them as stored, as the window does with\n"
    "\"Decode Texts\" cleared. --filter keeps the messages whose body holds the\n"
    "keyword in any letter case, decoded or as stored; the item numbers keep\n"
    "their gaps. The recovered texts stay in memory (a very long one in a\n"
    "private file of the run): the command line writes no message files.\n\n"
    "FILE.dbx may be \"-\" for standard input, a pipe or any other input that\n"
    "can only be read once (it is copied into a private file of the run, which\n"
    "goes when the run ends), or a folder: all the folder files in it, sorted.\n"
    "A folder file shorter than its header says is told of; what is there is\n"
    "read. On a terminal a progress line shows how far the work is, and a\n"
    "summary line follows at its end; --progress shows them on any standard\n"
    "error. A choice that holds no message is no failure: the status is 0.\n\n"
    "A new message starts at every header block found in a recovered text, so a\n"
    "forwarded message, a bounce, a digest or a quoted header block splits a\n"
    "message into several. --whole-messages gives one message per live message\n"
    "instead, its text whole: a forward that attaches the original (Fw: ...,\n"
    "with the original's Received, From, To and Subject lines in its body) is\n"
    "listed twice without it, the second time under the original's sender and\n"
    "subject, and its export stops where the original begins; with it the\n"
    "forward is listed once and exported whole, the original inside it.\n"
    "Deleted messages are found the same way either way.\n\n"
    "A file that does not begin as a folder file does is scanned all the same,\n"
    "with a warning; when nothing is found in it the status is 1.\n\n"
    "Exit status: 0 done, 1 something failed (the rest was done; output that\n"
    "could not be written counts), 2 bad usage.\n";

const char* const kListHelp =
    "usage: corvane-dbx list [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--format table|csv|json]\n"
    "                        [--progress] FILE.dbx...\n\n"
    "Lists one row per message: item number, deleted flag, date, from, to,\n"
    "subject; live messages first, then the deleted ones. With several folder\n"
    "files each row also names its folder file. The header texts are decoded\n"
    "(encoded words, folded lines).\n\n"
    "  --deleted          include the messages recovered from deleted blocks\n"
    "  --raw              the header texts as stored, as the window lists them\n"
    "                     with \"Decode Texts\" cleared; --filter then searches\n"
    "                     the body as stored only\n"
    "  --whole-messages   one row per live message: a header block in its text\n"
    "                     (a forwarded message, a bounce) starts no row of its own\n"
    "  --filter KEYWORD   only the messages whose body holds KEYWORD (any letter\n"
    "                     case), in its decoded text or as stored\n"
    "  --format table     columns aligned and cut to the terminal's width (default)\n"
    "  --format csv       comma-separated values (RFC 4180), UTF-8\n"
    "  --format json      an array of records, UTF-8; without --raw each record\n"
    "                     also has dateIso (ISO 8601 or null), attachments\n"
    "                     (name, type, size) and raw (the four texts as stored)\n"
    "  --progress         the progress line and summary also when standard error\n"
    "                     is no terminal\n"
    "  --folder PATH      of a store folder, only the folder of that path of names\n\n"
    "CSV adds Date ISO (the date in ISO 8601, empty when it cannot be read) and\n"
    "names the folder file on every row when several are read. CSV and JSON\n"
    "tell where each message lies: chainOffset (Chain Offset), the offset in\n"
    "the folder file of the first block of the message's chain; messageStart,\n"
    "headerEnd, messageEnd, the message's stretch within the chain's text\n"
    "(headerEnd 0 when no blank line ends the header block); sha1 (SHA-1), of\n"
    "the message's bytes as export writes them.\n\n"
    "CSV and JSON also carry what the folder file's index says: flags (read,\n"
    "attachment, answered, forwarded, draft, marked, signed, watched, ignored),\n"
    "received (ISO 8601 UTC), messageId and inIndex (whether the index names the\n"
    "message; empty or null when the index could not be read).\n";

const char* const kExportHelp =
    "usage: corvane-dbx export [--deleted] [--raw] [--whole-messages] [--filter KEYWORD] [--items LIST] [--progress]\n"
    "                          [--folder PATH]\n"
    "                          (--out DIR [--names row|item|date-subject] [--overwrite | --skip-existing]\n"
    "                           | --mbox FILE | --mbox-tree DIR) FILE.dbx...\n\n"
    "Writes the chosen messages as .eml files into DIR, byte for byte. With\n"
    "several folder files each one's messages go into a folder of DIR named\n"
    "after the folder file. A file that holds one of the names is never replaced\n"
    "unless --overwrite asks; without it or --skip-existing nothing at all is\n"
    "written and the first such name is told (status 1). A file is written as\n"
    "NAME.part and renamed only once it is complete, so a link of that name is\n"
    "replaced, never written through.\n\n"
    "  --deleted          include the messages recovered from deleted blocks\n"
    "  --whole-messages   each live message whole, as it was stored; without it a\n"
    "                     forwarded message or a bounce is cut where the header\n"
    "                     block in its text begins, and that part is a message of\n"
    "                     its own\n"
    "  --filter KEYWORD   only the messages whose body holds KEYWORD (any letter\n"
    "                     case), in its decoded text or as stored\n"
    "  --raw              --filter searches the body as stored only, as list --raw\n"
    "  --items LIST       only these item numbers, e.g. 0,2,5-9 (default: every row)\n"
    "  --out DIR          the folder to write into (made when missing)\n"
    "  --names row        RecoveredEmail<N>.eml, N the message's row position in\n"
    "                     the list, counted from 0 after the filter (default)\n"
    "  --names item       RecoveredEmail<ITEM>.eml, ITEM the item number list shows\n"
    "  --names date-subject\n"
    "                     the date and subject, e.g. \"2003-05-06 1000 Fwd the\n"
    "                     original.eml\": made safe for any file system, cut to a\n"
    "                     sane length, \" (2)\" added when two messages meet\n"
    "  --overwrite        replace files of the names written\n"
    "  --skip-existing    keep files of the names written; write the others\n"
    "  --progress         the progress line and summary also when standard error\n"
    "                     is no terminal\n"
    "  --mbox FILE        write the messages into one mbox file instead (mboxrd, as\n"
    "                     Thunderbird, Evolution and mutt open it); with several\n"
    "                     folder files all go into it, folder file by folder file.\n"
    "                     FILE is replaced only once the new one is complete, and\n"
    "                     only when every folder file was read and a message was\n"
    "                     written (items not found are reported; the messages\n"
    "                     found are still written). A folder file is never\n"
    "                     replaced: FILE may not be one of the folder files, nor\n"
    "                     a file named *.dbx or one that begins as a folder file.\n"
    "  --mbox-tree DIR    one mbox per folder, in a tree Thunderbird's mbox import\n"
    "                     takes: DIR/NAME, its sub-folders in DIR/NAME.sbd/\n"
    "  --folder PATH      of a store folder, only the folder of that path of names\n"
    "A store folder's messages go into one sub-folder of DIR per mail folder,\n"
    "named by its path of names (characters a file name may not hold become _).\n"
    "Use one of --out DIR, --mbox FILE and --mbox-tree DIR. When no message is\n"
    "chosen (a filter or --items that matches none) nothing is written, an mbox\n"
    "file of that name stays as it was, and the status is 0.\n";

const char* const kShowHelp =
    "usage: corvane-dbx show [--deleted] [--raw] [--whole-messages] [--progress] [--folder PATH] ITEM FILE.dbx\n\n"
    "Writes the text of message ITEM (its item number in list) to standard output\n"
    "as UTF-8: the From, To, Date and Subject lines it has (decoded), an empty\n"
    "line, then its body followed by the list of its attachments, as the\n"
    "window's preview shows it with \"Decode Texts\" ticked. On a terminal, control characters\n"
    "that could start an escape sequence are shown as spaces or U+FFFD, as list's\n"
    "table shows them; to a file or a pipe the text goes byte for byte.\n\n"
    "  --deleted          count the messages recovered from deleted blocks too\n"
    "  --raw              the body as stored instead, raw bytes and no header\n"
    "                     lines, as the window's preview shows it with \"Decode\n"
    "                     Texts\" cleared\n"
    "  --whole-messages   count one message per live message, as list does with it;\n"
    "                     the body then runs to the end of the message\n"
    "  --folder PATH      the folder of a store folder (needed when it has several)\n";

const char* const kFoldersHelp =
    "usage: corvane-dbx folders [--format table|csv|json] STORE-FOLDER...\n\n"
    "Lists the mail folders of a store folder (one that holds Folders.dbx): the\n"
    "path of names, the folder file, the message and unread counts Folders.dbx\n"
    "keeps, and the special kind (inbox, outbox, sent, deleted, drafts). Folder\n"
    "files that Folders.dbx does not name are listed after the others, named by\n"
    "the name they hold; a file it names that is missing is marked so.\n\n"
    "  --format table     columns aligned (default)\n"
    "  --format csv       comma-separated values (RFC 4180), UTF-8\n"
    "  --format json      an array of records, UTF-8\n";

const char* const kFindHelp =
    "usage: corvane-dbx find [FOLDER...]\n\n"
    "Prints the folder files (*.dbx, any letter case) found, one path a line: on\n"
    "every local fixed disk when no folder is given, else below each folder.\n";

bool ParseNumber(const std::string& text, std::size_t& value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// "0,2,5-9" into its numbers, ascending and without repeats. The ranges are
// merged before they are counted out, so a long range costs one number per
// item and no more.
bool ParseItems(const std::string& text, std::vector<std::size_t>& items, std::string& error) {
    constexpr std::size_t kMostItems = 10'000'000;  // a list of more is a typing error
    std::vector<std::pair<std::size_t, std::size_t>> ranges;  // [from, to]
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string part = text.substr(start, comma - start);
        const auto dash = part.find('-');
        std::size_t from = 0, to = 0;
        const bool ok = dash == std::string::npos
                            ? ParseNumber(part, from) && ParseNumber(part, to)
                            : ParseNumber(part.substr(0, dash), from) && ParseNumber(part.substr(dash + 1), to);
        if (!ok || from > to) {
            error = "--items: \"" + part + "\" is not an item number or range (such as 0,2,5-9)";
            return false;
        }
        if (to - from >= kMostItems) {
            error = "--items: too many items";
            return false;
        }
        ranges.emplace_back(from, to);
        start = comma + 1;
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::size_t, std::size_t>> merged;
    std::size_t count = 0;
    for (const auto& [from, to] : ranges) {
        // (a range that ends at the largest number takes in every later one)
        if (!merged.empty() &&
            (merged.back().second == std::numeric_limits<std::size_t>::max() || from <= merged.back().second + 1)) {
            if (to > merged.back().second) {
                count += to - merged.back().second;
                merged.back().second = to;
            }
        } else {
            merged.emplace_back(from, to);
            count += to - from + 1;
        }
        if (count >= kMostItems) {
            error = "--items: too many items";
            return false;
        }
    }
    items.clear();
    items.reserve(count);
    for (const auto& [from, to] : merged)
        for (std::size_t i = from;; ++i) {
            items.push_back(i);
            if (i == to) break;
        }
    return true;
}

}  // namespace

std::string HelpText(TCommand command) {
    switch (command) {
        case TCommand::List: return kListHelp;
        case TCommand::Export: return kExportHelp;
        case TCommand::Show: return kShowHelp;
        case TCommand::Find: return kFindHelp;
        case TCommand::Carve: return kCarveHelp;
        case TCommand::Folders: return kFoldersHelp;
        case TCommand::None: break;
    }
    return std::string(kUsage) + "\n" + kProgramHelp;
}

TParsed ParseArguments(const std::vector<std::string>& arguments) {
    TParsed parsed;
    TOptions& o = parsed.Options;
    auto fail = [&parsed](std::string text) {
        parsed.Error = std::move(text);
        return parsed;
    };

    std::size_t k = 0;
    if (k < arguments.size()) {
        const std::string& first = arguments[k];
        if (first == "--help" || first == "-h") {
            o.Help = true;
            return parsed;
        }
        if (first == "--version") {
            o.Version = true;
            return parsed;
        }
        if (first == "list") o.Command = TCommand::List;
        else if (first == "export") o.Command = TCommand::Export;
        else if (first == "show") o.Command = TCommand::Show;
        else if (first == "find") o.Command = TCommand::Find;
        else if (first == "carve") o.Command = TCommand::Carve;
        else if (first == "folders") o.Command = TCommand::Folders;
        else return fail("unknown command \"" + first + "\"");
        ++k;
    } else {
        return fail("no command given");
    }

    bool optionsEnded = false;
    std::vector<std::string> operands;
    std::set<std::string> given;  // the single-valued options met so far
    bool namesGiven = false;
    for (; k < arguments.size(); ++k) {
        std::string name = arguments[k];
        if (optionsEnded || name.size() < 2 || name.compare(0, 2, "--") != 0) {
            if (!optionsEnded && name.size() > 1 && name[0] == '-' && name != "-h")
                return fail("unknown option \"" + name + "\"");
            if (!optionsEnded && name == "-h") {
                o.Help = true;
                continue;
            }
            operands.push_back(name);
            continue;
        }
        if (name == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (k + 1 >= arguments.size()) return false;
            value = arguments[++k];
            return true;
        };
        const bool readsFolders = o.Command != TCommand::Find && o.Command != TCommand::Carve && o.Command != TCommand::Folders;
        // An option that takes one value may be given once.
        const bool singleValued = name == "--filter" || name == "--format" || name == "--items" || name == "--out" ||
                                  name == "--mbox" || name == "--names" || name == "--mbox-tree" || name == "--folder";
        if (singleValued && !given.insert(name).second) return fail(name + " given more than once");
        if (name == "--help") {
            if (hasValue) return fail("--help takes no value");
            o.Help = true;
        } else if (name == "--deleted" && readsFolders) {
            if (hasValue) return fail("--deleted takes no value");
            o.Deleted = true;
        } else if (name == "--raw" && readsFolders) {
            if (hasValue) return fail("--raw takes no value");
            o.Raw = true;
        } else if (name == "--whole-messages" && readsFolders) {
            if (hasValue) return fail("--whole-messages takes no value");
            o.WholeMessages = true;
        } else if (name == "--filter" && (o.Command == TCommand::List || o.Command == TCommand::Export)) {
            if (!takeValue()) return fail("--filter needs a keyword");
            if (value.empty()) return fail("--filter needs a keyword that is not empty");
            o.FilterOn = true;
            o.Keyword = value;
        } else if (name == "--format" && (o.Command == TCommand::List || o.Command == TCommand::Folders)) {
            if (!takeValue()) return fail("--format needs table, csv or json");
            if (value == "table") o.Format = TFormat::Table;
            else if (value == "csv") o.Format = TFormat::Csv;
            else if (value == "json") o.Format = TFormat::Json;
            else return fail("--format: \"" + value + "\" is none of table, csv, json");
        } else if (name == "--items" && o.Command == TCommand::Export) {
            if (!takeValue()) return fail("--items needs a list such as 0,2,5-9");
            if (!ParseItems(value, o.Items, parsed.Error)) return parsed;
            o.ItemsGiven = true;
        } else if ((name == "--list" || name == "--partial") && o.Command == TCommand::Carve) {
            if (hasValue) return fail(name + " takes no value");
            (name == "--list" ? o.List : o.Partial) = true;
        } else if (name == "--out" && (o.Command == TCommand::Export || o.Command == TCommand::Carve)) {
            if (!takeValue() || value.empty()) return fail("--out needs a folder");
            o.OutFolder = value;
        } else if (name == "--names" && o.Command == TCommand::Export) {
            if (!takeValue()) return fail("--names needs row, item or date-subject");
            if (value == "row") o.Names = TNames::Row;
            else if (value == "item") o.Names = TNames::Item;
            else if (value == "date-subject") o.Names = TNames::DateSubject;
            else return fail("--names: \"" + value + "\" is none of row, item, date-subject");
            namesGiven = true;
        } else if ((name == "--overwrite" || name == "--skip-existing") && o.Command == TCommand::Export) {
            if (hasValue) return fail(name + " takes no value");
            const TExisting existing = name == "--overwrite" ? TExisting::Overwrite : TExisting::Skip;
            if (o.Existing != TExisting::Refuse && o.Existing != existing)
                return fail("use either --overwrite or --skip-existing, not both");
            o.Existing = existing;
        } else if (name == "--progress" && readsFolders) {
            if (hasValue) return fail("--progress takes no value");
            o.Progress = true;
        } else if (name == "--mbox" && o.Command == TCommand::Export) {
            if (!takeValue() || value.empty()) return fail("--mbox needs a file name");
            o.MboxFile = value;
        } else if (name == "--mbox-tree" && o.Command == TCommand::Export) {
            if (!takeValue() || value.empty()) return fail("--mbox-tree needs a folder");
            o.MboxTree = value;
        } else if (name == "--folder" && readsFolders) {
            if (!takeValue() || value.empty()) return fail("--folder needs a path of folder names");
            o.StoreFolder = value;
        } else {
            return fail("unknown option \"" + name + "\" for this command");
        }
    }
    if (o.Help) return parsed;

    switch (o.Command) {
        case TCommand::List:
            if (operands.empty()) return fail("no folder file given");
            break;
        case TCommand::Export:
            if (!o.OutFolder.empty() + !o.MboxFile.empty() + !o.MboxTree.empty() > 1)
                return fail(o.MboxTree.empty() ? "use either --out DIR or --mbox FILE, not both"
                                               : "use one of --out DIR, --mbox FILE and --mbox-tree DIR");
            if (o.OutFolder.empty() && o.MboxFile.empty() && o.MboxTree.empty())
                return fail("export needs either --out DIR or --mbox FILE");
            if (o.OutFolder.empty() && (namesGiven || o.Existing != TExisting::Refuse))
                return fail("--names, --overwrite and --skip-existing go with --out DIR, not --mbox");
            if (operands.empty()) return fail("no folder file given");
            break;
        case TCommand::Show:
            if (operands.size() != 2) return fail("show needs an item number and one folder file");
            if (!ParseNumber(operands[0], o.ShowItem)) return fail(operands[0] + ": not an item number");
            operands.erase(operands.begin());
            break;
        case TCommand::Carve:
            if (o.List && !o.OutFolder.empty()) return fail("--list writes nothing: use either --list or --out DIR");
            if (!o.List && o.OutFolder.empty()) return fail("carve needs either --out DIR or --list");
            if (o.List && o.Partial) return fail("--partial writes the partial messages: it needs --out DIR, not --list");
            if (operands.empty()) return fail("no image given");
            break;
        case TCommand::Folders:
            if (operands.empty()) return fail("no store folder given");
            break;
        case TCommand::Find:
        case TCommand::None:
            break;
    }
    o.Paths = std::move(operands);
    return parsed;
}

}  // namespace corvane::cli
