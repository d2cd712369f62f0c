// Writes the mbox files that check_mbox.py reads back with Python's mailbox
// module: a folder file of messages that try the mbox's quoting and separator
// line, read with the folder reader and written with WriteMbox.
//
//   make_mbox <folder>
//
// Into <folder>: folder.dbx, all.mbox (every record), empty.mbox (none), and
// for record i: expect/<i>.text (its message text as the record gives it,
// CR LF lines), expect/<i>.from (the separator's sender and date, as a reader
// should find them after "From ").

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "emailexport/MboxExport.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"
#include "support/TestFiles.h"

using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

constexpr std::time_t kExportTime = 1136214245;  // Mon Jan  2 15:04:05 2006 UTC

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::string Body(const std::string& word, int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += (i % 5 == 2 ? "From the " : i % 5 == 4 ? ">From the " : "The ") + word + ", line " +
                std::to_string(i) + "\r\n";
    }
    return text;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    try {
        const std::filesystem::path folder = argv[1];
        std::filesystem::create_directories(folder / "expect");
        // The message files go there too.
        const corvane::testsupport::TTempFolderOverride temp(folder.string());

        // Subject → the separator a reader should find.
        std::map<std::string, std::string> separators;
        TDbxWriter dbx(15);
        dbx.ReserveScatteredSlots(200);

        dbx.AddMessage(Lines({"Return-Path: <maud@hedgerow.example>", "From: \"Maud Pellow\" <maud@hedgerow.example>",
                              "To: ivo@fenwick.example", "Subject: Quoted lines",
                              "Date: Mon, 5 May 2003 10:00:00 +0100", ""}) +
                           Body("rota", 30) + ">>From two deep\r\n>>>>From four deep\r\nFrom\r\nFrom:\r\n",
                       TBlockOrder::Scattered);
        separators[" Quoted lines"] = "maud@hedgerow.example Mon May  5 09:00:00 2003";

        dbx.AddMessage(Lines({"From: ivo@fenwick.example (Ivo Brandt)", "Subject: No date", "", "No Date header."}),
                       TBlockOrder::Descending);
        separators[" No date"] = "ivo@fenwick.example Mon Jan  2 15:04:05 2006";

        dbx.AddMessage(Lines({"Subject: No sender", "Date: Tue, 6 May 03 11:00 EDT", "", "From nobody at all"}),
                       TBlockOrder::Ascending);
        separators[" No sender"] = "MAILER-DAEMON Tue May  6 15:00:00 2003";

        dbx.AddMessage(Lines({"To: ivo@fenwick.example", "Subject: Neither", "", "Neither From nor Date."}));
        separators[" Neither"] = "MAILER-DAEMON Mon Jan  2 15:04:05 2006";

        // The reader leaves a last line without CR LF out of the record.
        dbx.AddMessage("From: Dev Rana <dev@fenwick.example>\r\nSubject: Unended last line\r\n"
                       "Date: Wed, 7 May 2003 23:30:00 -0130 (odd zone)\r\n\r\nThe last line\r\nhas no end",
                       TBlockOrder::Scattered);
        separators[" Unended last line"] = "dev@fenwick.example Thu May  8 01:00:00 2003";

        dbx.AddMessage(Lines({"From: <lars@fenwick.example>", "Subject: Odd bytes", "Date: 8 May 2003 09:15 PDT", "",
                              "A lone\rCR, a bare\nLF, bytes \xE9\xFC\x80 and a tab\t.", "From the end"}),
                       TBlockOrder::Scattered);
        separators[" Odd bytes"] = "lars@fenwick.example Thu May  8 16:15:00 2003";

        // Deleted messages: each block's first four text bytes give way to the
        // list's link and the reader marks each block with "[??]".
        const int gone1 = dbx.AddMessage(
            Lines({"X-Pad: gone", "From: Ada Okafor <ada@fenwick.example>", "Subject: Deleted one",
                   "Date: Fri, 9 May 2003 12:00:00 Z", ""}) +
                Body("beans", 60),
            TBlockOrder::Scattered);
        separators[" Deleted one"] = "ada@fenwick.example Fri May  9 12:00:00 2003";
        const int gone2 = dbx.AddMessage(Lines({"X-Pad: gone", "From: zoe@fenwick.example", "Subject: Deleted two",
                                                "Date: Sat, 10 May 2003 08:00:00 +0200", ""}) +
                                             Body("shed", 12),
                                         TBlockOrder::Ascending);
        separators[" Deleted two"] = "zoe@fenwick.example Sat May 10 06:00:00 2003";
        dbx.DeleteMessage(gone1);
        dbx.DeleteMessage(gone2);
        dbx.Save((folder / "folder.dbx").string());

        Toutlookfile reader;
        TEmailArray emails = reader.GetEmails((folder / "folder.dbx").string(), true);

        // A record whose text has no final line end, as a message file of
        // another kind can give it.
        const std::string unended = "From: Nina <nina@fenwick.example>\r\nSubject: No final line end\r\n"
                                    "Date: Sun, 11 May 2003 07:00:00 +0000\r\n\r\nFrom here on\r\nno end";
        WriteFile(folder / "unended.tmp", "[??]" + unended);
        TEmail record;
        record.FileName = (folder / "unended.tmp").string();
        record.From = " Nina <nina@fenwick.example>";
        record.Subject = " No final line end";
        record.Date = " Sun, 11 May 2003 07:00:00 +0000";
        record.MessageStart = 4;
        record.MessageEnd = static_cast<std::int64_t>(4 + unended.size());
        emails.insert(emails.begin() + 2, record);
        separators[record.Subject] = "nina@fenwick.example Sun May 11 07:00:00 2003";
        std::vector<const TEmail*> all;
        for (std::size_t i = 0; i < emails.size(); ++i) {
            const TEmail& e = emails[i];
            all.push_back(&e);
            const auto separator = separators.find(e.Subject);
            if (separator == separators.end()) throw std::runtime_error("unexpected record:" + e.Subject);
            std::ifstream in(e.FileName, std::ios::binary);
            const std::string file{std::istreambuf_iterator<char>(in), {}};
            WriteFile(folder / "expect" / (std::to_string(i) + ".text"),
                      file.substr(static_cast<std::size_t>(e.MessageStart),
                                  static_cast<std::size_t>(e.MessageEnd - e.MessageStart)));
            WriteFile(folder / "expect" / (std::to_string(i) + ".from"), separator->second);
        }
        if (emails.size() != separators.size()) throw std::runtime_error("records missing");

        corvane::mail::WriteMbox(all, (folder / "all.mbox").string(), kExportTime);
        corvane::mail::WriteMbox({}, (folder / "empty.mbox").string(), kExportTime);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_mbox: %s\n", e.what());
        return 1;
    }
    return 0;
}
