#pragma once
// The names export --out gives its .eml files: by the row's position in the
// list (RecoveredEmail<N>.eml, N counted from 0 after the filter, as the
// window names them), by the item number list shows (RecoveredEmail<item>.eml),
// or by the message's date and subject ("2003-05-06 1000 Fwd the
// original.eml"). Every name is one plain file name, safe on every file
// system the user may copy it to: no separator, no "." or "..", no control
// character, none of the characters or device names Windows refuses, at most
// kMostNameBytes bytes; it never leads out of the output folder.

#include <cstddef>
#include <set>
#include <string>

namespace corvane::cli {

enum class TNames { Row, Item, DateSubject };

// The longest name of the date-subject scheme in bytes, ".eml" and a clash
// number included: well below the 255 bytes most file systems take.
inline constexpr std::size_t kMostNameBytes = 120;

// A subject (UTF-8) made into a piece of a file name: control characters,
// separators and the characters Windows refuses in names (<>:"/\|?*) become
// spaces, runs of spaces one, no dot or space at either end, cut to
// mostBytes bytes at a character's boundary.
std::string SafeNamePart(const std::string& utf8, std::size_t mostBytes);

// Whether a name (before its extension) is one of Windows' device names
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any letter case), which no file can
// take there.
bool IsReservedName(const std::string& name);

// Gives each message of one output folder its name; a date-subject name
// that an earlier message of the folder took gets " (2)", " (3)", ... before
// ".eml" (names compared in any letter case, as Windows and macOS do).
class TExportNamer {
public:
    explicit TExportNamer(TNames scheme) : scheme_(scheme) {}
    // position: the row's; item: the record's item number; dateIso: its date
    // in ISO 8601 (empty when not known); subject: decoded, UTF-8.
    std::string Name(std::size_t position, std::size_t item, const std::string& dateIso, const std::string& subject);

private:
    TNames scheme_;
    std::set<std::string> taken_;  // folded names given so far
};

}  // namespace corvane::cli
