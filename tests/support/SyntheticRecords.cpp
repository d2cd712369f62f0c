#include "support/SyntheticRecords.h"

#include <fstream>
#include <stdexcept>

namespace corvane::testsupport {

TEmailArray SyntheticRecords(int count, const std::string& fileName, std::int64_t headerEnd, std::int64_t messageEnd) {
    TEmailArray records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        TEmail& r = records[static_cast<std::size_t>(i)];
        const std::string k = std::to_string(i);
        r.FileName = fileName;
        r.Deleted = i % 5 == 0 ? 1 : 0;
        r.Date = " Mon, " + std::to_string(i % 28 + 1) + " Jan 2007 10:00:00 +0100";
        r.From = " Sender Number " + k + " <sender" + k + "@example.org>";
        r.To = " recipient" + k + "@example.org";
        r.Subject = " The subject line of message number " + k + ", with some more words in it";
        r.MessageStart = 0;
        r.HeaderEnd = headerEnd;
        r.MessageEnd = messageEnd;
    }
    return records;
}

TEmailArray SyntheticRecordsOverOneMessage(int count, const std::string& path) {
    const std::string header = "From: sender@example.org\r\nSubject: One message for all\r\n";
    const std::string message = header + "\r\nThe body of the one message.\r\n";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << message;
    if (!out) throw std::runtime_error("cannot write " + path);
    return SyntheticRecords(count, path, static_cast<std::int64_t>(header.size()),
                            static_cast<std::int64_t>(message.size()));
}

}  // namespace corvane::testsupport
