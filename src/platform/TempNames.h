#pragma once
// Names of the temporary message files.

#include <string>

namespace corvane::fs {

// Joins the temporary folder (as TempPath gives it, ending with a separator)
// and a message file's name. Windows puts a separator of its own between them,
// which the system reads as one with the folder's; elsewhere the name follows
// the folder's separator directly.
std::string JoinTempName(const std::string& folder, const std::string& name);

}  // namespace corvane::fs
