// ParseMessageFiles over a 100 MB message file of ordinary mail: several
// thousand messages end to end, with headers, bodies and quoted replies. The
// file is written to a private temporary folder first and removed at the end.
//   build-*/bench/bench_emailparser

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "emailparser/emailparser.h"

namespace stdfs = std::filesystem;

namespace {

constexpr std::size_t kFileSize = 100 * 1000 * 1000;

struct TMailFile {
    std::string dir;
    std::string path;
    std::size_t messages = 0;
    std::size_t size = 0;
    ~TMailFile() {
        std::error_code ec;
        if (!dir.empty()) stdfs::remove_all(dir, ec);
    }
};

std::string BodyLine(std::mt19937& rng) {
    static const std::vector<std::string> words = {"the", "meeting", "is", "moved", "to", "Thursday", "please",
                                                   "find", "attached", "report", "and", "let", "me", "know",
                                                   "if", "you", "have", "questions", "about", "budget", "figures"};
    std::string line;
    const std::size_t want = 40 + rng() % 36;
    while (line.size() < want) line += words[rng() % words.size()] + ' ';
    return line + "\r\n";
}

std::string Message(std::mt19937& rng, std::size_t n) {
    const std::string id = std::to_string(n);
    std::string m;
    m += "Return-Path: <sender" + id + "@example.com>\r\n";
    m += "Received: from mail.example.com (mail.example.com [192.0.2.1])\r\n\tby mx.example.net with ESMTP id " + id +
         "\r\n\tfor <user@example.net>; Mon, 1 Jan 2001 10:00:00 +0100\r\n";
    m += "Received: from [10.0.0.1] by mail.example.com; Mon, 1 Jan 2001 09:59:58 +0100\r\n";
    m += "Message-ID: <" + id + ".1234@example.com>\r\n";
    m += "From: \"Sender " + id + "\" <sender" + id + "@example.com>\r\n";
    m += "To: <user@example.net>\r\n";
    m += "Subject: Re: budget figures for week " + id + "\r\n";
    m += "Date: Mon, 1 Jan 2001 10:00:00 +0100\r\n";
    m += "MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\n";
    m += "X-Mailer: Microsoft Outlook Express 6.00.2800.1106\r\n\r\n";
    const std::size_t lines = 150 + rng() % 300;
    for (std::size_t i = 0; i < lines; ++i) m += rng() % 12 == 0 ? "\r\n" : BodyLine(rng);
    if (rng() % 2 == 0) {  // a quoted reply, as mail programs write it
        m += "\r\n----- Original Message -----\r\nFrom: <user@example.net>\r\nTo: <sender" + id +
             "@example.com>\r\nSent: Sunday, December 31, 2000 18:00\r\nSubject: budget figures\r\n\r\n";
        for (std::size_t i = 0; i < 40; ++i) m += "> " + BodyLine(rng);
    }
    return m + "\r\n";
}

const TMailFile& MailFile() {
    static const TMailFile file = [] {
        TMailFile f;
        std::string templ = (stdfs::temp_directory_path() / "corvane-bench-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) return f;
        f.dir = templ;
        f.path = f.dir + "/msg1.tmp";
        std::ofstream out(f.path, std::ios::binary);
        std::mt19937 rng(3);
        while (f.size < kFileSize) {
            const std::string m = Message(rng, f.messages++);
            out << m;
            f.size += m.size();
        }
        return f;
    }();
    return file;
}

void BM_ParseMessageFiles(benchmark::State& state) {
    const TMailFile& file = MailFile();
    if (file.path.empty()) {
        state.SkipWithError("cannot make a temporary folder");
        return;
    }
    if (ParseMessageFiles({file.path}, false).size() != file.messages) {
        state.SkipWithError("wrong number of records");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ParseMessageFiles({file.path}, false));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size));
    state.counters["messages"] = static_cast<double>(file.messages);
}

}  // namespace

BENCHMARK(BM_ParseMessageFiles)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
