#include "support/MessageFiles.h"

#include "support/DbxFixture.h"
#include "support/TestFiles.h"

namespace corvane::testsupport {

TEmailArray WriteMessageFile(const std::string& path, const std::vector<TMessage>& messages) {
    std::string file;
    TEmailArray records;
    for (const TMessage& m : messages) {
        TEmail r;
        r.FileName = path;
        r.Deleted = m.Deleted ? 1 : 0;
        r.MessageStart = static_cast<std::int64_t>(file.size());
        const auto header = [&file](const char* field, const std::string& value, std::string& into) {
            if (value.empty()) return;
            file += std::string(field) + ": " + value + "\r\n";
            into = " " + value;
        };
        header("From", m.From, r.From);
        header("To", m.To, r.To);
        header("Subject", m.Subject, r.Subject);
        header("Date", m.Date, r.Date);
        if (m.HeaderClosed) {
            r.HeaderEnd = static_cast<std::int64_t>(file.size());
            file += "\r\n";
        }
        file += m.Body;
        r.MessageEnd = static_cast<std::int64_t>(file.size());
        records.push_back(r);
    }
    WriteWholeFile(path, file);
    return records;
}

std::vector<TMessage> SomeMessages(int n, const std::string& tag, const std::string& bodyRest) {
    std::vector<TMessage> m(static_cast<std::size_t>(n));
    const char* senders[] = {"oscar", "Alice", "mike", "Bob", "zoe", "carl", "Nina", "dora"};
    for (int i = 0; i < n; ++i) {
        TMessage& x = m[static_cast<std::size_t>(i)];
        x.Date = "Mon, " + std::to_string(i + 1) + " May 2005 10:00:00 +0200";
        x.From = std::string(senders[i % 8]) + "@example.org";
        x.To = "all@example.org";
        x.Subject = tag + " " + std::to_string(i);
        x.Body = "Text of " + tag + " " + std::to_string(i) + "." + bodyRest;
    }
    return m;
}

std::string Stretch(const std::string& path, std::int64_t from, std::int64_t to) {
    return ReadWholeFile(path).substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
}

std::string MessageOf(const TEmail& email) { return Stretch(email.FileName, email.MessageStart, email.MessageEnd); }

std::string MailText(const TMail& m) {
    std::string text = "X-Spare: 0000000\r\n";
    if (!m.From.empty()) text += "From: " + m.From + "\r\n";
    if (!m.To.empty()) text += "To: " + m.To + "\r\n";
    if (!m.Subject.empty()) text += "Subject: " + m.Subject + "\r\n";
    if (!m.Date.empty()) text += "Date: " + m.Date + "\r\n";
    if (m.HeaderClosed) text += "\r\n";
    text += m.Body;
    return text;
}

TMail Mail(int n, bool deleted) {
    const std::string k = std::to_string(n);
    return {"sender" + k + "@example.org", "rcpt" + k + "@example.org", "Subject " + k,
            "Mon, " + k + " Jan 2007 10:00:00 +0100", "Body of message " + k + ".\r\n", deleted, true};
}

void WriteFolderFile(const std::string& path, const std::vector<TMail>& mails) {
    TDbxWriter dbx;
    std::vector<int> numbers;
    for (const TMail& m : mails) numbers.push_back(dbx.AddMessage(MailText(m)));
    for (std::size_t i = 0; i < mails.size(); ++i)
        if (mails[i].Deleted) dbx.DeleteMessage(numbers[i]);
    dbx.Save(path);
}

}  // namespace corvane::testsupport
