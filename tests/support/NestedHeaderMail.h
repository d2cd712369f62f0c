#pragma once
// Messages that carry header blocks inside their text, as mail programs send
// them: a forward that attaches the original (message/rfc822), a reply that
// quotes earlier messages inline, a bounce that returns the headers of the
// message it could not deliver, and a digest of several messages. The header
// parser starts a new record at each embedded block it recognises, so each of
// these is split into several records unless whole messages are asked for.

#include <cstddef>
#include <string>
#include <vector>

#include "support/DbxFixture.h"

namespace corvane::testsupport {

struct TNestedHeaderMail {
    std::string Name;     // what kind of message it is
    std::string Text;     // the message as stored, byte for byte
    // The message's own header as the parser stores it: each value with the
    // space after its colon.
    std::string From, To, Subject, Date;
    // Header blocks the parser recognises in the text, the message's own
    // included: the records it gives for the message by default.
    std::size_t HeaderBlocks = 0;
};

// The four kinds above, and two that need care at the message's edges: one
// whose header begins with lines of names the parser does not recognise
// (which belong to the message all the same), and one whose last line has no
// line end.
std::vector<TNestedHeaderMail> NestedHeaderMails();

// A folder file holding every message of NestedHeaderMails() live, in the
// order given, their blocks scattered over the file, together with ordinary
// messages that were deleted afterwards (so their blocks hold deleted
// chains). Returns the writer; the live messages are its messages
// 0 .. NestedHeaderMails().size() - 1.
TDbxWriter NestedHeaderFolder(std::uint64_t seed = 21);

}  // namespace corvane::testsupport
