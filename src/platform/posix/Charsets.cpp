#include "platform/Charsets.h"

#include <iconv.h>

#include <cerrno>

namespace corvane::charsets {

std::optional<std::string> ToUtf8(std::string_view bytes, std::string_view charset) {
    const std::string name = CanonicalName(charset);
    if (name.empty()) return std::nullopt;
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;

    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    char buffer[4096];
    // iconv takes a non-const input pointer on some systems; it never writes through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    bool flushed = false;
    while (!flushed) {
        char* to = buffer;
        std::size_t toLeft = sizeof buffer;
        const bool flushing = inLeft == 0;
        const std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &to, &toLeft) : iconv(cd, &in, &inLeft, &to, &toLeft);
        out.append(buffer, static_cast<std::size_t>(to - buffer));
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing) flushed = true;
            continue;
        }
        if (errno == E2BIG) continue;
        // A sequence that is no character (EILSEQ) or that the input ends in
        // the middle of (EINVAL): one replacement character, one byte passed over.
        out += "\xEF\xBF\xBD";
        if (inLeft > 0) {
            ++in;
            --inLeft;
        } else {
            flushed = true;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    }
    iconv_close(cd);
    return out;
}

}  // namespace corvane::charsets
