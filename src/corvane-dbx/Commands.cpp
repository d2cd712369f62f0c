// The commands of corvane-dbx over the engine: read each folder file as the
// window does, then list, export or show its records.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/ListFormats.h"
#include "emailexport/MboxExport.h"
#include "emailexport/emailexport.h"
#include "outlookfile/outlookfile.h"
#include "platform/Console.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/MessagePump.h"
#include "sysdbxfiles/sysdbxfiles.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

namespace corvane::cli {
namespace {

namespace stdfs = std::filesystem;

// The progress line on the error stream while a folder file is read.
std::ostream* g_progressStream = nullptr;
std::string g_progressName;
std::string g_progressShown;

// Rewrites the line when what it says has changed.
void ShowProgress() {
    const corvane::pump::TProgress p = corvane::pump::Progress();
    if (g_progressStream == nullptr || p.Stage == nullptr) return;
    const long long percent = p.Total > 0 ? p.Done * 100 / p.Total : 100;
    std::string line = g_progressName + ": " + p.Stage + ' ' + std::to_string(percent) + '%';
    if (line == g_progressShown) return;
    *g_progressStream << "\r\033[K" << line << std::flush;
    g_progressShown = std::move(line);
}

// Shows the progress line for the life of one read.
class TProgressLine {
public:
    TProgressLine(TConsole& console, const std::string& folderFile) : on_(console.ShowProgress) {
        if (!on_) return;
        g_progressStream = &console.Err;
        g_progressName = folderFile;
        g_progressShown.clear();
        corvane::pump::SetProgress(nullptr, 0, 0);
        corvane::pump::SetInterval(std::chrono::milliseconds(100));
        previous_ = corvane::pump::SetHandler(&ShowProgress);
    }
    ~TProgressLine() {
        if (!on_) return;
        corvane::pump::SetHandler(previous_);
        *g_progressStream << "\r\033[K" << std::flush;
        g_progressStream = nullptr;
    }
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

private:
    bool on_;
    corvane::pump::Handler previous_ = nullptr;
};

class TRun {
public:
    TRun(const TOptions& options, TConsole& console) : o_(options), c_(console) {
        if (o_.FilterOn) keyword_ = corvane::console::ArgumentToAnsi(o_.Keyword);
    }

    int List();
    int Export();
    int Show();
    int Find();

private:
    // Reads a folder file as the window does; false (reported) when it fails.
    bool Read(const std::string& folderFile, TEmailArray& emails) {
        try {
            const TProgressLine progress(c_, folderFile);
            Toutlookfile reader;
            emails = reader.GetEmails(folderFile, o_.Deleted);
            return true;
        } catch (const std::exception& e) {
            Fail(e.what());
            return false;
        }
    }
    // The rows the window would list; false (reported) when a message file fails.
    bool Rows(const TEmailArray& emails, std::vector<std::size_t>& shown) {
        try {
            shown = corvane::mail::ShownRecords(emails, o_.FilterOn, keyword_);
            return true;
        } catch (const std::exception& e) {
            Fail(e.what());
            return false;
        }
    }
    void Fail(const std::string& text) {
        c_.Err << "corvane-dbx: " << text << '\n';
        failed_ = true;
    }
    int Status() const { return failed_ ? kExitFailed : kExitOk; }
    std::string ExportFolderOf(const std::string& folderFile);
    std::vector<corvane::mail::TExportItem> Chosen(const std::string& folderFile, const TEmailArray& emails,
                                                   const std::vector<std::size_t>& shown);
    void ExportOne(const std::string& folderFile, const std::string& folder);
    int ExportMbox();

