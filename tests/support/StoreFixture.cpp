#include "support/StoreFixture.h"

#include <algorithm>

namespace corvane::testsupport {

std::vector<TRecordProperty> FolderRecord(const TFolderFixture& f) {
    std::vector<TRecordProperty> p = {
        U32Property(0x00, f.id),
        U32Property(0x01, f.parent),
        TextProperty(0x02, f.name),
    };
    if (!f.file.empty()) p.push_back(TextProperty(0x03, f.file));
    p.push_back(InlineProperty(0x07, static_cast<std::uint32_t>(f.texts.size())));
    p.push_back(InlineProperty(0x08, f.unread));
    p.push_back(InlineProperty(0x09, f.special));
    p.push_back(InlineProperty(0x0A, 3));
    return p;
}

TDbxWriter IndexedFolderFile(const std::vector<std::string>& texts, const std::string& ownName, std::uint64_t seed) {
    TDbxWriter dbx(seed);
    dbx.PutFileInfo(ownName);
    std::vector<int> messages;
    for (const std::string& text : texts) messages.push_back(dbx.AddMessage(text));
    std::vector<std::uint32_t> records;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        std::string id(1, '<');
        id.append(std::to_string(i + 1)).append("@fixture>");
        records.push_back(dbx.AddMessageRecord(
            messages[i], {InlineProperty(0x00, static_cast<std::uint32_t>(i + 1)), InlineProperty(0x01, 0x80),
                          TextProperty(0x07, id), DateProperty(0x12, 2004, 5, 6, 7, 8, 9)}));
    }
    dbx.AddIndexTree(records);
    return dbx;
}

void WriteStore(const std::string& folder, const std::vector<TFolderFixture>& folders) {
    TDbxWriter list(7);
    list.SetKind(0x6F74FDC6);
    std::vector<std::uint32_t> records;
    TFolderFixture root;
    root.id = 0;
    root.parent = 0xFFFFFFFF;
    root.name = "Outlook Express";
    records.push_back(list.AddIndexRecord(FolderRecord(root)));
    for (const TFolderFixture& f : folders) records.push_back(list.AddIndexRecord(FolderRecord(f)));
    list.AddIndexTree(records);
    list.Save(folder + "/Folders.dbx");
    std::uint64_t seed = 11;
    for (const TFolderFixture& f : folders) {
        if (f.file.empty() || !f.writeFile) continue;
        IndexedFolderFile(f.texts, f.ownName.empty() ? f.name : f.ownName, seed++).Save(folder + "/" + f.file);
    }
}

std::string PlainMessage(const std::string& from, const std::string& subject, const std::string& body) {
    return "From: " + from + "\r\nTo: you@example.com\r\nSubject: " + subject +
           "\r\nDate: Thu, 6 May 2004 07:08:09 +0000\r\n\r\n" + body + "\r\n";
}

}  // namespace corvane::testsupport
