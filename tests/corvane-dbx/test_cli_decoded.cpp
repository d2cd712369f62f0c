// corvane-dbx with decoded texts: MIME mail of the kind Outlook Express kept
// (encoded words in several charsets, quoted-printable and base64 bodies, an
// attachment) in a folder file, listed, shown and filtered decoded by default
// and as stored with --raw.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "corvane-dbx/CommandLine.h"
#include "corvane-dbx/ListFormats.h"
#include "emailexport/emailexport.h"
#include "outlookfile/ReaderTestSupport.h"
#include "platform/AnsiText.h"
#include "support/CliRun.h"
#include "support/CsvColumns.h"
#include "support/DbxFixture.h"

using namespace readertest;
using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;
namespace cli = corvane::cli;

namespace {

using TResult = corvane::testsupport::TCliResult;
using corvane::testsupport::Dbx;
using corvane::testsupport::CsvWithout;
using corvane::testsupport::kCsvPlaceColumns;

// Item 0: ISO-8859-1 encoded words (Q), a quoted-printable body with a soft
// line break inside a word. Item 1: UTF-8 encoded words (B), the subject
// folded over two lines; multipart/mixed with a base64 text part (UTF-8,
// broken over two lines) and a PDF attachment named by RFC 2231 (14 bytes).
// Item 2: plain text with a row of question marks, and a date no one can read.
const char* const kMessages[] = {
    "From: =?iso-8859-1?Q?J=FCrgen_M=FCller?= <juergen@example.org>\r\n"
    "To: =?iso-8859-1?Q?Zo=EB?= Brandt <zoe@example.org>\r\n"
    "Subject: =?iso-8859-1?Q?Gr=FC=DFe_aus_M=FCnchen?=\r\n"
    "Date: Tue, 6 May 2003 11:30:00 +0200\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "Im Kaffee=\r\n"
    "haus in M=FCnchen ist es sch=F6n.\r\n",

    "From: =?utf-8?B?0J7Qu9C10LMg0J/QtdGC0YDQvtCy?= <oleg@example.ru>\r\n"
    "To: Ann <ann@example.org>\r\n"
    "Subject: =?utf-8?B?0J/RgNC40LLQtdGCIA==?=\r\n"
    " =?utf-8?B?0LjQtyDmnbHkuqw=?=\r\n"
    "Date: 14 May 2003 09:15:00 +0400\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed;\r\n"
    "\tboundary=\"----=_NextPart_000_0001\"\r\n"
    "\r\n"
    "This is a multi-part message in MIME format.\r\n"
    "\r\n"
    "------=_NextPart_000_0001\r\n"
    "Content-Type: text/plain; charset=\"utf-8\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "RGFzIFphdWJlcndvcnQgbGF1dGV0IEFicmFrYWRh\r\n"
    "YnJhLgrQodC/0LDRgdC40LHQviEK\r\n"
    "\r\n"
    "------=_NextPart_000_0001\r\n"
    "Content-Type: application/pdf; name=\"Bericht.pdf\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment;\r\n"
    "\tfilename*=iso-8859-1''Bericht%20f%FCr%20Mai.pdf\r\n"
    "\r\n"
    "JVBERi0xLjQgdGVzdAo=\r\n"
    "\r\n"
    "------=_NextPart_000_0001--\r\n",

    "From: Ann <ann@example.org>\r\n"
    "To: Bob <bob@example.org>\r\n"
    "Subject: Plain words\r\n"
    "Date: sometime soon\r\n"
    "\r\n"
    "Just plain text, nothing encoded. Why???????\r\n",
};

struct TDecodedRow {
    const char* date;
    const char* from;
    const char* to;
    const char* subject;
    const char* dateIso;  // null: none
};
const TDecodedRow kDecoded[] = {
    {"Tue, 6 May 2003 11:30:00 +0200", "J\u00fcrgen M\u00fcller <juergen@example.org>",
     "Zo\u00eb Brandt <zoe@example.org>", "Gr\u00fc\u00dfe aus M\u00fcnchen", "2003-05-06T11:30:00+02:00"},
    {"14 May 2003 09:15:00 +0400", "\u041e\u043b\u0435\u0433 \u041f\u0435\u0442\u0440\u043e\u0432 <oleg@example.ru>",
     "Ann <ann@example.org>", "\u041f\u0440\u0438\u0432\u0435\u0442 \u0438\u0437 \u6771\u4eac",
     "2003-05-14T09:15:00+04:00"},
    {"sometime soon", "Ann <ann@example.org>", "Bob <bob@example.org>", "Plain words", nullptr},
};

const char* const kBody1 = "Das Zauberwort lautet Abrakadabra.\n\u0421\u043f\u0430\u0441\u0438\u0431\u043e!\n";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The terminal columns of UTF-8 text: two for the CJK ideographs, one for
// every other character; -1 when the text is no UTF-8.
long Columns(const std::string& text) {
    long columns = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        if (n == 0 || i + n > text.size()) return -1;
        char32_t c = n == 1 ? b : b & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
            c = (c << 6) | (text[i + k] & 0x3F);
        }
        columns += c >= 0x4E00 && c <= 0x9FFF ? 2 : 1;
        i += n;
    }
    return columns;
}

