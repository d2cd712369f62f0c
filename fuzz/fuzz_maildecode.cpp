// The message decoder on arbitrary bytes: whatever the input, a result in
// well-formed UTF-8, header texts that agree with the header-only decoding,
// attachment sizes within the input, a body that holds its own first words,
// and the same for the input cut short at a point the input chooses.
//
// Input: a 16-bit cut position (from the start of the rest), then the message
// text.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "maildecode/maildecode.h"
#include "utf8/Utf8.h"

namespace {

bool IsUtf8(std::string_view s) { return corvane::utf8::IsWellFormed(s); }

void Check(std::string_view message) {
    const corvane::mail::TDecodedMessage d = corvane::mail::DecodeMessage(message);
    for (const std::string* text : {&d.Date, &d.From, &d.To, &d.Subject, &d.DateIso, &d.Body}) FUZZ_CHECK(IsUtf8(*text));
    const corvane::mail::TDecodedHeaders h = corvane::mail::DecodeHeaders(message);
    FUZZ_CHECK(h.Date == d.Date && h.From == d.From && h.To == d.To && h.Subject == d.Subject && h.DateIso == d.DateIso);
    FUZZ_CHECK(d.Attachments.size() <= corvane::mail::kMaxParts);
    for (const corvane::mail::TAttachment& a : d.Attachments) {
        FUZZ_CHECK(IsUtf8(a.Name));
        FUZZ_CHECK(a.Size <= message.size());
    }
    // The body's first line, folded or not, is found in the body.
    // (Cut at a character's start: a keyword ending inside one is no text.)
    const std::string_view first = std::string_view(d.Body).substr(0, d.Body.find('\n'));
    std::size_t end = std::min<std::size_t>(first.size(), 12);
    while (end > 0 && end < first.size() && (static_cast<unsigned char>(first[end]) & 0xC0) == 0x80) --end;
    FUZZ_CHECK(corvane::mail::TextHoldsKeyword(d.Body, first.substr(0, end)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t cut = fuzzsupport::Take(data, size, 2);
    const std::string message(reinterpret_cast<const char*>(data), size);
    Check(message);
    if (cut < message.size()) Check(std::string_view(message).substr(0, cut));
    return 0;
}
