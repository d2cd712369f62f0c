#include "support/WindowExpectations.h"

#include <algorithm>
#include <cctype>

namespace corvane::testsupport {

namespace {

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Cell(const std::string& value) { return value.empty() ? std::string() : " " + value; }

const std::vector<TMail>& Mails() {
    static const std::vector<TMail> mails = WindowFixtureMails();
    return mails;
}

}  // namespace

std::vector<TMail> WindowFixtureMails() {
    std::vector<TMail> mails;
    for (const TMessage& m : TwelveMessages()) mails.push_back({m.From, m.To, m.Subject, m.Date, m.Body, false, true});
    for (int deleted : kWindowDeletedMails) mails[static_cast<std::size_t>(deleted)].Deleted = true;
    return mails;
}

void WriteWindowFixture(const std::string& path) { WriteFolderFile(path, Mails()); }

std::vector<TExpectedRow> ExpectedWindowRows(bool includeDeleted) {
    std::vector<const TMail*> order;
    for (const TMail& m : Mails())
        if (!m.Deleted) order.push_back(&m);
    if (includeDeleted)
        for (int deleted : kWindowDeletedMails) order.push_back(&Mails()[static_cast<std::size_t>(deleted)]);
    std::vector<TExpectedRow> rows;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const TMail& m = *order[i];
        rows.push_back({{std::to_string(i), Cell(m.Date), Cell(m.From), Cell(m.To), Cell(m.Subject)}, m.Deleted, &m});
    }
    return rows;
}

std::vector<std::string> NumbersBySubject(const std::vector<TExpectedRow>& rows, bool ascending) {
    std::vector<TExpectedRow> sorted = rows;
    std::stable_sort(sorted.begin(), sorted.end(), [ascending](const TExpectedRow& a, const TExpectedRow& b) {
        return ascending ? Lowered(a.Cells[4]) < Lowered(b.Cells[4]) : Lowered(b.Cells[4]) < Lowered(a.Cells[4]);
    });
    std::vector<std::string> numbers;
    for (const TExpectedRow& row : sorted) numbers.push_back(row.Cells[0]);
    return numbers;
}

const std::string& BodyOf(const TExpectedRow& row) { return row.Mail->Body; }

}  // namespace corvane::testsupport