class CliDecoded : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        TDbxWriter w(3);
        w.ReserveScatteredSlots(4);
        for (const char* m : kMessages) w.AddMessage(m, TBlockOrder::Scattered);
        path_ = Scratch("Mime.dbx");
        w.Save(path_);
        emails_ = Toutlookfile().GetEmails(path_, false);
        ASSERT_EQ(emails_.size(), std::size(kMessages));
        // The items come in the order of the chains in the file.
        for (std::size_t k = 0; k < std::size(kMessages); ++k) {
            const std::string from = std::string(kMessages[k]).substr(5, std::string(kMessages[k]).find("\r\n") - 5);
            for (std::size_t i = 0; i < emails_.size(); ++i)
                if (emails_[i].From == from) item_[k] = i, message_[i] = k;
        }
        ASSERT_EQ(std::set<std::size_t>(std::begin(item_), std::end(item_)).size(), std::size(kMessages));
    }
    std::string path_;
    TEmailArray emails_;
    std::size_t item_[std::size(kMessages)] = {};     // the item of each message
    std::size_t message_[std::size(kMessages)] = {};  // the message of each item
};

TEST_F(CliDecoded, TableAndCsvShowDecodedTextsAndRawTheStoredOnes) {
    const TResult csv = Dbx({"list", "--format", "csv", path_});
    ASSERT_EQ(csv.Status, cli::kExitOk) << csv.Err;
    std::string expected = "Item Num,Deleted,Date,From,To,Subject,Flags,Received,Message-ID,In Index\r\n";
    for (std::size_t i = 0; i < std::size(kDecoded); ++i) {
        const TDecodedRow& d = kDecoded[message_[i]];
        expected += std::to_string(i) + ",no," + cli::CsvField(d.date) + "," + d.from + "," + d.to + "," + d.subject + ",,,,\r\n";
    }
    EXPECT_EQ(CsvWithout(csv.Out, kCsvPlaceColumns), expected);

    // --raw: the header lines' values as stored, their leading space kept.
    const TResult raw = Dbx({"list", "--raw", "--format", "csv", path_});
    ASSERT_EQ(raw.Status, cli::kExitOk) << raw.Err;
    expected = "Item Num,Deleted,Date,From,To,Subject,Flags,Received,Message-ID,In Index\r\n";
    for (std::size_t i = 0; i < emails_.size(); ++i) {
        const TEmail& e = emails_[i];
        expected += std::to_string(i) + ",no," + cli::CsvField(e.Date) + "," + e.From + "," + e.To + "," + e.Subject + ",,,,\r\n";
    }
    EXPECT_EQ(CsvWithout(raw.Out, kCsvPlaceColumns), expected);
    EXPECT_EQ(emails_[item_[1]].Subject, " =?utf-8?B?0J/RgNC40LLQtdGCIA==?=");  // the first line of the folded header

    // The table: decoded cells whole, or cut to the width in columns without
    // splitting a character (at 69 columns the subject's cell has 11, and its
    // twelfth column is the first half of a wide ideograph); --raw shows the
    // stored texts.
    for (const int width : {0, 69, 50}) {
        const TResult table = Dbx({"list", path_}, width);
        ASSERT_EQ(table.Status, cli::kExitOk) << table.Err;
        const std::vector<std::string> lines = Lines(table.Out);
        ASSERT_EQ(lines.size(), 1 + std::size(kDecoded));
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_GE(Columns(lines[i]), 0) << lines[i];
            if (width > 0) EXPECT_LE(Columns(lines[i]), width) << lines[i];
            else EXPECT_NE(lines[i].find(kDecoded[message_[i - 1]].subject), std::string::npos) << lines[i];
            EXPECT_EQ(lines[i].find("=?"), std::string::npos) << lines[i];
        }
    }
    const TResult rawTable = Dbx({"list", "--raw", path_});
    ASSERT_EQ(rawTable.Status, cli::kExitOk) << rawTable.Err;
    EXPECT_NE(rawTable.Out.find("=?iso-8859-1?Q?Gr=FC=DFe_aus_M=FCnchen?="), std::string::npos) << rawTable.Out;
}

