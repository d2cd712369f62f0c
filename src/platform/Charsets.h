#pragma once
// Text in a named character set to UTF-8, through the operating system's own
// converters: iconv on POSIX systems, the code pages of MultiByteToWideChar on
// Windows.

#include <optional>
#include <string>
#include <string_view>

namespace corvane::charsets {

// The bytes read in the charset of the given name (a MIME or IANA name such as
// "iso-8859-1", "KOI8-R", "windows-1251" or "Shift_JIS", in any letter case)
// as UTF-8. A byte sequence that forms no character of the charset gives
// U+FFFD and the conversion goes on after it. Nothing when the system has no
// converter for the name.
std::optional<std::string> ToUtf8(std::string_view bytes, std::string_view charset);

// The name as the system's converters know it: lower case, the aliases mail
// programs write mapped to the charset they mean ("ks_c_5601-1987" is CP949,
// "gb2312" is read as its superset GBK, "x-sjis" is Shift_JIS, ...). Empty
// when the name holds characters no charset name has.
std::string CanonicalName(std::string_view charset);

}  // namespace corvane::charsets
