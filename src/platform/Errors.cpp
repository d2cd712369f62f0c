#include "platform/Errors.h"

EFOpenError::EFOpenError(const std::string& path, const std::string& reason)
    : ECorvaneError("Cannot open file \"" + path + "\". " + reason), path_(path) {}

EFCreateError::EFCreateError(const std::string& path, const std::string& reason)
    : ECorvaneError("Cannot create file \"" + path + "\". " + reason), path_(path), reason_(reason) {}

const char kNotRegularFileText[] = "Not a regular file";

std::string LastSystemErrorText() { return SystemErrorText(LastSystemError()); }
