#include "support/MessageFiles.h"

#include <algorithm>
#include <cstdio>

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

std::vector<TMessage> TwelveMessages() {
    std::vector<TMessage> m(12);
    const char* dates[12] = {"Tue, 3 Jan 2006 10:00:00 +0100", "Mon, 9 Jan 2006 08:00:00 +0100",
                             "Wed, 4 Jan 2006 09:00:00 +0100", "Fri, 6 Jan 2006 11:00:00 +0100",
                             "Thu, 5 Jan 2006 12:00:00 +0100", "Sat, 7 Jan 2006 13:00:00 +0100",
                             "Sun, 8 Jan 2006 14:00:00 +0100", "Mon, 2 Jan 2006 15:00:00 +0100",
                             "Tue, 10 Jan 2006 16:00:00 +0100", "Wed, 11 Jan 2006 17:00:00 +0100",
                             "Thu, 12 Jan 2006 18:00:00 +0100", "Fri, 13 Jan 2006 19:00:00 +0100"};
    const char* from[12] = {"mallory@example.org", "Bob <bob@example.org>", "alice@example.org", "Zed <zed@example.org>",
                            "carol@example.org", "Dave <dave@example.org>", "erin@example.org", "Frank <frank@example.org>",
                            "grace@example.org", "Heidi <heidi@example.org>", "ivan@example.org", "Judy <judy@example.org>"};
    const char* to[12] = {"Xavier@example.org", "wendy@example.org", "Victor@example.org", "ursula@example.org",
                          "Tom@example.org", "sybil@example.org", "Rupert@example.org", "quentin@example.org",
                          "Peggy@example.org", "oscar@example.org", "Nina@example.org", "mike@example.org"};
    const char* subjects[12] = {"Quarterly figures", "", "agenda", "Budget", "minutes", "Lunch",
                                "ZOO trip", "invoice 42", "Holiday", "yearly review", "Keys", "offsite"};
    for (int i = 0; i < 12; ++i) {
        m[i].Date = dates[i];
        m[i].From = from[i];
        m[i].To = to[i];
        m[i].Subject = subjects[i];
        m[i].Body = "Body of message number " + std::to_string(i) + ".\r\nSecond line.\r\n";
    }
    return m;
}

std::string MboxEntry(const TEmail& r) {
    const std::string text = MessageOf(r);
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    std::string quoted;
    for (std::size_t at = 0; at < lf.size();) {
        const std::size_t end = std::min(lf.find('\n', at), lf.size() - 1);
        const std::string line = lf.substr(at, end - at + 1);
        const std::size_t first = line.find_first_not_of('>');
        if (line.compare(first == std::string::npos ? line.size() : first, 5, "From ") == 0) quoted += '>';
        quoted += line;
        at = end + 1;
    }
    // Day d of May 2005, 10:00 at +0200, is 08:00 UTC; May 1st was a Sunday.
    const int day = std::stoi(r.Date.substr(6));
    const char* weekdays[] = {"Sat", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri"};
    char date[64];
    std::snprintf(date, sizeof date, "%s May %2d 08:00:00 2005", weekdays[day % 7], day);
    return "From " + r.From.substr(1) + " " + date + "\n" + quoted + "\n";
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
