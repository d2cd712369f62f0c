#pragma once
// Message files and folder files for the tests of what the window does with
// them: message files written as the folder reader writes them (raw message
// texts end to end, CR LF lines) with the records the header parser gives for
// them, and small folder files of live and deleted messages.

#include <cstdint>
#include <string>
#include <vector>

#include "Globals/Globals.h"

namespace corvane::testsupport {

// One message of a message file. Empty header values leave their line out.
struct TMessage {
    std::string Date, From, To, Subject;
    std::string Body;           // CR LF lines, without the blank line before it
    bool Deleted = false;
    bool HeaderClosed = true;   // false: no blank line ends the header block
};

// Writes the messages end to end into the file at path and returns their
// records, offsets as the header parser gives them: MessageStart at the first
// header line, HeaderEnd at the blank line (0 when there is none), MessageEnd
// at the next message's start. Header values with the space after the colon.
TEmailArray WriteMessageFile(const std::string& path, const std::vector<TMessage>& messages);

// n messages of eight senders in mixed letter case, dated May 1st, 2nd, ...
// 2005 at 10:00 +0200, with the subject "<tag> <i>" and the body
// "Text of <tag> <i>." followed by bodyRest.
std::vector<TMessage> SomeMessages(int n, const std::string& tag, const std::string& bodyRest = "\r\n");

// Twelve messages whose texts order differently in every column. The senders
// differ in letter case only; one has no Subject header.
std::vector<TMessage> TwelveMessages();

// The mbox text the export gives for a record of SomeMessages: the separator
// line from its From and Date, its lines with LF ends, "From " lines quoted
// with '>', and the empty line after it.
std::string MboxEntry(const TEmail& email);

// The bytes [from, to) of a file.
std::string Stretch(const std::string& path, std::int64_t from, std::int64_t to);
// A record's message text and body stretch as its message file holds them.
std::string MessageOf(const TEmail& email);

// A message of a folder file.
struct TMail {
    std::string From, To, Subject, Date, Body;
    bool Deleted = false;
    bool HeaderClosed = true;  // false: no blank line ends the header block
};

// The mail's text as stored. A deleted block's first four bytes are
// overwritten by the free list, so every text starts with a line that may be
// lost: "X-Spare: 0000000".
std::string MailText(const TMail& mail);

// "sender<n>@example.org" to "rcpt<n>@example.org", "Subject <n>", dated
// the n-th of January 2007, body "Body of message <n>.".
TMail Mail(int n, bool deleted = false);

// Writes a folder file of the mails, in order, then deletes the marked ones.
void WriteFolderFile(const std::string& path, const std::vector<TMail>& mails);

}  // namespace corvane::testsupport
