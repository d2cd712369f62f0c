// FindText over 100 MB of mail text, looking for an 8-byte keyword that does
// not occur: ignoring case and case-sensitive.
//   build-*/bench/bench_faststrings

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "FastStrings/FastStrings.h"

namespace {

constexpr std::size_t kTextSize = 100 * 1000 * 1000;
const std::string kKeyword = "Passport";  // never in the text below, in any case

// Mail-like text: words of both cases, punctuation, line ends.
const std::string& MailText() {
    static const std::string text = [] {
        const std::vector<std::string> words = {
            "the",     "of",      "and",    "to",       "in",      "Hello",   "meeting", "Thanks",  "regards",
            "report",  "attached", "please", "Monday",  "project", "Re:",     "From:",   "Subject", "invoice",
            "order",   "shipping", "account", "PASSWORD", "pass",   "sport",   "port",    "Best",    "wishes",
            "café",    "Grüße",    "deadline", "review", "budget",  "team",    "call",    "tomorrow", "office",
            "update",  "schedule", "customer", "support", "&nbsp;", "<p>",     "--",      "2001",     "a",
            "Passpor", "assport",  "PaSS",     "ports",   "sent",   "reply",   "forward", "message"};
        std::mt19937 rng(42);
        std::string t;
        t.reserve(kTextSize + 64);
        std::size_t lineLen = 0;
        while (t.size() < kTextSize) {
            const std::string& w = words[rng() % words.size()];
            t += w;
            lineLen += w.size();
            if (lineLen > 68) {
                t += "\r\n";
                lineLen = 0;
            } else {
                t += rng() % 9 == 0 ? ", " : " ";
            }
        }
        t.resize(kTextSize);
        return t;
    }();
    return text;
}

void Search(benchmark::State& state, bool caseSensitive) {
    const std::string& text = MailText();
    if (FindText(kKeyword, text, caseSensitive, 1, true) != 0) {
        state.SkipWithError("the keyword occurs in the text");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(FindText(kKeyword, text, caseSensitive, 1, true));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void BM_FindTextIgnoreCase(benchmark::State& state) { Search(state, false); }
void BM_FindTextCaseSensitive(benchmark::State& state) { Search(state, true); }

}  // namespace

BENCHMARK(BM_FindTextIgnoreCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindTextCaseSensitive)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
