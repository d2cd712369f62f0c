#pragma once
// What both windows (Qt on Linux, the Windows controls under Wine) must show
// for one fixture folder file: its rows with their cell texts, the order a
// click on "Subject" gives, the messages the export writes. The window tests
// of either front end open the same file and hold their list to these.

#include <string>
#include <vector>

#include "support/MessageFiles.h"

namespace corvane::testsupport {

// The twelve messages of TwelveMessages (texts that order differently in
// every column, one without a Subject) as mails of a folder file, the ones
// at kWindowDeletedMails deleted (in that order).
std::vector<TMail> WindowFixtureMails();
inline constexpr int kWindowDeletedMails[] = {3, 8};
// Writes the fixture folder file at path.
void WriteWindowFixture(const std::string& path);

// A row as the list shows it: "Item Num" and the four header texts, each
// with the space that followed the header's colon (empty when the message
// has no such header).
struct TExpectedRow {
    std::string Cells[5];
    bool Deleted = false;
    const TMail* Mail = nullptr;  // the fixture's mail the row stands for
};

// The rows after a load, top to bottom: the live mails in the order they
// were written, then, with includeDeleted, the deleted ones in the order of
// their deletion; numbered 0, 1, ... in that order.
std::vector<TExpectedRow> ExpectedWindowRows(bool includeDeleted);

// The "Item Num" texts of rows ordered by their Subject ignoring letter case
// (the fixture's subjects are plain letters, digits and blanks, whose order
// every locale agrees on), stably, ascending or descending.
std::vector<std::string> NumbersBySubject(const std::vector<TExpectedRow>& rows, bool ascending);

// The body text the fixture gives a mail's row in the preview and the
// filter: its body as written.
const std::string& BodyOf(const TExpectedRow& row);

}  // namespace corvane::testsupport
