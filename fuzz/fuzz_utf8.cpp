// The UTF-8 decoder on arbitrary bytes: the repaired text is always
// well-formed, a well-formed input passes unchanged, the repair is stable,
// and the decoder's steps cover the input exactly, each well-formed step
// re-encoding to its own bytes.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "utf8/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::string out = corvane::utf8::WellFormed(in);
    FUZZ_CHECK(corvane::utf8::IsWellFormed(out));
    FUZZ_CHECK(corvane::utf8::WellFormed(out) == out);
    if (corvane::utf8::IsWellFormed(in)) FUZZ_CHECK(out == in);
    std::size_t at = 0, replaced = 0;
    std::string rebuilt;
    while (at < in.size()) {
        const corvane::utf8::TStep step = corvane::utf8::Decode(in, at);
        FUZZ_CHECK(step.Length >= 1 && step.Length <= 4 && at + step.Length <= in.size());
        if (step.WellFormed) {
            std::string encoded;
            corvane::utf8::Append(encoded, step.CodePoint);
            FUZZ_CHECK(encoded == in.substr(at, step.Length));
            rebuilt += encoded;
        } else {
            ++replaced;
            rebuilt += corvane::utf8::kReplacementText;
        }
        at += step.Length;
    }
    FUZZ_CHECK(rebuilt == out);
    FUZZ_CHECK((replaced == 0) == corvane::utf8::IsWellFormed(in));
    return 0;
}
