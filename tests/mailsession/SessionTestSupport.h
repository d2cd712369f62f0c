#pragma once
// Shared by the session's tests: a scratch folder that is also the engine's
// temporary folder (where the message files go) for the test, a session with
// the folded collation and settings kept in memory, and the rows as texts.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mailsession/MailSession.h"
#include "support/MessageFiles.h"
#include "support/TestFiles.h"

namespace corvane::testsupport {

class TMemorySettings : public corvane::session::TSettingsStore {
public:
    std::optional<std::string> Get(const std::string& key) const override {
        const auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    void Set(const std::string& key, const std::string& value) override { values[key] = value; }
    std::map<std::string, std::string> values;
};

class SessionTest : public ::testing::Test {
protected:
    SessionTest() : temp_(scratch_.Path()) {}

    std::string Path(const std::string& name) const { return scratch_ / name; }
    // A folder file of the mails in the scratch folder.
    std::string Folder(const std::string& name, const std::vector<TMail>& mails) const {
        WriteFolderFile(Path(name), mails);
        return Path(name);
    }
    // Three live messages (0, 1, 3 as written) and two deleted ones (2, 4).
    std::string ThreeLiveTwoDeleted(const std::string& name = "Inbox.dbx") const {
        return Folder(name, {Mail(0), Mail(1), Mail(2, true), Mail(3), Mail(4, true)});
    }

    // Column c of every row, top to bottom.
    std::vector<std::string> Column(int c) const {
        std::vector<std::string> texts;
        for (std::size_t row = 0; row < session.RowCount(); ++row) texts.push_back(session.CellText(row, c));
        return texts;
    }
    std::vector<std::string> Numbers() const { return Column(corvane::session::ColItemNum); }
    // The position of the row numbered k.
    std::size_t RowNumbered(int k) const {
        for (std::size_t row = 0; row < session.RowCount(); ++row)
            if (session.RecordAt(row) == k) return row;
        ADD_FAILURE() << "no row numbered " << k;
        return 0;
    }

    TScratchFolder scratch_{"corvane-session"};
    TTempFolderOverride temp_;
    corvane::session::TFoldedCollation collation;
    TMemorySettings settings;
    corvane::session::TMailSession session{collation, &settings};
};

}  // namespace corvane::testsupport
