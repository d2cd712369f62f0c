// The window program's command line, read before any toolkit starts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailsession/StartArguments.h"

namespace {

using corvane::session::ParseStartArguments;
using Strings = std::vector<std::string>;

TEST(StartArguments, AreReadAsOptionsAndFiles) {
    struct TCase {
        const char* name;
        Strings arguments;
        bool help, version;
        std::string error;
        Strings files;
    };
    const TCase cases[] = {
        {"nothing", {}, false, false, "", {}},
        {"files in order", {"b.dbx", "/m/a.dbx"}, false, false, "", {"b.dbx", "/m/a.dbx"}},
        {"--help anywhere", {"a.dbx", "--help"}, true, false, "", {"a.dbx"}},
        {"-h", {"-h"}, true, false, "", {}},
        {"--version", {"--version"}, false, true, "", {}},
        {"-v", {"-v"}, false, true, "", {}},
        {"-- ends the options", {"--", "--help", "-v.dbx"}, false, false, "", {"--help", "-v.dbx"}},
        {"a lone - is a name", {"-"}, false, false, "", {"-"}},
        {"unknown option, the first one named", {"--bogus", "a.dbx", "-x"}, false, false, "unknown option: --bogus", {"a.dbx"}},
    };
    for (const TCase& c : cases) {
        const corvane::session::TStartArguments parsed = ParseStartArguments(c.arguments);
        EXPECT_EQ(parsed.Help, c.help) << c.name;
        EXPECT_EQ(parsed.Version, c.version) << c.name;
        EXPECT_EQ(parsed.Error, c.error) << c.name;
        EXPECT_EQ(parsed.Files, c.files) << c.name;
    }
    EXPECT_EQ(corvane::session::StartVersionText("3.0.0"), "corvane-recovery 3.0.0\n");
    EXPECT_EQ(corvane::session::StartHelpText().rfind("usage: corvane-recovery [FILE.dbx...]\n", 0), 0u);
}

}  // namespace
