// What reading the folder files' own index costs the command line:
//
//   list     corvane-dbx list --deleted on a folder file of 74 000 messages
//            of 1 to 4 KB (a fifth deleted, blocks scattered, about 165 MB)
//            whose index names the live ones, against the same bytes with
//            the header's root offset cleared (no index is read). The index
//            may add at most 5 %. The same with --format csv, whose rows
//            carry the index's properties. Also the index read alone (in
//            this process, the file in the page cache), against the list's
//            time.
//   store    (--store) corvane-dbx export --whole-messages --out of a store
//            folder of 20 folder files, 100 000 messages in all, against the
//            sum of the 20 single-file exports (each into a fresh folder).
//            The store's export may take at most 1.1 times that sum.
//
// The cases alternate in each round; the figures are the medians of the
// rounds.
//
//   bench_index [--rounds N] [--dir DIR] [--messages N] [--store] [--keep]    (default 5 rounds in /tmp)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>


#include "BenchProcess.h"
#include "dbxindex/MessageIndex.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"
#include "support/StoreFixture.h"

namespace stdfs = std::filesystem;
namespace support = corvane::testsupport;

namespace {

// The program run as a whole, its output into /dev/null; seconds.
double Run(const std::vector<std::string>& arguments) {
    const TProgramRun run = RunProgram(arguments, true);
    if (run.status != 0) std::fprintf(stderr, "%s %s failed\n", arguments[0].c_str(), arguments[1].c_str());
    return run.seconds;
}

std::string Text(std::mt19937_64& random, std::size_t i) {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    const std::size_t size = 1024 + static_cast<std::size_t>(3072.0 * u * u * u * u);
    std::string m = "From: \"Maud Pellow\" <maud";
    m.append(std::to_string(i % 97)).append("@hedgerow.example>\r\nTo: ivo@fenwick.example\r\nSubject: Notes ");
    m.append(std::to_string(i)).append("\r\nDate: Mon, 5 May 2003 10:00:00 +0100\r\n\r\n");
    while (m.size() + 2 < size) m += "The shed, the beans, the rota and the water butts, line by line.\r\n";
    return m;
}

// messages texts, a fifth of them deleted, the rest named by the index with
// the properties Outlook Express keeps for every message.
support::TDbxWriter IndexedFile(std::size_t messages, std::uint64_t seed, bool deleteSome) {
    std::mt19937_64 random(seed);
    std::vector<std::string> texts(messages);
    std::size_t blocks = 0;
    for (std::size_t i = 0; i < messages; ++i) {
        texts[i] = Text(random, i);
        blocks += (texts[i].size() + 511) / 512;
    }
    support::TDbxWriter dbx(seed);
    dbx.PutFileInfo("Inbox");
    dbx.ReserveScatteredSlots(blocks);
    for (const std::string& t : texts) dbx.AddMessage(t, support::TBlockOrder::Scattered);
    std::vector<bool> gone(messages, false);
    if (deleteSome) {
        std::vector<int> order(messages);
        for (std::size_t i = 0; i < messages; ++i) order[i] = static_cast<int>(i);
        std::shuffle(order.begin(), order.end(), random);
        for (std::size_t i = 0; i < messages / 5; ++i) {
            dbx.DeleteMessage(order[i]);
            gone[static_cast<std::size_t>(order[i])] = true;
        }
    }
    std::vector<std::uint32_t> records;
    for (std::size_t i = 0; i < messages; ++i) {
        if (gone[i]) continue;
        std::string id = "<";
        id.append(std::to_string(i)).append("@hedgerow.example>");
        records.push_back(dbx.AddMessageRecord(
            static_cast<int>(i),
            {support::InlineProperty(0x00, static_cast<std::uint32_t>(i)), support::InlineProperty(0x01, 0x80),
             support::DateProperty(0x02, 2003, 5, 5, 9), support::TextProperty(0x05, "Notes"),
             support::DateProperty(0x06, 2003, 5, 5, 9, 1), support::TextProperty(0x07, id),
             support::TextProperty(0x08, "Notes"), support::TextProperty(0x0D, "Maud Pellow"),
             support::TextProperty(0x0E, "maud@hedgerow.example"), support::InlineProperty(0x10, 3),
             support::DateProperty(0x12, 2003, 5, 5, 9, 2), support::TextProperty(0x13, "Ivo"),
             support::TextProperty(0x14, "ivo@fenwick.example"), support::TextProperty(0x1A, "Hedgerow")}));
    }
    dbx.AddIndexTree(records);
    return dbx;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::string dir = "/tmp";
    bool store = false;
    std::size_t messages = 74000;
    bool keep = false;  // --keep: the folder files stay (their folder is printed)
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) dir = argv[++i];
        else if (std::strcmp(argv[i], "--store") == 0) store = true;
        else if (std::strcmp(argv[i], "--keep") == 0) keep = true;
        else if (std::strcmp(argv[i], "--messages") == 0 && i + 1 < argc) messages = std::strtoul(argv[++i], nullptr, 10);
    }
    const std::string program = CORVANE_DBX_PROGRAM;
    const std::string work = dir + "/corvane-bench-index-" + std::to_string(::getpid());
    stdfs::create_directories(work);

    {
        support::TDbxWriter dbx = IndexedFile(messages, 5, true);
        dbx.Save(work + "/indexed.dbx");
        dbx.PutU32(0xE4, 0);
        dbx.Save(work + "/plain.dbx");
    }
    std::printf("folder file: %.1f MB\n", static_cast<double>(stdfs::file_size(work + "/indexed.dbx")) / 1e6);
    std::vector<double> indexed, plain, indexedCsv, plainCsv;
    Run({program, "list", "--deleted", work + "/indexed.dbx"});  // the file into the page cache
    for (int r = 0; r < rounds; ++r) {
        plain.push_back(Run({program, "list", "--deleted", work + "/plain.dbx"}));
        indexed.push_back(Run({program, "list", "--deleted", work + "/indexed.dbx"}));
        plainCsv.push_back(Run({program, "list", "--deleted", "--format", "csv", work + "/plain.dbx"}));
        indexedCsv.push_back(Run({program, "list", "--deleted", "--format", "csv", work + "/indexed.dbx"}));
    }
    const double p = Median(plain), x = Median(indexed);
    std::printf("list --deleted: without the index %.3f s, with it %.3f s: %+.1f %% (target at most +5 %%)\n", p, x,
                (x / p - 1) * 100);
    // CSV carries the index's properties, so there every entry is read and
    // held.
    const double pc = Median(plainCsv), xc = Median(indexedCsv);
    std::printf("list --deleted --format csv: without the index %.3f s, with it %.3f s: %+.1f %%\n", pc, xc,
                (xc / pc - 1) * 100);
    std::vector<double> alone;
    std::size_t entries = 0;
    for (int r = 0; r < rounds; ++r) {
        Toutlookfile reader;
        const auto start = std::chrono::steady_clock::now();
        reader.OpenFolder(work + "/indexed.dbx");
        entries = reader.ReadIndex().Entries.size();
        alone.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const double a = Median(alone);
    std::printf("the index read alone: %zu entries in %.4f s, %.1f %% of the list without it\n", entries, a, a / p * 100);

    if (store) {
        const std::string folder = work + "/store";
        stdfs::create_directories(folder);
        std::vector<support::TFolderFixture> folders = {{1, 0, "Local Folders", "", "", {}, 0, 0, true}};
        std::vector<std::string> files;
        for (int f = 0; f < 20; ++f) {
            const std::string file = "Folder" + std::to_string(f) + ".dbx";
            IndexedFile(5000, 100 + static_cast<std::uint64_t>(f), false).Save(folder + "/" + file);
            files.push_back(folder + "/" + file);
            support::TFolderFixture entry;
            entry.id = static_cast<std::uint32_t>(f + 2);
            entry.parent = 1;
            entry.name = "Folder " + std::to_string(f);
            entry.file = file;
            entry.writeFile = false;  // written above
            folders.push_back(entry);
        }
        support::WriteStore(folder, folders);
        std::vector<double> whole, sum;
        for (int r = 0; r < rounds; ++r) {
            double total = 0;
            for (std::size_t f = 0; f < files.size(); ++f) {
                const std::string out = work + "/single" + std::to_string(r) + "-" + std::to_string(f);
                total += Run({program, "export", "--whole-messages", "--out", out, files[f]});
                stdfs::remove_all(out);
            }
            sum.push_back(total);
            const std::string out = work + "/whole" + std::to_string(r);
            whole.push_back(Run({program, "export", "--whole-messages", "--out", out, folder}));
            stdfs::remove_all(out);
        }
        const double s = Median(sum), w = Median(whole);
        std::printf("export --whole-messages of a store of 20 files, 100 000 messages: %.3f s; the 20 single exports "
                    "%.3f s: %.2f times (target at most 1.1)\n",
                    w, s, w / s);
    }
    if (keep) std::printf("kept in %s\n", work.c_str());
    else stdfs::remove_all(work);
    return 0;
}