    const TOptions& o_;
    TConsole& c_;
    std::string keyword_;
    bool failed_ = false;
    std::set<std::string> usedFolders_;
};

int TRun::List() {
    TListWriter writer(c_.Out, o_.Format, o_.Paths.size() > 1, c_.OutWidth);
    for (const std::string& folderFile : o_.Paths) {
        TEmailArray emails;
        std::vector<std::size_t> shown;
        if (Read(folderFile, emails) && Rows(emails, shown)) writer.Add(folderFile, emails, shown);
    }
    writer.Finish();
    return Status();
}

// The folder a folder file's messages go to: the output folder for one folder
// file; for several, a folder in it named after the folder file without its
// extension ("Inbox", then "Inbox-2" for a second Inbox.dbx from elsewhere).
std::string TRun::ExportFolderOf(const std::string& folderFile) {
    if (o_.Paths.size() == 1) return o_.OutFolder;
    std::string stem = stdfs::path(folderFile).stem().string();
    if (stem.empty() || stem == "." || stem == "..") stem = "folder";
    std::string name = stem;
    for (int n = 2; usedFolders_.count(name) != 0; ++n) name = stem + "-" + std::to_string(n);
    usedFolders_.insert(name);
    return (stdfs::path(o_.OutFolder) / name).string();
}

std::vector<corvane::mail::TExportItem> TRun::Chosen(const std::string& folderFile, const TEmailArray& emails,
                                                     const std::vector<std::size_t>& shown) {
    // Positions are those of the rows of the unsorted list; --items ticks rows
    // by their item numbers.
    // Both lists are ascending.
    std::vector<corvane::mail::TExportItem> items;
    for (std::size_t position = 0; position < shown.size(); ++position) {
        const std::size_t index = shown[position];
        if (o_.ItemsGiven && !std::binary_search(o_.Items.begin(), o_.Items.end(), index)) continue;
        items.push_back({position, &emails[index]});
    }
    for (const std::size_t item : o_.Items)
        if (!std::binary_search(shown.begin(), shown.end(), item))
            Fail("\"" + folderFile + "\" lists no message with item number " + std::to_string(item) + ".");
    return items;
}

void TRun::ExportOne(const std::string& folderFile, const std::string& folder) {
    TEmailArray emails;
    std::vector<std::size_t> shown;
    if (!Read(folderFile, emails) || !Rows(emails, shown)) return;

    std::error_code ec;
    stdfs::create_directories(folder, ec);
    if (!corvane::mail::FolderIsWriteable(folder)) {
        Fail("Cannot write to the output folder \"" + folder + "\"" + (ec ? ". " + ec.message() : std::string()) +
             "; nothing of \"" + folderFile + "\" was exported.");
        return;
    }
    try {
        const corvane::mail::TExportReport report = corvane::mail::ExportEmails(Chosen(folderFile, emails, shown), folder);
        for (const std::string& failure : report.Failures) Fail(failure);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
}

int TRun::Export() {
    if (!o_.MboxFile.empty()) return ExportMbox();
    for (const std::string& folderFile : o_.Paths) ExportOne(folderFile, ExportFolderOf(folderFile));
    return Status();
}

// All chosen messages of all folder files into one mbox, folder file by folder
// file; each file's records are added before the next read rewrites the
// message files. A folder file that cannot be read is reported and left out;
// a message that cannot be copied leaves the chosen file as it was.
int TRun::ExportMbox() {
    try {
        corvane::mail::TMboxWriter mbox(o_.MboxFile);
        for (const std::string& folderFile : o_.Paths) {
            TEmailArray emails;
            std::vector<std::size_t> shown;
            if (!Read(folderFile, emails) || !Rows(emails, shown)) continue;
            std::vector<const TEmail*> chosen;
            for (const corvane::mail::TExportItem& item : Chosen(folderFile, emails, shown)) chosen.push_back(item.Email);
            mbox.AddAll(chosen);
        }
        mbox.Commit();
    } catch (const std::exception& e) {
        Fail(e.what());
        Fail("\"" + o_.MboxFile + "\" was not written.");
    }
    return Status();
}

int TRun::Show() {
    const std::string& folderFile = o_.Paths.front();
    TEmailArray emails;
    if (!Read(folderFile, emails)) return Status();
    if (o_.ShowItem >= emails.size()) {
        Fail("\"" + folderFile + "\" has no message with item number " + std::to_string(o_.ShowItem) + " (it has " +
             std::to_string(emails.size()) + ").");
        return Status();
    }
    try {
        const std::string body = corvane::mail::ReadMessageBody(emails[o_.ShowItem]);
        c_.Out.write(body.data(), static_cast<std::streamsize>(body.size()));
        c_.Out.flush();
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    return Status();
}

int TRun::Find() {
    try {
        TDbxFiles search;
        if (o_.Paths.empty()) {
            search.FindDbxFiles();
        } else {
            for (const std::string& folder : o_.Paths) {
                std::error_code ec;
                if (!stdfs::is_directory(folder, ec)) {
                    Fail("\"" + folder + "\" is no folder.");
                    continue;
                }
                search.SearchFolder(folder, "*.dbx", true);
            }
        }
        for (const std::string& path : search.FileList()) c_.Out << path << '\n';
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    c_.Out.flush();
    return Status();
}

}  // namespace

int RunCorvaneDbx(const std::vector<std::string>& arguments, TConsole& console) {
    const TParsed parsed = ParseArguments(arguments);
    if (!parsed.Error.empty()) {
        console.Err << "corvane-dbx: " << parsed.Error << "\nTry \"corvane-dbx --help\".\n";
        return kExitUsage;
    }
    const TOptions& o = parsed.Options;
    if (o.Version) {
        console.Out << "corvane-dbx " << CORVANE_VERSION << '\n';
        return kExitOk;
    }
    if (o.Help) {
        console.Out << HelpText(o.Command);
        return kExitOk;
    }
    TRun run(o, console);
    switch (o.Command) {
        case TCommand::List: return run.List();
        case TCommand::Export: return run.Export();
        case TCommand::Show: return run.Show();
        case TCommand::Find: return run.Find();
        case TCommand::None: break;
    }
    return kExitUsage;
}

}  // namespace corvane::cli
