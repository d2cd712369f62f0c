#include "corvane-dbx/Inputs.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>
#include <vector>

#include "emailexport/emailexport.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/InputStream.h"
#include "progress/Progress.h"

namespace corvane::cli {

namespace stdfs = std::filesystem;

TInputs::~TInputs() {
    for (const std::string& copy : copies_) corvane::fs::RemoveFile(copy);
}

std::vector<std::string> TInputs::Paths() const {
    std::vector<std::string> paths;
    for (const TInput& input : inputs_) paths.push_back(input.Path);
    return paths;
}

void TInputs::Resolve(const std::vector<std::string>& names, const std::function<void(const std::string&)>& fail,
                      const std::function<bool()>& stop) {
    bool stdinTaken = false;
    for (const std::string& name : names) {
        switch (corvane::fs::KindOfInput(name)) {
            case corvane::fs::TInputKind::RegularFile: inputs_.push_back({name, name}); break;
            case corvane::fs::TInputKind::Folder: AddFolder(name, fail); break;
            case corvane::fs::TInputKind::Missing:
                // Opening it tells why: the read's own text.
                inputs_.push_back({name, name});
                break;
            case corvane::fs::TInputKind::Stream:
                if (name == "-" && stdinTaken) {
                    fail("-: standard input can be read only once");
                    break;
                }
                stdinTaken = stdinTaken || name == "-";
                try {
                    inputs_.push_back({name, CopyStream(name, stop)});
                } catch (const corvane::ECancelled&) {
                    throw;
                } catch (const std::exception& e) {
                    fail(name + ": " + e.what());
                }
                break;
        }
    }
}

// The copy goes into the system's folder for a run's short-lived files, under
// a name of its own made exclusively, readable by the user alone.
std::string TInputs::CopyStream(const std::string& name, const std::function<bool()>& stop) {
    // The copy is made before the input is opened: once a writer of a named
    // pipe is through its open, the copy is there.
    const corvane::fs::TFolder folder(corvane::fs::ScratchFolder());
    std::random_device random;
    std::unique_ptr<corvane::fs::TWriteFile> out;
    for (int attempt = 0; !out && attempt < 100; ++attempt) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
        out = folder.CreateNew(std::string("corvane-dbx-input-") + hex + ".dbx", corvane::fs::Readers::Owner);
    }
    if (!out) throw EFCreateError(folder.Path(), "No free name for a copy of the input.");
    const std::string path = out->Path();
    copies_.push_back(path);
    corvane::fs::TInputStream in(name);
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        if (stop()) throw corvane::ECancelled();
        const std::ptrdiff_t got = in.Read(buffer.data(), buffer.size());
        if (got == 0) break;
        if (got > 0) out->Write(buffer.data(), static_cast<std::size_t>(got));
    }
    out->Close();
    return path;
}

// The folder files of a folder, sorted by name. (A store folder, whose
// Folders.dbx names the others, is read the same way here: every folder file
// in it, Folders.dbx among them.)
void TInputs::AddFolder(const std::string& folder, const std::function<void(const std::string&)>& fail) {
    std::vector<std::string> files;
    std::error_code ec;
    for (stdfs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (!it->is_regular_file(kind)) continue;
        const std::string file = it->path().filename().string();
        if (corvane::mail::IsDbxPath(file)) files.push_back(file);
    }
    if (ec) {
        fail(folder + ": " + ec.message());
        return;
    }
    if (files.empty()) {
        fail(folder + ": no folder file (*.dbx) in this folder");
        return;
    }
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        const std::string path = (stdfs::path(folder) / file).string();
        inputs_.push_back({path, path});
    }
}

}  // namespace corvane::cli
