#pragma once
// What the carve tests share: folder files of distinguishable messages, and
// the check of reconstructed files against them.

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "carve/Carve.h"
#include "outlookfile/outlookfile.h"
#include "support/DbxFixture.h"
#include "support/DiskImageFixture.h"

namespace corvane::testsupport {

// A folder file of messages named after the folder, some of them deleted.
struct TCarveFolder {
    std::string Name;
    TDbxWriter Writer;
    std::vector<int> Live;  // message numbers of the live messages

    // upper: every letter in upper case, so that two folders made from one
    // seed have the same layout (the same offsets) but texts of their own.
    TCarveFolder(const std::string& name, std::uint64_t seed, int messages, int deleted, bool scattered, bool upper = false)
        : Name(name), Writer(seed, name) {
        std::mt19937_64 random(seed);
        if (scattered) Writer.ReserveScatteredSlots(static_cast<std::size_t>(messages) * 3);
        std::vector<int> all;
        for (int m = 0; m < messages; ++m) {
            std::string text = CarveMessageText(name, m, random);
            if (upper)
                for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            all.push_back(Writer.AddMessage(text, scattered ? TBlockOrder::Scattered : TBlockOrder::Ascending));
        }
        for (int m = 0; m < messages; ++m) {
            if (m < deleted) Writer.DeleteMessage(all[static_cast<std::size_t>(m)]);
            else Live.push_back(all[static_cast<std::size_t>(m)]);
        }
        Writer.End();
    }
    const std::string& Bytes() const { return Writer.Bytes(); }
};

// The chains' texts of a folder file, as the folder reader gives them.
inline std::vector<std::string> ChainTexts(const std::string& path) {
    struct TSink : TChainSink {
        std::vector<std::string> texts;
        void BeginChain(std::size_t) override { texts.emplace_back(); }
        void ChainText(const char* d, std::size_t n) override { texts.back().append(d, n); }
        void EndChain() override {}
    } sink;
    Toutlookfile reader;
    reader.OpenFolder(path);
    TMessagePartArray parts = reader.ScanMessageParts();
    if (!parts.empty()) reader.WalkChains(parts, sink);
    reader.CloseFolder();
    return sink.texts;
}

// How reconstructed files compare with the folder files placed in the image.
struct TCarveCheck {
    std::size_t Recovered = 0;   // expected messages found whole, byte for byte
    std::size_t Missing = 0;     // expected messages not found whole
    std::size_t WrongJoins = 0;  // files holding texts of more than one folder file
    std::size_t False = 0;       // chains that are no part of any placed message
};

// expected: per folder name, the texts that must come back whole; all:
// every text placed (whole or damaged), per folder name.
inline TCarveCheck CheckCarve(const carve::TCarveResult& result, const std::map<std::string, std::set<std::string>>& expected,
                              const std::map<std::string, std::vector<std::string>>& all) {
    TCarveCheck check;
    std::set<std::string> found;
    for (const carve::TCarvedFile& file : result.Files) {
        std::set<std::string> folders;
        for (const std::string& chain : ChainTexts(file.Path)) {
            found.insert(chain);
            // A chain belongs to the folder file whose message holds it, or
            // else the longest start of it, at a block's start (its end may be
            // another file's bytes, where a piece of its folder file could not
            // be found; so may all but the first few bytes, where the piece
            // ends right after its header). The folder's name in each message
            // tells the files apart.
            std::string owner;
            for (const std::size_t length : {chain.size(), std::size_t{512}, std::size_t{256}, std::size_t{128},
                                             std::size_t{64}, std::size_t{32}, std::size_t{16}}) {
                const std::string start = chain.substr(0, length);
                for (const auto& [name, texts] : all)
                    for (const std::string& text : texts)
                        for (std::size_t at = 0; owner.empty() && at < text.size(); at += 512)
                            if (text.compare(at, start.size(), start) == 0) owner = name;
                if (!owner.empty()) break;
            }
            if (owner.empty()) ++check.False;
            else folders.insert(owner);
        }
        if (folders.size() > 1) ++check.WrongJoins;
    }
    for (const auto& [name, texts] : expected)
        for (const std::string& text : texts) (found.count(text) ? check.Recovered : check.Missing) += 1;
    return check;
}

inline std::size_t CompleteCount(const carve::TCarveResult& result) {
    std::size_t n = 0;
    for (const auto& f : result.Files) n += f.Complete;
    return n;
}

}  // namespace corvane::testsupport
