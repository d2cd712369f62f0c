#include "corvane-dbx/IndexFields.h"

#include "corvane-dbx/ListFormats.h"
#include "dbxindex/IndexRecord.h"
#include "dbxindex/MessageProperties.h"
#include "platform/AnsiText.h"

namespace corvane::cli {

std::string IndexCsvFields(const TEmail& e) {
    std::string flags, received, id;
    if (e.Index) {
        if (e.Index->HasFlags)
            for (const std::string& name : corvane::dbx::FlagNames(e.Index->Flags)) {
                if (!flags.empty()) flags += ' ';
                flags += name;
            }
        received = corvane::dbx::FileTimeToIso(e.Index->ReceivedTime);
        id = corvane::ansi::ToUtf8(e.Index->MessageId);
    }
    const char* in = e.IndexState == TIndexState::InIndex ? "yes" : e.IndexState == TIndexState::NotInIndex ? "no" : "";
    return ',' + CsvField(flags) + ',' + CsvField(received) + ',' + CsvField(id) + ',' + in;
}

std::string IndexJsonFields(const TEmail& e) {
    const auto text = [](const std::string& s) { return s.empty() ? std::string("null") : JsonString(s); };
    std::string out = ", \"flags\": ";
    if (e.Index && e.Index->HasFlags) {
        out += '[';
        bool first = true;
        for (const std::string& name : corvane::dbx::FlagNames(e.Index->Flags)) {
            if (!first) out += ", ";
            out += JsonString(name);
            first = false;
        }
        out += ']';
    } else {
        out += "null";
    }
    out += ", \"received\": " + (e.Index ? text(corvane::dbx::FileTimeToIso(e.Index->ReceivedTime)) : "null");
    out += ", \"messageId\": " + (e.Index ? text(corvane::ansi::ToUtf8(e.Index->MessageId)) : "null");
    out += ", \"inIndex\": ";
    out += e.IndexState == TIndexState::InIndex ? "true" : e.IndexState == TIndexState::NotInIndex ? "false" : "null";
    return out;
}

}  // namespace corvane::cli