TEST_F(CliDecoded, JsonHasDecodedTextsIsoDatesAttachmentsAndTheRawTexts) {
    const TResult r = Dbx({"list", "--format", "json", path_});
    ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
    const auto json = nlohmann::json::parse(r.Out);
    ASSERT_EQ(json.size(), std::size(kDecoded));
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto& row = json[i];
        const TDecodedRow& d = kDecoded[message_[i]];
        const TEmail& e = emails_[i];
        EXPECT_EQ(row["item"], i);
        EXPECT_EQ(row["date"], d.date);
        EXPECT_EQ(row["from"], d.from);
        EXPECT_EQ(row["to"], d.to);
        EXPECT_EQ(row["subject"], d.subject);
        if (d.dateIso) EXPECT_EQ(row["dateIso"], d.dateIso);
        else EXPECT_TRUE(row["dateIso"].is_null()) << row["dateIso"];
        EXPECT_EQ(row["raw"], (nlohmann::json{{"date", corvane::ansi::ToUtf8(e.Date)},
                                               {"from", corvane::ansi::ToUtf8(e.From)},
                                               {"to", corvane::ansi::ToUtf8(e.To)},
                                               {"subject", corvane::ansi::ToUtf8(e.Subject)}}));
        EXPECT_EQ(row["messageStart"], e.MessageStart);
        EXPECT_EQ(row["headerEnd"], e.HeaderEnd);
        EXPECT_EQ(row["messageEnd"], e.MessageEnd);
    }
    EXPECT_EQ(json[item_[0]]["attachments"], nlohmann::json::array());
    EXPECT_EQ(json[item_[1]]["attachments"],
              nlohmann::json::parse(R"([{"name": "Bericht f\u00fcr Mai.pdf", "type": "application/pdf", "size": 14}])"));
    EXPECT_EQ(json[item_[2]]["attachments"], nlohmann::json::array());

    // --raw: the records as stored and nothing decoded.
    const auto raw = nlohmann::json::parse(Dbx({"list", "--raw", "--format", "json", path_}).Out);
    ASSERT_EQ(raw.size(), emails_.size());
    EXPECT_EQ(raw[0]["subject"], emails_[0].Subject);
    EXPECT_FALSE(raw[0].contains("dateIso"));
    EXPECT_FALSE(raw[0].contains("raw"));
}

