#include "corvane-dbx/CarveCommand.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <string>

#include "carve/Carve.h"
#include "platform/Console.h"
#include "platform/Errors.h"
#include "progress/Progress.h"

namespace corvane::cli {

const char* const kCarveHelp =
    "usage: corvane-dbx carve [--partial] (--out DIR | --list) IMAGE...\n\n"
    "Finds the message blocks of Outlook Express folder files in disk images and\n"
    "devices and reconstructs each folder file found: deleted files, files of a\n"
    "reformatted disk, files of a damaged file system. IMAGE is a raw image (a dd\n"
    "copy), a device such as /dev/sdb (read access is enough), or - for standard\n"
    "input; several IMAGEs are read one after the other as one image (the pieces\n"
    "of a split image: disk.001 disk.002 ...). The images are only ever read.\n\n"
    "Writes DIR/recovered-1.dbx, recovered-2.dbx, ...: each folder file with every\n"
    "piece found at its own offset and the missing ranges as zeros, to be read by\n"
    "the other commands as any folder file; and DIR/carve.json: for each file the\n"
    "image offset of its header (or null), its pieces as image and file ranges,\n"
    "its holes, its complete and partial messages, and its kind (live, or deleted\n"
    "when it holds deleted blocks only). Files of those names are replaced; each\n"
    "is written as NAME.part and renamed once whole. DIR may not lie on a device\n"
    "being read.\n\n"
    "A message is complete when its chain of blocks ends, starts with a header\n"
    "line and all its bytes came from the file's own pieces; the others are\n"
    "partial.\n\n"
    "  --out DIR   the folder to write into (made when missing)\n"
    "  --list      only report what would be reconstructed; writes nothing\n"
    "  --partial   also write each partial message, as much of it as was found,\n"
    "              as DIR/partial/recovered-N-K.eml\n\n"
    "Stopped (Ctrl+C), it keeps the folder files written so far, each whole, and\n"
    "a carve.json that names them. Standard input is read once: of it only the\n"
    "blocks are kept, so its files have no file header and a block across the end\n"
    "of a piece comes back partial.\n";

namespace {

// "8 777": digits in groups of three.
std::string Grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    return out;
}

std::string Hex(std::int64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

// The progress line (bytes read, folder files and messages found so far) and
// the stop that a signal or the test's seam asks for.
class TCarveProgress : public TProgress {
public:
    TCarveProgress(TConsole& console, const carve::TCarveCounts& counts) : c_(console), counts_(counts) {}
    ~TCarveProgress() override {
        if (shown_) c_.Err << "\r\033[K" << std::flush;
    }
    TCarveProgress(const TCarveProgress&) = delete;
    TCarveProgress& operator=(const TCarveProgress&) = delete;

    void Report(const char* Stage, std::int64_t Done, std::int64_t Total) override {
        if (c_.StopAt && seamed_ == 0) seamed_ = c_.StopAt(Stage, Done);
        if (!c_.ShowProgress) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const long long percent = Total > 0 ? Done * 100 / Total : 100;
        c_.Err << "\r\033[K" << Stage << ' ' << percent << "%, " << Grouped(static_cast<std::uint64_t>(counts_.Bytes.load() >> 20))
               << " MiB read, " << Grouped(static_cast<std::uint64_t>(counts_.Files.load())) << " pieces, "
               << Grouped(static_cast<std::uint64_t>(counts_.Messages.load())) << " messages found" << std::flush;
        shown_ = true;
    }
    bool StopRequested() override { return Signal() != 0; }
    int Signal() const {
        const int signal = console::StopSignal();
        return signal != 0 ? signal : seamed_;
    }

private:
    TConsole& c_;
    const carve::TCarveCounts& counts_;
    int seamed_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

void Summary(const carve::TCarveResult& result, TConsole& c) {
    const std::size_t n = result.Files.size();
    c.Out << n << (n == 1 ? " folder file" : " folder files") << " in " << Grouped(static_cast<std::uint64_t>(result.ImageBytes))
          << " bytes" << (n > 0 ? ":" : ".") << '\n';
    for (const carve::TCarvedFile& f : result.Files) {
        c.Out << '#' << f.Number << ' ' << (f.HeaderOffset ? "header at " + Hex(*f.HeaderOffset) : std::string("no header"))
              << ", " << f.Pieces.size() << (f.Pieces.size() == 1 ? " piece" : " pieces") << ", " << Grouped(f.Complete)
              << " messages complete, " << Grouped(f.Partial) << " partial";
        if (!f.Holes.empty()) c.Out << ", " << f.Holes.size() << (f.Holes.size() == 1 ? " hole" : " holes");
        if (!f.Live()) c.Out << ", deleted blocks only";
        if (!f.Path.empty()) c.Out << " -> " << f.Path;
        c.Out << '\n';
    }
    if (!result.MapPath.empty()) c.Out << "Map: " << result.MapPath << '\n';
}

}  // namespace

int RunCarve(const TOptions& o, TConsole& console) {
    carve::TCarveCounts counts;
    carve::TCarveOptions options;
    options.OutFolder = o.List ? std::string() : o.OutFolder;
    options.Partial = o.Partial;
    options.Counts = &counts;
    TCarveProgress progress(console, counts);
    try {
        const carve::TCarveResult result = carve::Carve(o.Paths, options, &progress);
        Summary(result, console);
        if (result.MemoryFull)
            console.Err << "corvane-dbx: the scan stopped after " << Grouped(static_cast<std::uint64_t>(result.ImageBytes))
                        << " bytes: the blocks found fill the " << (options.MemoryBytes >> 20)
                        << " MiB a carve may take, so the rest of the image was not searched.\n";
        if (result.Files.empty()) {
            console.Err << "corvane-dbx: no folder file was found in the image.\n";
            return kExitFailed;
        }
        return result.MemoryFull ? kExitFailed : kExitOk;
    } catch (const ECancelled&) {
        const int signal = progress.Signal();
        console.Err << "\ncorvane-dbx: stopped; the folder files written so far are whole and named in "
                    << (o.List ? std::string("no map") : "carve.json") << ".\n";
        return 128 + (signal != 0 ? signal : 2);
    } catch (const std::exception& e) {
        console.Err << "corvane-dbx: " << e.what() << '\n';
        return kExitFailed;
    }
}

}  // namespace corvane::cli
