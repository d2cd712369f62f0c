#include "outlookfile/outlookfile.h"

#include <algorithm>
#include <iterator>
#include <system_error>

#include "dbxindex/MessageIndex.h"
#include "emailparser/emailparser.h"
#include "platform/Files.h"
#include "progress/Progress.h"

bool BeginsWithFolderFileSignature(const std::string& path) {
    try {
        const corvane::fs::TReadFile file(path, corvane::fs::Share::All);
        unsigned char start[sizeof kFolderFileSignature] = {};
        return file.ReadAt(0, start, sizeof start) == sizeof start &&
               std::equal(std::begin(start), std::end(start), std::begin(kFolderFileSignature));
    } catch (const std::exception&) {
        return false;
    }
}

Toutlookfile::Toutlookfile() = default;
Toutlookfile::~Toutlookfile() = default;

void Toutlookfile::OpenFolder(const std::string& FileName) {
    stream_.reset();
    scannedBytes_ = -1;
    stream_ = std::make_unique<corvane::fs::TReadFile>(FileName, corvane::fs::Share::None);
}

void Toutlookfile::CloseFolder() { stream_.reset(); }

std::string Toutlookfile::GetTempFolder() { return corvane::fs::TempPath(); }

TEmailArray Toutlookfile::GetEmails(const std::string& FileName, bool IncludeDeleted, corvane::TProgress* Progress,
                                    bool WholeMessages) {
    OpenFolder(FileName);
    // Closes the folder file on every way out, errors included, and forgets
    // the caller's progress.
    struct TCloser {
        Toutlookfile& reader;
        ~TCloser() {
            reader.CloseFolder();
            reader.SetProgress(nullptr);
        }
    } closer{*this};
    SetProgress(Progress);

    return ReadChains(IncludeDeleted, WholeMessages);
}

corvane::dbx::TMessageIndex Toutlookfile::ReadIndex() const {
    if (!stream_) {
        corvane::dbx::TMessageIndex none;
        none.Problem = "no folder file is open";
        return none;
    }
    const corvane::dbx::TFileSource file(*stream_);
    return corvane::dbx::ReadMessageIndex(corvane::dbx::TPagedSource(file));
}

std::future<corvane::dbx::TMessageIndex> Toutlookfile::ReadIndexAside() const {
    try {
        return std::async(std::launch::async, [this] { return ReadIndex(); });
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, [this] { return ReadIndex(); });
    }
}