TEST_F(CliDecoded, ShowPrintsTheDecodedTextAndRawTheStoredStretch) {
    struct TCase {
        std::size_t message;
        std::string decoded;
    };
    // The header lines a mail reader shows first, decoded, then the body.
    const TCase cases[] = {
        {0, "From: J\u00fcrgen M\u00fcller <juergen@example.org>\nTo: Zo\u00eb Brandt <zoe@example.org>\n"
            "Date: Tue, 6 May 2003 11:30:00 +0200\nSubject: Gr\u00fc\u00dfe aus M\u00fcnchen\n\n"
            "Im Kaffeehaus in M\u00fcnchen ist es sch\u00f6n.\n"},
        {1, "From: \u041e\u043b\u0435\u0433 \u041f\u0435\u0442\u0440\u043e\u0432 <oleg@example.ru>\nTo: Ann <ann@example.org>\n"
            "Date: 14 May 2003 09:15:00 +0400\nSubject: \u041f\u0440\u0438\u0432\u0435\u0442 \u0438\u0437 \u6771\u4eac\n\n" +
                std::string(kBody1) + "\nAttachments:\n  Bericht f\u00fcr Mai.pdf  (application/pdf, 14 bytes)\n"},
        {2, "From: Ann <ann@example.org>\nTo: Bob <bob@example.org>\nDate: sometime soon\nSubject: Plain words\n\n"
            "Just plain text, nothing encoded. Why???????\n"},
    };
    for (const TCase& c : cases) {
        const std::string item = std::to_string(item_[c.message]);
        const TResult shown = Dbx({"show", item, path_});
        ASSERT_EQ(shown.Status, cli::kExitOk) << shown.Err;
        EXPECT_EQ(shown.Out, c.decoded) << c.message;
        // As stored: from the blank line after the header to the message's end.
        const std::string message = kMessages[c.message];
        const TResult raw = Dbx({"show", "--raw", item, path_});
        ASSERT_EQ(raw.Status, cli::kExitOk) << raw.Err;
        EXPECT_EQ(raw.Out, message.substr(message.find("\r\n\r\n") + 2)) << c.message;
        EXPECT_EQ(raw.Out, corvane::mail::ReadMessageBody(emails_[item_[c.message]]));
    }
}

TEST_F(CliDecoded, FilterFindsWordsInDecodedBodiesAndRawOnlyInStoredOnes) {
    struct TCase {
        std::string keyword;
        std::set<std::size_t> decoded, raw;  // the messages listed without and with --raw
    };
    const TCase cases[] = {
        {"kaffeehaus", {0}, {}},                              // joined by a soft line break
        {"zauberwort", {1}, {}},                              // only in the base64 part
        {"SCH\u00d6N", {0}, {}},                              // UTF-8, other letter case, =F6 as stored
        {"\u0441\u043f\u0430\u0441\u0438\u0431\u043e", {1}, {}},  // Cyrillic: no "???????" as stored
        {"=fcnchen", {0}, {0}},                               // as stored only
        {"NOTHING ENCODED", {2}, {2}},
        {"bericht f\u00fcr", {}, {}},                          // attachment names are no body text
    };
    for (const TCase& c : cases) {
        for (const bool raw : {false, true}) {
            std::vector<std::string> arguments{"list", "--format", "csv", "--filter", c.keyword, path_};
            if (raw) arguments.insert(arguments.begin() + 1, "--raw");
            const TResult r = Dbx(arguments);
            ASSERT_EQ(r.Status, cli::kExitOk) << r.Err;
            std::set<std::size_t> messages;
            const std::vector<std::string> lines = Lines(r.Out);
            for (std::size_t k = 1; k < lines.size(); ++k) messages.insert(message_[std::stoul(lines[k])]);
            EXPECT_EQ(messages, raw ? c.raw : c.decoded) << c.keyword << (raw ? " --raw" : "");
        }
    }
    // export keeps the same rows and writes them byte for byte.
    const std::string out = Scratch("out");
    const TResult exported = Dbx({"export", "--filter", "zauberwort", "--out", out, path_});
    ASSERT_EQ(exported.Status, cli::kExitOk) << exported.Err;
    EXPECT_EQ(ReadAll(out + "/RecoveredEmail0.eml"), kMessages[1]);
    EXPECT_FALSE(stdfs::exists(out + "/RecoveredEmail1.eml"));
    const TResult none = Dbx({"export", "--raw", "--filter", "zauberwort", "--out", Scratch("none"), path_});
    ASSERT_EQ(none.Status, cli::kExitOk) << none.Err;
    EXPECT_FALSE(stdfs::exists(Scratch("none") + "/RecoveredEmail0.eml"));
}

}  // namespace
