// Writes the seed inputs of the fuzz harnesses into <folder>/<harness>/:
// folder files from the fixture writer (live, deleted, scattered and
// reused blocks, decoy structures, short and empty blocks), the message texts
// they hold, and search cases.
//   make_fuzz_seeds <folder>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/DbxFixture.h"
#include "support/NestedHeaderMail.h"

using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

namespace stdfs = std::filesystem;

void Write(const stdfs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
        std::exit(1);
    }
}

std::string Le(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::string Mail(const std::string& from, const std::string& subject, const std::string& body) {
    return "From: " + from + "\r\nTo: ivo@fenwick.example\r\nSubject: " + subject +
           "\r\nDate: Mon, 5 May 2003 10:00:00 +0100\r\n\r\n" + body + "\r\n";
}

std::vector<TDbxWriter> Folders() {
    std::vector<TDbxWriter> folders;
    {
        TDbxWriter dbx(1);
        dbx.AddMessage(Mail("ada@example.org", "Short", "One line."));
        dbx.AddMessage(Mail("bo@example.org", "Longer", std::string(700, 'x') + "\r\nend"));
        folders.push_back(dbx);
    }
    {
        TDbxWriter dbx(2);
        const int gone = dbx.AddMessage(Mail("cy@example.org", "Deleted", std::string(1100, 'd')));
        dbx.AddMessage(Mail("di@example.org", "Kept", "Still here.\r\n----- Original Message -----\r\nFrom: q\r\n"));
        dbx.DeleteMessage(gone);
        dbx.AddMessage(Mail("ed@example.org", "Reused", "Took a freed block."), TBlockOrder::Ascending, true);
        folders.push_back(dbx);
    }
    {
        TDbxWriter dbx(3);
        dbx.ReserveScatteredSlots(6);
        dbx.AddIndexNode();
        dbx.AddMessageInfo("info");
        dbx.AddMessage(Mail("fa@example.org", "Scattered", std::string(1500, 's')), TBlockOrder::Scattered);
        dbx.AddMessage(Mail("gu@example.org", "Backwards", std::string(900, 'b')), TBlockOrder::Descending);
        folders.push_back(dbx);
    }
    {
        // Blocks of no text and of the largest length a header can give,
        // chained to themselves, to each other and out of the file.
        TDbxWriter dbx(4);
        const std::uint32_t a = dbx.NewBlockSlot();
        const std::uint32_t b = dbx.NewBlockSlot();
        const std::uint32_t c = dbx.NewBlockSlot();
        const std::uint32_t d = dbx.NewBlockSlot();
        dbx.PutLiveBlock(a, 0, b, "");
        dbx.PutLiveBlock(b, 0, 0, "");
        dbx.PutLiveBlock(c, 0xFFFF, c, "From: self\r\n\r\nloop");
        dbx.PutLiveBlock(d, 12, 0xFFFFFFF0u, "To: nowhere\r\n");
        dbx.PutDeletedBlock(dbx.NewBlockSlot(), a, a + 2, "Subject: unaligned\r\n");
        folders.push_back(dbx);
    }
    return folders;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const stdfs::path root(argv[1]);
    for (const char* harness : {"getemails", "messagefiles", "search"}) stdfs::create_directories(root / harness);

    std::vector<TDbxWriter> folders = Folders();
    int n = 0;
    for (TDbxWriter& dbx : folders) {
        dbx.End();
        ++n;
        Write(root / "getemails" / ("folder" + std::to_string(n) + ".dbx"), dbx.Bytes());
        // The message texts as the reader writes them, as message files:
        // deleted flag, split point and line end start in front.
        for (std::size_t m = 0; m < dbx.MessageCount(); ++m) {
            const int message = static_cast<int>(m);
            const bool deleted = dbx.IsDeleted(message);
            const std::string text = deleted ? dbx.DeletedChainText(dbx.BlocksOf(message))
                                             : dbx.LiveChainText(dbx.BlocksOf(message));
            const std::string head = Le(deleted ? 1 : 0, 1) + Le(0, 2) + Le(20, 2);
            Write(root / "messagefiles" / ("folder" + std::to_string(n) + "-" + std::to_string(m) + ".txt"), head + text);
        }
    }
    const std::string two = Mail("a@b", "First", "Body one") + Mail("c@d", "Second", "Body two");
    Write(root / "messagefiles" / "two-files.txt", Le(2, 1) + Le(60, 2) + Le(0, 2) + two);
    Write(root / "messagefiles" / "two-files-whole.txt", Le(6, 1) + Le(60, 2) + Le(0, 2) + two);
    // Messages with header blocks in their text, read as whole messages.
    int nested = 0;
    for (const corvane::testsupport::TNestedHeaderMail& mail : corvane::testsupport::NestedHeaderMails())
        Write(root / "messagefiles" / ("nested" + std::to_string(++nested) + ".txt"),
              Le(4, 1) + Le(0, 2) + Le(0, 2) + mail.Text);
    Write(root / "messagefiles" / "cr-only.txt", Le(0, 1) + Le(0, 2) + Le(3, 2) + std::string(300, '\r'));
    Write(root / "messagefiles" / "crlf-only.txt", Le(0, 1) + Le(0, 2) + Le(3, 2) + std::string(300, '\r') + "\n\r\n\r\n");

    // Search cases: flags, start, count, character, pattern length, pattern, text.
    struct Case {
        std::uint32_t flags;
        std::int16_t start, count;
        char c;
        std::string pattern, text;
    };
    const Case cases[] = {
        {3, 1, 5, ':', "Original", "----- Original Message -----"},
        {2, 5, 3, 'b', "Fenwick", "Dear fenwick, FENWICK and Fenwick"},
        {1, 0, 9, 'a', "aa", "aaaaab"},
        {0, 0, 2, '\xE9', "\xE9t\xE9", "\xC9T\xC9 et \xE9t\xE9"},
        {2, -3, 1, 'x', "x", ""},
        {3, 30, 40, 'z', "zz", "zz zz zz"},
    };
    int k = 0;
    for (const Case& c : cases) {
        const std::string bytes = Le(c.flags, 1) + Le(static_cast<std::uint16_t>(c.start), 2) +
                                  Le(static_cast<std::uint16_t>(c.count), 2) + std::string(1, c.c) +
                                  Le(static_cast<std::uint32_t>(c.pattern.size()), 2) + c.pattern + c.text;
        Write(root / "search" / ("case" + std::to_string(++k) + ".bin"), bytes);
    }
    return 0;
}
