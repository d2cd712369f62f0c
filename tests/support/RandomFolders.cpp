#include "support/RandomFolders.h"

#include <iterator>
#include <vector>

namespace corvane::testsupport {

std::string RandomMessage(std::mt19937_64& random, int number) {
    static const char* const kLines[] = {"From: \"Ann\" <ann@x>", "to: bob@x", "Subject: note ", "DATE: Tue",
                                         "Received: by relay", "X-Mailer: none", "MIME-Version: 1.0",
                                         "----- Original Message -----", "\tfolded", "Message-ID:<a@b>", "",
                                         "body text", "From:no space", "> From: quoted"};
    std::string m;
    const int lines = static_cast<int>(random() % 60);
    for (int i = 0; i < lines; ++i) {
        m += kLines[random() % std::size(kLines)];
        if (random() % 9 == 0) m += std::string(random() % 1500, 'w');  // lines across blocks
        if (random() % 13 == 0) m += std::string(1, '\0');             // read back as a space
        m += random() % 17 == 0 ? "\r\r\n" : "\r\n";
        if (i == 0) m += "Subject: message " + std::to_string(number) + "\r\n";
    }
    if (random() % 4 == 0) m += "no line end";
    return m;
}

TDbxWriter RandomFolderFile(std::mt19937_64& random, std::uint64_t seed, int maxMessages) {
    TDbxWriter dbx(seed);
    dbx.ReserveScatteredSlots(random() % 200);
    const int messages = 1 + static_cast<int>(random() % static_cast<unsigned>(maxMessages));
    std::vector<int> kept;
    for (int m = 0; m < messages; ++m) {
        const auto order = static_cast<TBlockOrder>(random() % 3);
        kept.push_back(dbx.AddMessage(RandomMessage(random, m), order, random() % 3 == 0));
        if (random() % 3 == 0) {
            const std::size_t k = random() % kept.size();
            dbx.DeleteMessage(kept[k]);
            kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }
    return dbx;
}

}  // namespace corvane::testsupport
