#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

std::string SystemErrorText(int code) { return std::strerror(code); }
int LastSystemError() { return errno; }
