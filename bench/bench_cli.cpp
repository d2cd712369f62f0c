// The command line and the window's read against the cost of merely writing
// their output, on a folder file of 100 000 messages of 1 to 4 KB (20 000
// deleted, blocks scattered; about 160 MB):
//
//   export     corvane-dbx export --deleted --out DIR (the whole program, into
//              a fresh folder) against a plain single-threaded loop that only
//              creates the same .eml files with the same sizes in a fresh
//              folder (open, one write, close)
//   mbox       corvane-dbx export --deleted --mbox FILE against
//   list       corvane-dbx list --deleted (no file written)
//   getemails  GetEmails (message files in a fresh temporary folder) against
//              the plain loop creating the same message files
//
// and, to show what the export cannot go below: the plain .eml loop on two
// threads at once (plain_eml_2t), and the read alone, corvane-dbx list
// --deleted --raw (read).
//
// Each round runs every case once, in turn; the figures are the medians of
// the rounds, with each program's peak memory (VmHWM, read while it runs).
//
//   bench_cli [--rounds N] [--dir DIR]     (default 5 rounds in /tmp)
//   bench_cli --make FILE                   only writes the folder file
//
// DIR decides the file system: /dev/shm for tmpfs, a folder on the disk for
// the disk. The folder file is made in DIR once per run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchProcess.h"
#include "BenchResident.h"
#include "chainread/ChainRead.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"

namespace stdfs = std::filesystem;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

std::string g_program;  // this benchmark, for the child that runs GetEmails

void MakeFolderFile(const std::string& path) {
    std::mt19937_64 random(99);
    constexpr std::size_t kMessages = 100000;
    std::vector<std::string> texts(kMessages);
    std::size_t blocks = 0;
    for (std::size_t i = 0; i < kMessages; ++i) {
        const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
        const std::size_t size = 1024 + static_cast<std::size_t>(3072.0 * u * u * u * u);
        std::string& m = texts[i];
        m = "From: \"Maud Pellow\" <maud" + std::to_string(i % 97) + "@hedgerow.example>\r\nTo: ivo@fenwick.example\r\n"
            "Subject: Notes " + std::to_string(i) + "\r\nDate: Mon, 5 May 2003 10:00:00 +0100\r\n\r\n";
        while (m.size() + 2 < size) m += "The shed, the beans, the rota and the water butts, line by line.\r\n";
        blocks += (m.size() + 511) / 512;
    }
    TDbxWriter dbx(5);
    dbx.ReserveScatteredSlots(blocks);
    for (const std::string& t : texts) dbx.AddMessage(t, TBlockOrder::Scattered);
    std::vector<int> order(kMessages);
    for (std::size_t i = 0; i < kMessages; ++i) order[i] = static_cast<int>(i);
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t i = 0; i < kMessages / 5; ++i) dbx.DeleteMessage(order[i]);
    dbx.Save(path);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The high-water mark of a child's memory in kB, once it runs the program
// named (before the exec it is this benchmark's image); -1 otherwise.
long HighWaterKilobytes(pid_t pid, const char* name) {
    std::FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (status == nullptr) return -1;
    long kb = -1;
    bool program = false;
    char line[256];
    const std::string wanted = std::string("Name:\t") + name;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, wanted.c_str(), wanted.size()) == 0) program = true;
        std::sscanf(line, "VmHWM: %ld kB", &kb);
    }
    std::fclose(status);
    return program ? kb : -1;
}

struct TRun {
    double seconds = 0;
    double peakMB = 0;
    std::string out;  // what the child printed (the GetEmails child: its time)
};

// Runs a program with its standard output into a file, timing it as a whole
// and watching its memory.
TRun Spawn(const std::vector<std::string>& arguments, const char* name, const std::string& outFile = "/dev/null") {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    long peak = -1;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        peak = std::max(peak, HighWaterKilobytes(child, name));
        ::usleep(2000);
    }
    TRun run{Seconds(start), static_cast<double>(peak) / 1024.0, {}};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "%s failed\n", arguments[0].c_str());
    if (outFile != "/dev/null") {
        std::FILE* f = std::fopen(outFile.c_str(), "r");
        char buffer[128] = {};
        if (f != nullptr) {
            run.out = std::fgets(buffer, sizeof buffer, f) != nullptr ? buffer : "";
            std::fclose(f);
        }
    }
    return run;
}

// The floor: a fresh folder, then every file created, written once, closed.
double PlainLoop(const std::string& folder, const std::vector<std::pair<std::string, std::size_t>>& files,
                 const std::vector<char>& bytes) {
    const auto start = std::chrono::steady_clock::now();
    stdfs::create_directories(folder);
    for (const auto& [name, size] : files) {
        const int fd = ::open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (::write(fd, bytes.data(), size) != static_cast<ssize_t>(size)) std::fprintf(stderr, "short write\n");
        ::close(fd);
    }
    return Seconds(start);
}

