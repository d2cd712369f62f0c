#include "platform/TempNames.h"

namespace corvane::fs {

std::string JoinTempName(const std::string& folder, const std::string& name) { return folder + '\\' + name; }

}  // namespace corvane::fs
