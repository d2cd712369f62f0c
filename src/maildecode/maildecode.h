#pragma once
// A message made readable: its header texts with encoded words decoded, its
// date in ISO 8601, the text of its body and the list of its attachments, all
// in UTF-8. This is what the window shows with "Decode Texts" ticked and what
// the command line prints; the raw texts stay as the records hold them.
//
// The input is a record's message text, [MessageStart, MessageEnd) of its
// message file: raw 8-bit bytes, CR LF, LF or lone CR line ends, possibly cut
// short (a deleted message) or damaged. Every input gives a result; nesting
// is followed at most kMaxDepth levels deep and at most kMaxParts parts are
// looked at, and the work grows with the length of the text, never faster.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::mail {

inline constexpr int kMaxDepth = 24;
inline constexpr std::size_t kMaxParts = 4000;

struct TAttachment {
    std::string Name;         // the file name, decoded (RFC 2231 and RFC 2047); may be empty
    std::string Type;         // the content type in lower case, "application/octet-stream"
    std::uint64_t Size = 0;   // bytes after the transfer encoding is undone

    bool operator==(const TAttachment&) const = default;
};

struct TDecodedHeaders {
    // The values of the first Date, From, To and Subject headers: unfolded,
    // the white space after the colon dropped, encoded words decoded (also
    // inside quoted names), tabs and other control characters as spaces.
    // From and To keep their names and addresses as written. Empty when the
    // message has no such header.
    std::string Date, From, To, Subject;
    // The Date header in ISO 8601 with its UTC offset (none when the zone is
    // not known); empty when it cannot be read as a date.
    std::string DateIso;
};

struct TDecodedMessage : TDecodedHeaders {
    // The text a mail program shows, LF line ends: the text/plain part
    // (of several alternatives the plain one, else the HTML one as plain
    // text), the text parts of a mixed message one after the other, a
    // forwarded message (message/rfc822) inline with its header lines.
    std::string Body;
    // Every part that is not shown as text, in the order of the message.
    std::vector<TAttachment> Attachments;
};

// The header texts alone (the header block is read, the body is not).
TDecodedHeaders DecodeHeaders(std::string_view message);

// Headers, body and attachments.
TDecodedMessage DecodeMessage(std::string_view message);

// One header value as it stands after the colon, continuation lines and all:
// unfolded, leading white space dropped, encoded words (=?charset?B|Q?...?=)
// decoded, the white space between two adjacent encoded words dropped, bytes
// outside encoded words read as UTF-8 when they form it, else as
// Windows-1252. Control characters become spaces.
std::string DecodeHeaderText(std::string_view value);

// Bytes in a charset to UTF-8; a missing or unknown charset (and US-ASCII,
// which Outlook Express wrote over 8-bit text) is read as Windows-1252.
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);

// An HTML text (UTF-8) as plain text: tags dropped, the contents of script,
// style and head dropped, character references decoded, runs of white space
// as one space (kept in pre), block elements and br as line breaks,
// paragraphs and headings set apart by an empty line.
std::string HtmlToText(std::string_view html);

// What a preview shows of a decoded message: its body, a line break at its
// end when it has none, then, when it has attachments, an empty line,
// "Attachments:" and one line per attachment: two spaces, its name ("(no
// name)" when it has none), two spaces and "(type, N bytes)".
std::string PreviewLayout(const TDecodedMessage& decoded);

// The text with letters folded for a search that ignores letter case (Latin,
// Greek and Cyrillic letters).
std::string FoldCase(std::string_view utf8);

// Whether the UTF-8 text holds the keyword in any letter case. An empty
// keyword is held by every text.
bool TextHoldsKeyword(std::string_view utf8Text, std::string_view utf8Keyword);

}  // namespace corvane::mail
