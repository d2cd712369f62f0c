// Writes what check_decoded.py compares with Python's own email package: the
// messages of a corpus folder stored in a folder file (whole, cut short at a
// line in their middle, and deleted), read back with the folder reader, and
// each record's message text decoded.
//
//   make_decoded <corpus folder> <output folder>
//
// Into <output folder>: folder.dbx, and for record i: <i>.eml (the record's
// message text, [MessageStart, MessageEnd) of its message file) and <i>.json
// (the decoded message: date, dateIso, from, to, subject, body, attachments,
// deleted).

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "emailexport/emailexport.h"
#include "maildecode/maildecode.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"
#include "support/TestFiles.h"

using corvane::testsupport::TBlockOrder;
using corvane::testsupport::TDbxWriter;

namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The corpus keeps LF lines; messages in folder files have CR LF lines.
std::string CrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The text up to the end of the line nearest to its middle.
std::string CutInMiddle(const std::string& text) {
    const std::size_t at = text.find("\r\n", text.size() * 3 / 5);
    return at == std::string::npos ? text : text.substr(0, at + 2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <corpus folder> <output folder>\n", argv[0]);
        return 2;
    }
    try {
        const std::filesystem::path corpus = argv[1];
        const std::filesystem::path folder = argv[2];
        std::filesystem::create_directories(folder);
        const corvane::testsupport::TTempFolderOverride temp(folder.string());

        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(corpus))
            if (entry.path().extension() == ".eml") files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        if (files.empty()) throw std::runtime_error("no messages in " + corpus.string());

        TDbxWriter dbx(20);
        dbx.ReserveScatteredSlots(300);
        std::vector<int> toDelete;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string text = CrLf(ReadFile(files[i]));
            dbx.AddMessage(text, i % 2 == 0 ? TBlockOrder::Scattered : TBlockOrder::Descending);
            if (text.find("multipart/") != std::string::npos) dbx.AddMessage(CutInMiddle(text), TBlockOrder::Ascending);
            if (i % 4 == 1) toDelete.push_back(dbx.AddMessage(text, TBlockOrder::Scattered));
        }
        for (const int m : toDelete) dbx.DeleteMessage(m);
        const std::string dbxPath = (folder / "folder.dbx").string();
        dbx.Save(dbxPath);

        Toutlookfile reader;
        const TEmailArray emails = reader.GetEmails(dbxPath, true);
        for (std::size_t i = 0; i < emails.size(); ++i) {
            const TEmail& e = emails[i];
            const std::string text = corvane::mail::ReadMessageText(e);
            WriteFile(folder / (std::to_string(i) + ".eml"), text);
            const corvane::mail::TDecodedMessage d = corvane::mail::DecodeMessage(text);
            nlohmann::json j;
            j["date"] = d.Date;
            j["dateIso"] = d.DateIso.empty() ? nlohmann::json() : nlohmann::json(d.DateIso);
            j["from"] = d.From;
            j["to"] = d.To;
            j["subject"] = d.Subject;
            j["body"] = d.Body;
            j["deleted"] = e.Deleted != 0;
            j["attachments"] = nlohmann::json::array();
            for (const auto& a : d.Attachments) j["attachments"].push_back({{"name", a.Name}, {"type", a.Type}, {"size", a.Size}});
            WriteFile(folder / (std::to_string(i) + ".json"), j.dump(1));
        }
        std::printf("%zu records\n", emails.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_decoded: %s\n", e.what());
        return 1;
    }
    return 0;
}
