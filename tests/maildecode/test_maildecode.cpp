// The message decoder through its interface: header texts, dates, bodies,
// attachments, the keyword search over decoded text, and damaged input.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "maildecode/MessageDate.h"
#include "maildecode/maildecode.h"

using namespace corvane::mail;

namespace {

// LF-lined text as a message file holds it (CR LF).
std::string CrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

TEST(DecodeHeaderText, EncodedWordsFoldingAndRawBytes) {
    struct Case {
        const char* raw;
        const char* decoded;
    } cases[] = {
        {" Plain subject", "Plain subject"},
        {" =?iso-8859-1?Q?J=FCrgen_M=FCller?= <j@x.example>", "Jürgen Müller <j@x.example>"},
        {" =?utf-8?b?w6k=?= =?utf-8?b?w6k=?=", "éé"},                       // the space between two words goes
        {" a =?utf-8?q?b?= c", "a b c"},                                       // spaces next to text stay
        {" =?UTF-8?Q?split_?=\r\n =?UTF-8?Q?word?=", "split word"},           // folded, then joined
        {" raffle prizes and the\r\n\tbest", "raffle prizes and the best"},   // unfolded; the tab a space
        {" =?utf-8?b?4pw=?= =?utf-8?b?kw==?=", "✓"},                          // a character split over two words
        {" =?koi8-r?b?8NLJ18XU?=", "Привет"},
        {" =?windows-1251?B?z/Do4uXy?=", "Привет"},
        {" =?iso-8859-2?Q?=AElu=BBou=E8k=FD?=", "Žluťoučký"},
        {" =?iso-8859-15?Q?=A4uro?=", "€uro"},
        {" =?shift_jis?B?k/qWe4zq?=", "日本語"},
        {" =?utf-8*en?q?hi?=", "hi"},                                          // a language after the charset
        {" =?x-unknown?q?caf=E9?=", "café"},                                   // unknown charset: Windows-1252
        {" caf\xE9 cr\xE8me", "café crème"},                                   // raw bytes: Windows-1252
        {" caf\xC3\xA9", "café"},                                              // raw bytes that are UTF-8
        {" =?utf-8?x?abc?= =?utf-8?q?no end", "=?utf-8?x?abc?= =?utf-8?q?no end"},  // no encoded words
        {"   ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeHeaderText(c.raw), c.decoded) << c.raw;
}

TEST(MessageDate, IsoFormWithTheZoneWhereItIsKnown) {
    struct Case {
        const char* text;
        const char* iso;  // "" when no date
    } cases[] = {
        {"Mon, 5 May 2003 10:00:00 +0100", "2003-05-05T10:00:00+01:00"},
        {"5 May 2003 10:00 -0530", "2003-05-05T10:00:00-05:30"},
        {"Thu, 8 May 2003 09:15 PDT", "2003-05-08T09:15:00-07:00"},
        {"Fri, 9 May 2003 12:00:00 Z", "2003-05-09T12:00:00+00:00"},
        {"Fri, 9 May 2003 12:00:00 GMT", "2003-05-09T12:00:00+00:00"},
        {"Fri, 9 May 2003 12:00:00 -0000", "2003-05-09T12:00:00"},   // local time, zone unknown
        {"Fri, 9 May 2003 12:00:00 XYZ", "2003-05-09T12:00:00"},
        {"Fri, 9 May 2003 12:00:00", "2003-05-09T12:00:00"},
        {"Tue, 6 May 03 11:00 EDT", "2003-05-06T11:00:00-04:00"},
        {"Sat, 1 Jan 99 00:00:00 +0000 (GMT)", "1999-01-01T00:00:00+00:00"},
        {"32 May 2003 10:00 +0000", ""},
        {"yesterday", ""},
    };
    for (const Case& c : cases) {
        const auto date = ReadMessageDate(c.text);
        EXPECT_EQ(date ? IsoDate(*date) : std::string(), c.iso) << c.text;
        std::string message = std::string("Date: ") + c.text + "\r\n\r\n";
        EXPECT_EQ(DecodeHeaders(message).DateIso, c.iso) << c.text;
    }
}

TEST(DecodeMessage, BodiesOfTheCommonShapes) {
    struct Case {
        const char* name;
        std::string message;
        std::string body;
    } cases[] = {
        {"no MIME, 8-bit bytes", "Subject: x\n\nCaf\xE9 \x80" "5\n", "Café €5\n"},
        {"US-ASCII over 8-bit bytes", "Content-Type: text/plain; charset=us-ascii\n\nna\xEFve\n", "naïve\n"},
        {"quoted-printable soft breaks",
         "Content-Transfer-Encoding: quoted-printable\nContent-Type: text/plain; charset=iso-8859-1\n\n"
         "one =\nline=2C caf=e9=3D\nsecond\n",
         "one line, café=\nsecond\n"},
        {"base64 with line breaks and garbage",
         "Content-Transfer-Encoding: base64\nContent-Type: text/plain; charset=utf-8\n\n"
         "w6lj\nbGF0\n*!*\nw6k=\n",
         "éclaté"},
        {"alternative: plain preferred, also when HTML comes first",
         "Content-Type: multipart/alternative; boundary=\"b\"\n\n--b\nContent-Type: text/html\n\n<p>html</p>\n"
         "--b\nContent-Type: text/plain\n\nplain\n--b--\n",
         "plain"},
        {"HTML only", "Content-Type: text/html\n\n<html><head><title>t</title></head><body>a<br>b&nbsp;&amp;"
                      "<p>c &lt;d&gt;</p><ul><li>e</li><li>f</li></ul></body></html>",
         "a\nb &\n\nc <d>\n\ne\nf\n"},
        {"HTML charset from its meta element",
         "Content-Type: text/html\n\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\">\xF0\xD2\xC9",
         "При\n"},
        {"mixed: text parts one after the other",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\n\nfirst\n--m\nContent-Type: text/plain\n\nsecond\n--m--\n",
         "first\n\nsecond"},
        {"forwarded message inline",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\n\nsee below\n--m\nContent-Type: message/rfc822\n\n"
         "From: =?utf-8?q?Zo=C3=AB?= <z@x>\nSubject: inner\n\ninner body\n--m--\n",
         "see below\n\nFrom: Zoë <z@x>\nSubject: inner\n\ninner body"},
        {"boundary never closed", "Content-Type: multipart/mixed; boundary=m\n\n--m\n\ncut sho", "cut sho"},
        {"multipart without a boundary", "Content-Type: multipart/mixed\n\njust text\n", "just text\n"},
        {"header block never closed", "Subject: x\nFrom: y", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeMessage(CrLf(c.message)).Body, c.body) << c.name;
        EXPECT_EQ(DecodeMessage(c.message).Body, c.body) << c.name << " (LF lines)";
    }
}

TEST(DecodeMessage, AttachmentsWithTheirNamesTypesAndSizes) {
    const std::string message = CrLf(
        "Content-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: text/plain\n\nbody\n"
        "--m\nContent-Type: application/pdf; name=\"=?iso-8859-1?Q?f=FCr.pdf?=\"\n"
        "Content-Transfer-Encoding: base64\n\nAAEC\nAwQ=\n"
        "--m\nContent-Type: application/octet-stream\nContent-Disposition: attachment;\n"
        " filename*0*=iso-8859-1''l%E4nge; filename*1=\" notes.txt\"\n\nabc\n"
        "--m\nContent-Type: text/plain\nContent-Disposition: attachment; filename*=utf-8''%E2%9C%93.txt\n"
        "Content-Transfer-Encoding: quoted-printable\n\na=3Db\n"
        "--m\nContent-Type: image/gif\n\nGIF\n--m--\n");
    const TDecodedMessage d = DecodeMessage(message);
    EXPECT_EQ(d.Body, "body");
    const std::vector<TAttachment> expected = {{"für.pdf", "application/pdf", 5},
                                               {"länge notes.txt", "application/octet-stream", 3},
                                               {"✓.txt", "text/plain", 3},
                                               {"", "image/gif", 3}};
    EXPECT_EQ(d.Attachments, expected);
}

TEST(DecodeMessage, DamagedAndHugeInputsEndWithAResult) {
    // Nesting far deeper than is followed, each level its own boundary.
    std::string deep = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
    for (int i = 0; i < 200; ++i)
        deep += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i + 1) +
                "\r\n\r\n";
    deep += "--b200\r\n\r\ninnermost\r\n";
    EXPECT_EQ(DecodeMessage(deep).Body, "");
    // More parts than are looked at.
    std::string many = "Content-Type: multipart/mixed; boundary=x\r\n\r\n";
    for (int i = 0; i < 10000; ++i) many += "--x\r\nContent-Type: image/png\r\n\r\nAAAA\r\n";
    EXPECT_LE(DecodeMessage(many).Attachments.size(), kMaxParts);
    // Megabytes of would-be encoded words and tags.
    std::string words = "Subject: ";
    for (int i = 0; i < 200000; ++i) words += "=?a?";
    words += "\r\nContent-Type: text/html\r\n\r\n";
    for (int i = 0; i < 200000; ++i) words += "<a '";
    const TDecodedMessage d = DecodeMessage(words);
    EXPECT_EQ(d.Subject.size(), 4u * 200000);
    // Every cut of a message decodes.
    const std::string whole = CrLf(
        "From: =?utf-8?q?A?=\nContent-Type: multipart/alternative; boundary=q\n\n--q\nContent-Type: text/plain; "
        "charset=utf-8\nContent-Transfer-Encoding: base64\n\nw6nDqcOp\n--q--\n");
    for (std::size_t n = 0; n <= whole.size(); ++n) DecodeMessage(whole.substr(0, n));
    EXPECT_EQ(DecodeMessage(whole).Body, "ééé");
}

TEST(CharsetToUtf8, AConvertersOutputBeyondUnicodeBecomesReplacementCharacters) {
    // UCS-4 big-endian: 'A', then a value far beyond U+10FFFF, then 'B'.
    const std::string ucs4("\0\0\0A\x7F\xFF\xFF\xFF\0\0\0B", 12);
    // (A system without that converter reads the bytes as Windows-1252.)
    const std::string text = CharsetToUtf8(ucs4, "ucs-4");
    EXPECT_NE(text.find('A'), std::string::npos);
    EXPECT_EQ(text.back(), 'B');
    for (const unsigned char c : text) EXPECT_TRUE(c < 0xF5 && c != 0xC0 && c != 0xC1) << text;
}

TEST(TextHoldsKeyword, AnyLetterCaseOfLatinGreekAndCyrillic) {
    EXPECT_TRUE(TextHoldsKeyword("Grüße aus MÜNCHEN", "münchen"));
    EXPECT_TRUE(TextHoldsKeyword("Привет, мир", "ПРИВЕТ"));
    EXPECT_TRUE(TextHoldsKeyword("ΚΑΛΗΜΈΡΑ", "καλημέρα"));
    EXPECT_TRUE(TextHoldsKeyword("Œuvre ŽLUŤOUČKÝ", "žluťoučký"));
    EXPECT_TRUE(TextHoldsKeyword("anything", ""));
    EXPECT_FALSE(TextHoldsKeyword("morgen", "morgan"));
    EXPECT_FALSE(TextHoldsKeyword("", "x"));
    EXPECT_EQ(FoldCase("ÀÉÎ ÿŸ Ab"), "àéî ÿÿ ab");
}

// Every decoded text is well-formed UTF-8, whatever the bytes claim: what a
// charset converter passes through, a text said to be UTF-8 that is not,
// raw header bytes and character references to no character.
TEST(StrictUtf8, DecodedTextsAreAlwaysWellFormed) {
    const std::string R = "\xEF\xBF\xBD";
    const struct {
        std::string In;
        std::string Out;
    } headers[] = {
        {"=?utf-8?Q?big_=F4=90=80=80?=", "big " + R + R + R + R},
        {"=?utf-8?Q?=ED=A0=80?= x", R + R + R + " x"},
        {"=?utf-8?Q?=E0=80=AF?=", R + R + R},
        {"=?utf-8?Q?=F0=9F=98?=", R},
        {"=?utf-8?Q?caf=C3=A9?=", "caf\xC3\xA9"},
        {"raw \xE0\x80\xAF", "raw \xC3\xA0\xE2\x82\xAC\xC2\xAF"},  // not UTF-8: Windows-1252
        {"raw caf\xC3\xA9", "raw caf\xC3\xA9"},
    };
    for (const auto& c : headers) EXPECT_EQ(corvane::mail::DecodeHeaderText(c.In), c.Out) << c.In;
    EXPECT_EQ(corvane::mail::HtmlToText("a&#xD800;b&#x110000;c&#1114111;"), "a" + R + "b" + R + "c\xF4\x8F\xBF\xBF\n");
    const corvane::mail::TDecodedMessage m = corvane::mail::DecodeMessage(
        "Subject: s\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nok \xF4\x90\x80\x80 \xED\xBF\xBF\r\n");
    EXPECT_EQ(m.Body, "ok " + R + R + R + R + " " + R + R + R + "\n");
}
