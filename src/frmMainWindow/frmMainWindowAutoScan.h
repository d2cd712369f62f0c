#pragma once
// The search behind the main window's "Auto Scan For Files" button.

#include "sysdbxfiles/sysdbxfiles.h"

namespace autoscan {

// Runs the search of one scan on the scan's own TDbxFiles (made with the
// scan's progress); the window lists its FileList, also after a stopped
// search. By default FindDbxFiles.
using TSearch = void (*)(TDbxFiles& files);

// Test seam: puts another search in (nullptr puts the drive search back);
// returns the one in place before.
TSearch SetSearch(TSearch search);

}  // namespace autoscan
