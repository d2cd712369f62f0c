#include "corvane-dbx/ExportNames.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "utf8/Utf8.h"

namespace corvane::cli {
namespace {

// Letters folded the simple way: names that differ only in ASCII letter case
// are one name on the file systems that matter here.
std::string Folded(const std::string& name) {
    std::string out = name;
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return out;
}

// "2003-05-06 1000" from "2003-05-06T10:00:00+02:00": the date and the time
// as the message gave them; empty when the text is no such date.
std::string DatePart(const std::string& iso) {
    if (iso.size() < 16 || iso[4] != '-' || iso[7] != '-' || iso[10] != 'T' || iso[13] != ':') return {};
    const std::string digits = iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2) + iso.substr(11, 2) + iso.substr(14, 2);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return {};
    return iso.substr(0, 10) + ' ' + iso.substr(11, 2) + iso.substr(14, 2);
}

}  // namespace

std::string SafeNamePart(const std::string& utf8, std::size_t mostBytes) {
    constexpr std::string_view kRefused = "<>:\"/\\|?*";
    std::string spaced;
    for (std::size_t i = 0; i < utf8.size();) {
        const corvane::utf8::TStep step = corvane::utf8::Decode(utf8, i);
        const char32_t c = step.CodePoint;
        const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
        if (!step.WellFormed) spaced += corvane::utf8::kReplacementText;
        else if (control || (c < 0x80 && kRefused.find(static_cast<char>(c)) != std::string_view::npos)) spaced += ' ';
        else spaced.append(utf8, i, step.Length);
        i += step.Length;
    }
    // Runs of spaces as one; no dot or space at either end (Windows drops a
    // trailing one, a leading dot hides the file, "." and ".." are folders).
    std::string out;
    for (const char c : spaced)
        if (c != ' ' || (!out.empty() && out.back() != ' ')) out += c;
    const auto trim = [&out] {
        const auto first = out.find_first_not_of(". ");
        if (first == std::string::npos) return out.clear();
        out.erase(0, first);
        out.erase(out.find_last_not_of(". ") + 1);
    };
    trim();
    if (out.size() > mostBytes) {
        std::size_t cut = 0;
        for (std::size_t i = 0; i < out.size();) {
            const std::size_t length = corvane::utf8::Decode(out, i).Length;
            if (i + length > mostBytes) break;
            i += length;
            cut = i;
        }
        out.resize(cut);
        trim();
    }
    return out;
}

bool IsReservedName(const std::string& name) {
    const std::string folded = Folded(name.substr(0, name.find('.')));
    static const std::array<std::string_view, 4> kDevices = {"con", "prn", "aux", "nul"};
    if (std::find(kDevices.begin(), kDevices.end(), folded) != kDevices.end()) return true;
    return folded.size() == 4 && (folded.compare(0, 3, "com") == 0 || folded.compare(0, 3, "lpt") == 0) &&
           folded[3] >= '1' && folded[3] <= '9';
}

std::string TExportNamer::Name(std::size_t position, std::size_t item, const std::string& dateIso,
                               const std::string& subject) {
    if (scheme_ == TNames::Row) return "RecoveredEmail" + std::to_string(position) + ".eml";
    if (scheme_ == TNames::Item) return "RecoveredEmail" + std::to_string(item) + ".eml";
    constexpr std::size_t kRoomForClash = 16;  // " (N)" and ".eml"
    const std::string date = DatePart(dateIso);
    std::string stem = SafeNamePart(subject, kMostNameBytes - kRoomForClash - date.size() - 1);
    if (stem.empty()) stem = "no subject";
    if (!date.empty()) stem = date + ' ' + stem;
    if (IsReservedName(stem)) stem = '_' + stem;
    std::string name = stem + ".eml";
    for (std::size_t n = 2; !taken_.insert(Folded(name)).second; ++n) name = stem + " (" + std::to_string(n) + ").eml";
    return name;
}

}  // namespace corvane::cli
