// Writes the demo folder file samples/demo.dbx: a few messages of our own, live
// and deleted, with the header quirks real folders show, their blocks spread
// over the file in no particular order.
//
//   make_demo_sample <path of the .dbx to write>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "support/DbxFixture.h"

using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

// Joins lines with CR LF, as mail is stored.
std::string Mail(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::string Paragraphs(const std::string& sentence, int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i) lines.push_back(std::to_string(i) + ". " + sentence);
    return Mail(lines);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.dbx>\n", argv[0]);
        return 2;
    }
    try {
        TDbxWriter dbx(20260412, "Inbox");
        std::vector<std::uint32_t> infos;
        infos.push_back(dbx.AddMessageInfo("Allotment rota"));
        infos.push_back(dbx.AddMessageInfo("Choir practice"));
        dbx.AddIndexNode(infos);
        dbx.ReserveScatteredSlots(40);

        dbx.AddMessage(Mail({"Return-Path: <maud.pellow@hedgerow.example>",
                             "Received: from mail.hedgerow.example by pop.fenwick.example",
                             "Message-ID: <1001.maud@hedgerow.example>",
                             "From: \"Maud Pellow\" <maud.pellow@hedgerow.example>",
                             "To: \"Ivo Brandt\" <ivo@fenwick.example>",
                             "Subject: Allotment rota for May",
                             "Date: Sat, 3 May 2003 09:14:22 +0100",
                             "MIME-Version: 1.0",
                             "Content-Type: text/plain; charset=\"iso-8859-1\"",
                             "",
                             "Ivo,",
                             "",
                             "You have the water butts on the second and fourth Saturday.",
                             "The shed key is back under the green pot.",
                             "",
                             "Maud"}) +
                           Paragraphs("Bring string for the runner beans, the old stuff has rotted.", 12),
                       TBlockOrder::Scattered);

        dbx.AddMessage(Mail({"from: Choir Secretary <secretary@stcuthbert.example>",
                             "to: ivo@fenwick.example",
                             "subject: Practice moves to Thursday",
                             "date: Mon, 5 May 2003 18:02:51 +0100",
                             "",
                             "Practice moves to Thursday this week: the hall floor is being sealed.",
                             "Tenors please bring the blue folders."}),
                       TBlockOrder::Descending);

        dbx.AddMessage(Mail({"From: Ivo Brandt <ivo@fenwick.example>",
                             "To: Maud Pellow <maud.pellow@hedgerow.example>",
                             "Subject: ",
                             "Date: Tue, 6 May 2003 07:40:05 +0100",
                             "",
                             "Forgot the subject line again. The runner beans are in."}),
                       TBlockOrder::Ascending);

        dbx.AddMessage(Mail({"From: Parish Newsletter <news@stcuthbert.example>",
                             "To: ivo@fenwick.example",
                             "Subject: Summer fete: stalls, raffle prizes and the",
                             " tug-of-war against the fire station",
                             "Date: Wed, 7 May 2003 12:00:00 +0100",
                             "",
                             "Stall holders please register with Mrs Okafor by the end of the month."}) +
                           Paragraphs("The raffle needs prizes; bottles and cakes are welcome.", 10),
                       TBlockOrder::Scattered);

        dbx.AddMessage(Mail({"From: Maud Pellow <maud.pellow@hedgerow.example>",
                             "To: Ivo Brandt <ivo@fenwick.example>",
                             "Subject: Re: Allotment rota for May",
                             "Date: Thu, 8 May 2003 20:31:10 +0100",
                             "",
                             "Swapped with Dev, so you are off on the fourth.",
                             "",
                             "----- Original Message -----",
                             "From: \"Ivo Brandt\" <ivo@fenwick.example>",
                             "To: \"Maud Pellow\" <maud.pellow@hedgerow.example>",
                             "Subject: Allotment rota for May",
                             "",
                             "> Can I swap the fourth? Family wedding.",
                             "> Ivo"}),
                       TBlockOrder::Scattered);

        // Three messages the user deleted; their blocks join one freed list,
        // so the last two follow one another in one chain of deleted blocks.
        int lost1 = dbx.AddMessage(Mail({"Return-Path: <orders@seedmerchant.example>",
                                         "From: Seed Merchant <orders@seedmerchant.example>",
                                         "To: ivo@fenwick.example",
                                         "Subject: Your order 4471 has been dispatched",
                                         "Date: Fri, 25 Apr 2003 10:05:00 +0100",
                                         "",
                                         "Broad beans (Aquadulce) x2, leeks (Musselburgh) x1."}) +
                                       Paragraphs("Keep seed packets cool and dry until sowing.", 14),
                                   TBlockOrder::Scattered);
        int lost2 = dbx.AddMessage(Mail({"Return-Path: <dev.rana@fenwick.example>",
                                         "From: Dev Rana <dev.rana@fenwick.example>",
                                         "To: Ivo Brandt <ivo@fenwick.example>",
                                         "Subject: Surprise party for Maud",
                                         "Date: Sat, 26 Apr 2003 16:45:12 +0100",
                                         "",
                                         "Not a word to Maud. Saturday the 17th, at the pavilion, seven sharp."}),
                                   TBlockOrder::Ascending);
        int lost3 = dbx.AddMessage(Mail({"Return-Path: <treasurer@stcuthbert.example>",
                                         "Received: from relay.stcuthbert.example",
                                         "From: Choir Treasurer <treasurer@stcuthbert.example>",
                                         "To: ivo@fenwick.example",
                                         "Subject: Subs for the summer term",
                                         "Date: Sun, 27 Apr 2003 11:11:11 +0100",
                                         "",
                                         "Subs are twelve pounds for the term; cheques to the choir fund."}) +
                                       Paragraphs("Late payers will be asked to sing the descant.", 6),
                                   TBlockOrder::Descending);
        dbx.DeleteMessage(lost1);
        dbx.DeleteMessage(lost2);
        dbx.DeleteMessage(lost3);

        // A later message takes the first freed block over.
        dbx.AddMessage(Mail({"From: Ivo Brandt <ivo@fenwick.example>",
                             "To: Dev Rana <dev.rana@fenwick.example>",
                             "Subject: Pavilion booked",
                             "Date: Mon, 28 Apr 2003 08:00:00 +0100",
                             "",
                             "Booked the pavilion for the 17th. Cake is on me."}),
                       TBlockOrder::Ascending, true);
        dbx.AddIndexNode();
        dbx.SetUsedSize();
        dbx.Save(argv[1]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
