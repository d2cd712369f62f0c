#pragma once
// Shared by the bad-input tests of the folder reader (the portable ones and
// those that need this system's special files and mounts): folder files and
// message texts, and the lists of what lies on disk afterwards.

#include <algorithm>
#include <string>
#include <vector>

#include "ReaderTestSupport.h"
#include "support/DbxFixture.h"

namespace badinput {

using namespace readertest;
using corvane::testsupport::TDbxWriter;

inline std::string Mail(const std::string& from, const std::string& body) {
    return "From: " + from + "\r\nSubject: s\r\n\r\n" + body + "\r\n";
}

inline std::vector<std::string> Froms(const TEmailArray& emails) {
    std::vector<std::string> out;
    for (const TEmail& e : emails) out.push_back(e.From);
    return out;
}

class BadInputTest : public ReaderTest {
protected:
    std::string Save(const TDbxWriter& dbx, const std::string& name = "folder.dbx") {
        WriteAll(Scratch(name), dbx.Bytes());
        return Scratch(name);
    }
    // The names in a folder, sorted.
    static std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : stdfs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace badinput