// The same files made by two threads at once, each taking every other file:
// how much a second core helps with the files alone (they all go into one
// folder, whose entries the system changes one at a time).
double TwoThreadLoop(const std::string& folder, const std::vector<std::pair<std::string, std::size_t>>& files,
                     const std::vector<char>& bytes) {
    const auto start = std::chrono::steady_clock::now();
    stdfs::create_directories(folder);
    const auto half = [&](std::size_t first) {
        for (std::size_t i = first; i < files.size(); i += 2) {
            const int fd =
                ::open((folder + "/" + files[i].first).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (::write(fd, bytes.data(), files[i].second) != static_cast<ssize_t>(files[i].second))
                std::fprintf(stderr, "short write\n");
            ::close(fd);
        }
    };
    std::thread other(half, 1);
    half(0);
    other.join();
    return Seconds(start);
}

// The child that times GetEmails alone: prints its seconds.
int GetEmailsChild(const std::string& folderFile) {
    const auto start = std::chrono::steady_clock::now();
    const TEmailArray emails = Toutlookfile().GetEmails(folderFile, true);
    // Its own high-water mark: the exec began a new one.
    std::printf("%.6f %zu %ld\n", Seconds(start), emails.size(), ResidentKilobytes().peak);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--getemails-child") == 0) return GetEmailsChild(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) {
        MakeFolderFile(argv[2]);
        return 0;
    }
    g_program = stdfs::canonical("/proc/self/exe").string();
    int rounds = 5;
    std::string dir = "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
    }
    const std::string root = dir + "/corvane-bench-cli-" + std::to_string(::getpid());
    stdfs::create_directories(root);
    const std::string folderFile = root + "/Inbox.dbx";
    MakeFolderFile(folderFile);

    // The files each case makes, with their sizes, for the plain loops.
    std::vector<std::pair<std::string, std::size_t>> emlFiles, messageFiles;
    {
        corvane::read::TChainReadOptions options;
        options.IncludeDeleted = true;
        corvane::read::TChainRead read(folderFile, options);
        std::map<std::string, std::int64_t> chains;
        read.Run(
            [&](corvane::read::TFoundMessage& m) {
                emlFiles.emplace_back("RecoveredEmail" + std::to_string(m.Item) + ".eml",
                                      static_cast<std::size_t>(m.Email.MessageEnd - m.Email.MessageStart));
                chains[stdfs::path(m.Email.FileName).filename().string()] = m.Text->Size();
            },
            nullptr);
        for (const auto& [name, size] : chains) messageFiles.emplace_back(name, static_cast<std::size_t>(size));
    }
    std::size_t largest = 0;
    for (const auto& f : emlFiles) largest = std::max(largest, f.second);
    for (const auto& f : messageFiles) largest = std::max(largest, f.second);
    const std::vector<char> bytes(largest, 'x');

    const std::string dbx = CORVANE_DBX_PROGRAM;
    std::map<std::string, std::vector<double>> t, peak;
    int round = 0;
    const auto fresh = [&](const char* what) { return root + "/" + what + std::to_string(++round); };
    for (int r = 0; r < rounds; ++r) {
        ::sync();
        std::string out = fresh("eml");
        TRun run = Spawn({dbx, "export", "--deleted", "--out", out, folderFile}, "corvane-dbx");
        t["export"].push_back(run.seconds);
        peak["export"].push_back(run.peakMB);
        stdfs::remove_all(out);

        ::sync();
        out = fresh("plain");
        t["plain_eml"].push_back(PlainLoop(out, emlFiles, bytes));
        stdfs::remove_all(out);

        ::sync();
        out = fresh("plain2t");
        t["plain_eml_2t"].push_back(TwoThreadLoop(out, emlFiles, bytes));
        stdfs::remove_all(out);

        run = Spawn({dbx, "list", "--deleted", "--raw", "--format", "csv", folderFile}, "corvane-dbx");
        t["read"].push_back(run.seconds);
        peak["read"].push_back(run.peakMB);

        ::sync();
        out = fresh("mbox");
        run = Spawn({dbx, "export", "--deleted", "--mbox", out, folderFile}, "corvane-dbx");
        t["mbox"].push_back(run.seconds);
        peak["mbox"].push_back(run.peakMB);
        stdfs::remove(out);

        run = Spawn({dbx, "list", "--deleted", "--format", "csv", folderFile}, "corvane-dbx");
        t["list"].push_back(run.seconds);
        peak["list"].push_back(run.peakMB);

        ::sync();
        out = fresh("tmp");
        stdfs::create_directories(out);
        ::setenv("TMPDIR", out.c_str(), 1);
        run = Spawn({g_program, "--getemails-child", folderFile}, "bench_cli", out + "/time.txt");
        ::unsetenv("TMPDIR");
        double seconds = 0;
        long records = 0, kb = 0;
        std::sscanf(run.out.c_str(), "%lf %ld %ld", &seconds, &records, &kb);
        t["getemails"].push_back(seconds);
        peak["getemails"].push_back(static_cast<double>(kb) / 1024.0);
        stdfs::remove_all(out);

        ::sync();
        out = fresh("plainmsg");
        t["plain_msg"].push_back(PlainLoop(out, messageFiles, bytes));
        stdfs::remove_all(out);
    }
    std::printf("folder file: %.0f MB, %zu records, %zu message files, %d rounds in %s\n",
                static_cast<double>(stdfs::file_size(folderFile)) / 1e6, emlFiles.size(), messageFiles.size(), rounds,
                dir.c_str());
    for (const auto& [name, v] : t) {
        std::printf("%-10s median %7.3f s", name.c_str(), Median(v));
        if (peak.count(name) != 0) std::printf("   peak %6.1f MB", *std::max_element(peak[name].begin(), peak[name].end()));
        std::printf("\n");
    }
    std::printf("export / plain .eml loop:      %.2f  (target <= 1.0)\n", Median(t["export"]) / Median(t["plain_eml"]));
    // What the export cannot go below on this machine: its two parts, the
    // read (here without decoding or output) and the files, the latter on
    // two threads at once.
    std::printf("export / plain loop, 2 threads: %.2f; read alone / plain .eml loop: %.2f\n",
                Median(t["export"]) / Median(t["plain_eml_2t"]), Median(t["read"]) / Median(t["plain_eml"]));
    std::printf("mbox / list:                   %.2f  (target <= 1.5)\n", Median(t["mbox"]) / Median(t["list"]));
    std::printf("GetEmails / plain message loop: %.2f  (target <= 1.5)\n", Median(t["getemails"]) / Median(t["plain_msg"]));
    stdfs::remove_all(root);
    return 0;
}
