#include "support/NestedHeaderMail.h"

namespace corvane::testsupport {

namespace {

// A forward as Outlook Express sends it with "Forward As Attachment": the
// original message whole in a message/rfc822 part.
const char* const kForward =
    "Received: from mail.fenwick.example by pop.fenwick.example; Tue, 6 May 2003 09:12:40 +0200\r\n"
    "From: \"Ann Fenwick\" <ann@fenwick.example>\r\n"
    "To: <bob@fenwick.example>\r\n"
    "Subject: Fw: Quarterly figures\r\n"
    "Date: Tue, 6 May 2003 09:12:33 +0200\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed;\r\n"
    "\tboundary=\"----=_NextPart_000_0007_01C313B2.5A1B2C30\"\r\n"
    "X-Mailer: Microsoft Outlook Express 6.00.2800.1106\r\n"
    "\r\n"
    "This is a multi-part message in MIME format.\r\n"
    "\r\n"
    "------=_NextPart_000_0007_01C313B2.5A1B2C30\r\n"
    "Content-Type: text/plain;\r\n"
    "\tcharset=\"iso-8859-1\"\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "\r\n"
    "Bob, see the figures Carl sent.\r\n"
    "\r\n"
    "------=_NextPart_000_0007_01C313B2.5A1B2C30\r\n"
    "Content-Type: message/rfc822\r\n"
    "Content-Disposition: attachment\r\n"
    "\r\n"
    "Received: from relay.example.org by mail.fenwick.example; Mon, 5 May 2003 17:02:11 +0200\r\n"
    "From: \"Carl Hedley\" <carl@example.org>\r\n"
    "To: \"Ann Fenwick\" <ann@fenwick.example>\r\n"
    "Subject: Quarterly figures\r\n"
    "Date: Mon, 5 May 2003 17:01:55 +0200\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"us-ascii\"\r\n"
    "\r\n"
    "Ann,\r\n"
    "\r\n"
    "the figures for the quarter: 1,204 units, up 3%.\r\n"
    "\r\n"
    "Carl\r\n"
    "\r\n"
    "------=_NextPart_000_0007_01C313B2.5A1B2C30--\r\n"
    "\r\n";

// A reply that quotes the message before it inline below Outlook Express's
// "----- Original Message -----" line (which shields the quoted header lines
// up to the next blank line), and that message in turn quotes an older one
// below Outlook's "-----Original Message-----" line, which shields nothing.
const char* const kInlineQuotes =
    "Return-Path: <carl@example.org>\r\n"
    "Received: from relay.example.org by mail.fenwick.example; Wed, 7 May 2003 14:20:09 +0200\r\n"
    "From: \"Carl Hedley\" <carl@example.org>\r\n"
    "To: \"Ann Fenwick\" <ann@fenwick.example>\r\n"
    "Subject: Re: Delivery dates\r\n"
    "Date: Wed, 7 May 2003 14:20:05 +0200\r\n"
    "Message-ID: <000c01c31494$2a6b9e40$0a00a8c0@hedley>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "X-Mailer: Microsoft Outlook Express 6.00.2800.1106\r\n"
    "\r\n"
    "Ann,\r\n"
    "\r\n"
    "Friday suits us.\r\n"
    "\r\n"
    "Carl\r\n"
    "\r\n"
    "----- Original Message ----- \r\n"
    "From: \"Ann Fenwick\" <ann@fenwick.example>\r\n"
    "To: \"Carl Hedley\" <carl@example.org>\r\n"
    "Sent: Wednesday, May 07, 2003 11:02 AM\r\n"
    "Subject: Delivery dates\r\n"
    "\r\n"
    "\r\n"
    "Carl, can you take the delivery on Friday? Dana's note is below.\r\n"
    "\r\n"
    "Ann\r\n"
    "\r\n"
    "-----Original Message-----\r\n"
    "From: Dana Price [mailto:dana@supplier.example] \r\n"
    "Sent: Tuesday, May 06, 2003 4:40 PM\r\n"
    "To: Ann Fenwick\r\n"
    "Subject: Delivery dates\r\n"
    "\r\n"
    "Ann, the goods are ready. Thursday or Friday?\r\n"
    "Dana\r\n";

// A bounce (RFC 3464): the report, then the headers of the message that could
// not be delivered.
const char* const kBounce =
    "Return-Path: <>\r\n"
    "Received: from localhost by mx.fenwick.example; Thu, 8 May 2003 06:30:12 +0200\r\n"
    "Date: Thu, 8 May 2003 06:30:12 +0200\r\n"
    "From: Mail Delivery Subsystem <MAILER-DAEMON@mx.fenwick.example>\r\n"
    "To: <ann@fenwick.example>\r\n"
    "Subject: Returned mail: see transcript for details\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/report; report-type=delivery-status;\r\n"
    "\tboundary=\"h48CUC7c012345.1052368212/mx.fenwick.example\"\r\n"
    "Auto-Submitted: auto-generated (failure)\r\n"
    "\r\n"
    "This is a MIME-encapsulated message\r\n"
    "\r\n"
    "--h48CUC7c012345.1052368212/mx.fenwick.example\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "The original message was received at Thu, 8 May 2003 06:30:10 +0200\r\n"
    "from host.fenwick.example [192.0.2.10]\r\n"
    "\r\n"
    "   ----- The following addresses had permanent fatal errors -----\r\n"
    "<ellen@gone.example>\r\n"
    "    (reason: 550 5.1.1 User unknown)\r\n"
    "\r\n"
    "--h48CUC7c012345.1052368212/mx.fenwick.example\r\n"
    "Content-Type: message/delivery-status\r\n"
    "\r\n"
    "Reporting-MTA: dns; mx.fenwick.example\r\n"
    "Arrival-Date: Thu, 8 May 2003 06:30:10 +0200\r\n"
    "\r\n"
    "Final-Recipient: RFC822; ellen@gone.example\r\n"
    "Action: failed\r\n"
    "Status: 5.1.1\r\n"
    "Diagnostic-Code: SMTP; 550 5.1.1 User unknown\r\n"
    "\r\n"
    "--h48CUC7c012345.1052368212/mx.fenwick.example\r\n"
    "Content-Type: text/rfc822-headers\r\n"
    "\r\n"
    "Return-Path: <ann@fenwick.example>\r\n"
    "Received: from host.fenwick.example by mx.fenwick.example; Thu, 8 May 2003 06:30:10 +0200\r\n"
    "Message-ID: <001201c31527$5c3d2e80$0a00a8c0@fenwick>\r\n"
    "From: \"Ann Fenwick\" <ann@fenwick.example>\r\n"
    "To: <ellen@gone.example>\r\n"
    "Subject: Spring catalogue\r\n"
    "Date: Thu, 8 May 2003 06:30:02 +0200\r\n"
    "\r\n"
    "--h48CUC7c012345.1052368212/mx.fenwick.example--\r\n";

// A mailing list digest (RFC 2046 multipart/digest): each part a message of
// its own, its header right after the part's blank line.
const char* const kDigest =
    "Received: from lists.example.net by mail.fenwick.example; Fri, 9 May 2003 12:00:04 +0200\r\n"
    "From: garden-list-request@lists.example.net\r\n"
    "To: garden-list@lists.example.net\r\n"
    "Subject: Garden-list Digest, Vol 12, Issue 3\r\n"
    "Date: Fri, 9 May 2003 12:00:01 +0200\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/digest; boundary=\"===============0457\"\r\n"
    "\r\n"
    "--===============0457\r\n"
    "\r\n"
    "From: Greta Holm <greta@example.net>\r\n"
    "To: garden-list@lists.example.net\r\n"
    "Subject: Early tomatoes\r\n"
    "Date: Thu, 8 May 2003 18:40:00 +0200\r\n"
    "Message-ID: <3EBA7B10.1000@example.net>\r\n"
    "\r\n"
    "Mine are in flower already.\r\n"
    "\r\n"
    "--===============0457\r\n"
    "\r\n"
    "From: Hugo Brandt <hugo@example.com>\r\n"
    "To: garden-list@lists.example.net\r\n"
    "Subject: Re: Early tomatoes\r\n"
    "Date: Thu, 8 May 2003 21:05:00 +0200\r\n"
    "Message-ID: <3EBAA0F0.2000@example.com>\r\n"
    "\r\n"
    "Under glass, I hope.\r\n"
    "\r\n"
    "--===============0457--\r\n";

// A header that begins with lines the parser does not recognise (one of them
// folded), and a forward pasted into the body below "Begin forwarded
// message:".
const char* const kUnrecognisedFirst =
    "X-UIDL: 6c2d0e5a1b7f3c44\r\n"
    "X-Spam-Status: No, score=0.4 required=5.0\r\n"
    "\ttests=HTML_MESSAGE\r\n"
    "MIME-Version: 1.0\r\n"
    "Received: from mail.example.com by mail.fenwick.example; Sat, 10 May 2003 08:15:04 +0200\r\n"
    "From: Ivo Marsh <ivo@example.com>\r\n"
    "To: ann@fenwick.example\r\n"
    "Subject: Fwd: Room booking\r\n"
    "Date: Sat, 10 May 2003 08:15:00 +0200\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\n"
    "\r\n"
    "Ann, below what the hotel wrote.\r\n"
    "\r\n"
    "Begin forwarded message:\r\n"
    "\r\n"
    "From: Reservations <desk@hotel.example>\r\n"
    "Date: Fri, 9 May 2003 19:00:00 +0200\r\n"
    "To: Ivo Marsh <ivo@example.com>\r\n"
    "Subject: Room booking\r\n"
    "\r\n"
    "Your room is booked for 12 to 14 May.\r\n";

// A body line that reads as a header line, and a last line (the signature)
// without a line end.
const char* const kNoLastLineEnd =
    "From: Ann Fenwick <ann@fenwick.example>\r\n"
    "To: Bob <bob@fenwick.example>\r\n"
    "Subject: Minutes\r\n"
    "Date: Mon, 12 May 2003 17:00:00 +0200\r\n"
    "\r\n"
    "Minutes of the meeting follow.\r\n"
    "\r\n"
    "Subject: Budget\r\n"
    "The budget stays as it is.\r\n"
    "-- \r\n"
    "Ann";

// Text with no header line at all, as a chain that holds only the middle of
// a message has.
const char* const kNoHeader =
    "the goods are ready, Thursday or Friday\r\n"
    "\r\n"
    "and nothing here: reads as a header\r\n";

}  // namespace

std::vector<TNestedHeaderMail> NestedHeaderMails() {
    return {
        {"forward as attachment", kForward, " \"Ann Fenwick\" <ann@fenwick.example>", " <bob@fenwick.example>",
         " Fw: Quarterly figures", " Tue, 6 May 2003 09:12:33 +0200", 2},
        {"inline quotes", kInlineQuotes, " \"Carl Hedley\" <carl@example.org>", " \"Ann Fenwick\" <ann@fenwick.example>",
         " Re: Delivery dates", " Wed, 7 May 2003 14:20:05 +0200", 2},
        {"bounce", kBounce, " Mail Delivery Subsystem <MAILER-DAEMON@mx.fenwick.example>", " <ann@fenwick.example>",
         " Returned mail: see transcript for details", " Thu, 8 May 2003 06:30:12 +0200", 2},
        {"digest", kDigest, " garden-list-request@lists.example.net", " garden-list@lists.example.net",
         " Garden-list Digest, Vol 12, Issue 3", " Fri, 9 May 2003 12:00:01 +0200", 3},
        {"unrecognised header lines first", kUnrecognisedFirst, " Ivo Marsh <ivo@example.com>", " ann@fenwick.example",
         " Fwd: Room booking", " Sat, 10 May 2003 08:15:00 +0200", 2},
        {"no last line end", kNoLastLineEnd, " Ann Fenwick <ann@fenwick.example>", " Bob <bob@fenwick.example>",
         " Minutes", " Mon, 12 May 2003 17:00:00 +0200", 2},
        {"no header", kNoHeader, "", "", "", "", 0},
    };
}

TDbxWriter NestedHeaderFolder(std::uint64_t seed) {
    const std::vector<TNestedHeaderMail> mails = NestedHeaderMails();
    TDbxWriter dbx(seed);
    dbx.ReserveScatteredSlots(48);
    const TBlockOrder orders[] = {TBlockOrder::Scattered, TBlockOrder::Descending, TBlockOrder::Ascending};
    for (std::size_t i = 0; i < mails.size(); ++i) dbx.AddMessage(mails[i].Text, orders[i % 3]);
    // Deleted ones: a forward, a digest and a plain note, their freed blocks
    // one chain.
    const int gone[] = {
        dbx.AddMessage(mails[0].Text, TBlockOrder::Scattered),
        dbx.AddMessage(mails[3].Text, TBlockOrder::Ascending),
        dbx.AddMessage("From: Bob <bob@fenwick.example>\r\nSubject: Lunch\r\n\r\nAt one?\r\n", TBlockOrder::Ascending),
    };
    for (const int message : gone) dbx.DeleteMessage(message);
    return dbx;
}

}  // namespace corvane::testsupport
