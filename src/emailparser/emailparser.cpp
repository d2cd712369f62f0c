#include "emailparser/emailparser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "FastStringFuncs/FastStringFuncs.h"
#include "FastStrings/FastStrings.h"
#include "platform/Files.h"
#include "progress/Progress.h"

namespace {

using corvane::fs::Share;
using corvane::fs::TReadFile;

// Every file is read through one buffer of this size.
constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

constexpr std::string_view kMarker = "----- Original Message -----";

// The summary field a header name selects. Unknown: the name opens no header
// block; Nowhere: it opens one, but its value is not kept.
enum class TField { Unknown, Nowhere, From, To, Subject, Date };

// The longest recognised name ("DELIVERY-DATE"). A colon later than this in a
// line cannot end a recognised name, so the first kHeadLen bytes of a line
// decide what the line is: name, colon and the space after it.
constexpr std::size_t kLongestName = 13;
constexpr std::size_t kHeadLen = kLongestName + 2;

TField FieldOf(std::string_view name) {
    if (name.empty() || name.size() > kLongestName) return TField::Unknown;
    char upper[kLongestName];
    const unsigned char* up = TUpperTable::Data();
    for (std::size_t i = 0; i < name.size(); ++i) upper[i] = static_cast<char>(up[static_cast<unsigned char>(name[i])]);
    const std::string_view u(upper, name.size());
    if (u == "FROM") return TField::From;
    if (u == "TO") return TField::To;
    if (u == "SUBJECT") return TField::Subject;
    if (u == "DATE") return TField::Date;
    if (u == "RETURN-PATH" || u == "REPLY-TO" || u == "ENVELOPE-TO" || u == "DELIVERY-DATE" || u == "RECEIVED" ||
        u == "MESSAGE-ID")
        return TField::Nowhere;
    return TField::Unknown;
}

bool Stores(TField f) { return f != TField::Unknown && f != TField::Nowhere; }

void Store(TField field, std::string_view value, TEmail& email) {
    switch (field) {
        case TField::From: email.From.assign(value); break;
        case TField::To: email.To.assign(value); break;
        case TField::Subject: email.Subject.assign(value); break;
        case TField::Date: email.Date.assign(value); break;
        case TField::Unknown:
        case TField::Nowhere: break;
    }
}

bool NameByte(unsigned char b) { return b >= 0x21 && b <= 0x7E; }

// A line's shape as a line of a message header in the wide sense, whatever
// its name: a field (a name of printable bytes, then a colon), a folded
// continuation (it begins with a space or a tab) or anything else. Told from
// the line's first bytes, which may come in pieces.
class TLineShape {
public:
    enum TKind { Field, Continuation, Other };

    void Feed(const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n && !decided_; ++i) Step(static_cast<unsigned char>(p[i]));
    }
    TKind Kind() const { return decided_ ? kind_ : Other; }

    static TKind Of(const char* p, std::size_t n) {
        TLineShape shape;
        shape.Feed(p, n);
        return shape.Kind();
    }

private:
    void Step(unsigned char b) {
        decided_ = true;
        if (b == ':') {
            kind_ = nameBytes_ > 0 ? Field : Other;
        } else if (nameBytes_ == 0 && (b == ' ' || b == '\t')) {
            kind_ = Continuation;
        } else if (NameByte(b)) {
            ++nameBytes_;
            decided_ = false;
        } else {
            kind_ = Other;
        }
    }

    std::size_t nameBytes_ = 0;
    bool decided_ = false;
    TKind kind_ = Other;
};

// What a line is as a header line, told from its first n bytes, where n is
// kHeadLen or the whole line when it is shorter. ValueStart is the index of the
// space after the colon.
struct THead {
    TField Field = TField::Unknown;
    std::size_t ValueStart = 0;
};

THead ClassifyHead(const char* head, std::size_t n) {
    const void* colonAt = std::memchr(head, ':', std::min(n, kLongestName + 1));
    if (colonAt == nullptr) return {};
    const auto colon = static_cast<std::size_t>(static_cast<const char*>(colonAt) - head);
    if (colon == 0 || colon + 1 >= n || head[colon + 1] != ' ') return {};
    for (std::size_t i = 0; i < colon; ++i)
        if (!NameByte(static_cast<unsigned char>(head[i]))) return {};
    return {FieldOf(std::string_view(head, colon)), colon + 1};
}

// The line end search of the finder and the parse: index of the LF that
// completes the first CR LF in [p, p + n), where prevCr tells whether the byte
// just before p is a CR; kNone when there is none. Lone CRs and lone LFs are
// ordinary bytes; in CR CR LF the line ends at the second CR.
std::size_t FindCrLf(const char* p, std::size_t n, bool prevCr) {
    if (n == 0) return kNone;
    if (prevCr && p[0] == '\n') return 0;
    std::size_t i = 1;
    while (i < n) {
        const void* lf = std::memchr(p + i, '\n', n - i);
        if (lf == nullptr) return kNone;
        const auto j = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
        if (p[j - 1] == '\r') return j;
        i = j + 1;
    }
    return kNone;
}

// The marker test without building its table again for every line.
class TMarkerTest {
public:
    TMarkerTest() { BuildSkipTable(kMarker.data(), static_cast<std::int64_t>(kMarker.size()), table_); }
    bool In(const char* p, std::size_t n) const {
        return n >= kMarker.size() && SkipScan(p, kMarker.data(), static_cast<std::int64_t>(n), table_,
                                               static_cast<std::int64_t>(kMarker.size())) != nullptr;
    }

private:
    TSkipTable table_;
};

// A line that runs across buffer refills, taken in piece by piece. Keeps only
// what decides its handling: its length, its first bytes, whether the marker
// occurred (across piece borders too), and the value when the line is a header
// whose value is stored. Any other long line costs no memory.
class TLineInPieces {
public:
    explicit TLineInPieces(const TMarkerTest& marker) : marker_(marker) {}

    void Feed(const char* p, std::size_t n) {
        length_ += static_cast<std::int64_t>(n);
        shape_.Feed(p, n);
        if (!decided_) {
            const std::size_t take = std::min(n, kHeadLen - headLen_);
            std::memcpy(head_.data() + headLen_, p, take);
            headLen_ += take;
            if (headLen_ == kHeadLen) {
                Decide();
                if (Stores(headInfo_.Field)) value_.append(p + take, n - take);
            }
        } else if (Stores(headInfo_.Field)) {
            value_.append(p, n);
        }
        FeedMarker(p, n);
    }

    // Call once the piece with the line's CR LF was fed.
    void Finish() {
        if (!decided_) Decide();
        if (Stores(headInfo_.Field)) value_.resize(value_.size() - 2);  // the final CR LF
    }

    std::int64_t Length() const { return length_; }
    bool Marker() const { return markerFound_; }
    TField Field() const { return headInfo_.Field; }
    std::string_view Value() const { return value_; }
    TLineShape::TKind Shape() const { return shape_.Kind(); }

private:
    void Decide() {
        decided_ = true;
        headInfo_ = ClassifyHead(head_.data(), headLen_);
        if (Stores(headInfo_.Field))
            value_.assign(head_.data() + headInfo_.ValueStart, headLen_ - headInfo_.ValueStart);
    }

    void FeedMarker(const char* p, std::size_t n) {
        constexpr std::size_t keep = kMarker.size() - 1;
        if (markerFound_) return;
        if (tailLen_ > 0) {  // a marker across the border of the last piece and this one
            std::array<char, 2 * keep> join{};
            const std::size_t m = std::min(n, keep);
            std::memcpy(join.data(), tail_.data(), tailLen_);
            std::memcpy(join.data() + tailLen_, p, m);
            markerFound_ = marker_.In(join.data(), tailLen_ + m);
        }
        if (!markerFound_) markerFound_ = marker_.In(p, n);
        if (n >= keep) {
            std::memcpy(tail_.data(), p + n - keep, keep);
            tailLen_ = keep;
        } else {
            const std::size_t old = std::min(tailLen_, keep - n);
            std::memmove(tail_.data(), tail_.data() + tailLen_ - old, old);
            std::memcpy(tail_.data() + old, p, n);
            tailLen_ = old + n;
        }
    }

    const TMarkerTest& marker_;
    std::int64_t length_ = 0;
    std::array<char, kHeadLen> head_{};
    std::size_t headLen_ = 0;
    bool decided_ = false;
    THead headInfo_;
    std::string value_;
    std::array<char, kMarker.size() - 1> tail_{};
    std::size_t tailLen_ = 0;
    bool markerFound_ = false;
    TLineShape shape_;
};

}  // namespace

// The parse state: the records so far and the state within the current file.
// A file's text arrives in pieces; a line that a piece does not complete is
// carried over in a TLineInPieces.
class TMessageParser::TState {
public:
    TState(bool deleted, bool whole) : deleted_(deleted ? 1 : 0), whole_(whole) {}

    void BeginFile(const std::string& name) {
        inFile_ = true;
        fileName_ = name;
        inHeader_ = false;
        quoted_ = false;
        lineStart_ = 0;
        line_.reset();
        prevCr_ = false;
        fileBytes_ = 0;
        fileRecord_ = false;
        finished_ = false;
        runOpen_ = false;
        runStart_ = 0;
    }

    void Feed(const char* p, std::size_t n) {
        if (n == 0) return;
        fileBytes_ += static_cast<std::int64_t>(n);
        if (finished_) return;  // the rest of a whole message is its text
        std::size_t i = 0;  // index in p of the next line's start
        if (line_) {        // the line the last piece left open
            const std::size_t j = FindCrLf(p, n, prevCr_);
            if (j == kNone) {
                line_->Feed(p, n);
                prevCr_ = p[n - 1] == '\r';
                return;
            }
            line_->Feed(p, j + 1);
            line_->Finish();
            if (Tracking()) Track(lineStart_, line_->Shape());
            Apply(lineStart_, line_->Length() == 2, line_->Marker(), line_->Field(), line_->Value());
            lineStart_ += line_->Length();
            line_.reset();
            i = j + 1;
        }
        while (i < n && !finished_) {
            const std::size_t j = FindCrLf(p + i, n - i, false);
            if (j == kNone) {  // the line goes on in the next piece, if any
                line_.emplace(marker_);
                line_->Feed(p + i, n - i);
                prevCr_ = p[n - 1] == '\r';
                return;
            }
            WholeLine(lineStart_, p + i, j + 1);
            lineStart_ += static_cast<std::int64_t>(j + 1);
            i += j + 1;
        }
    }

    // Bytes after the file's last CR LF are no line.
    void EndFile() {
        inFile_ = false;
        line_.reset();
        if (whole_) {
            if (fileRecord_) emails_.back().MessageEnd = fileBytes_;
            return;
        }
        if (!emails_.empty() && emails_.back().MessageEnd == 0) emails_.back().MessageEnd = lineStart_;
    }

    TEmailArray Take() { return std::move(emails_); }
    TEmailArray TakeClosed() {
        // Only the last record can still change (Apply and EndFile touch no
        // other); in a whole-messages file it is open until the file ends.
        const bool lastOpen = inFile_ && !emails_.empty();
        if (emails_.size() <= (lastOpen ? 1u : 0u)) return {};
        TEmailArray closed;
        if (!lastOpen) {
            closed.swap(emails_);
            return closed;
        }
        TEmail last = std::move(emails_.back());
        emails_.pop_back();
        closed.swap(emails_);
        emails_.push_back(std::move(last));
        return closed;
    }
    std::size_t Held() const { return emails_.size(); }
    void Reserve(std::size_t records) { emails_.reserve(records); }

private:
    void WholeLine(std::int64_t lineStart, const char* p, std::size_t n) {
        if (Tracking()) Track(lineStart, TLineShape::Of(p, n));
        if (n == 2) {
            Apply(lineStart, true, false, TField::Unknown, {});
            return;
        }
        const THead head = ClassifyHead(p, std::min(n, kHeadLen));
        std::string_view value;
        if (Stores(head.Field)) value = std::string_view(p + head.ValueStart, n - head.ValueStart - 2);
        Apply(lineStart, false, marker_.In(p, n), head.Field, value);
    }

    void Apply(std::int64_t lineStart, bool blank, bool marker, TField field, std::string_view value) {
        if (blank) {
            if (inHeader_) {
                emails_.back().HeaderEnd = lineStart;
                inHeader_ = false;
                if (whole_) {
                    finished_ = true;
                    return;
                }
            } else if (quoted_) {
                quoted_ = false;
            }
        }
        if (marker) quoted_ = true;
        if (field == TField::Unknown || quoted_) return;
        if (!inHeader_) {
            if (!emails_.empty() && emails_.back().MessageEnd == 0) emails_.back().MessageEnd = lineStart;
            TEmail& email = emails_.emplace_back();
            email.FileName = fileName_;
            email.Deleted = deleted_;
            email.MessageStart = whole_ && runOpen_ ? runStart_ : lineStart;
            inHeader_ = true;
            fileRecord_ = true;
        }
        Store(field, value, emails_.back());
    }

    // Whole messages: until the file's record starts, where the run of header
    // lines that the current line belongs to began.
    bool Tracking() const { return whole_ && !fileRecord_; }
    void Track(std::int64_t lineStart, TLineShape::TKind shape) {
        if (shape == TLineShape::Field || (shape == TLineShape::Continuation && runOpen_)) {
            if (!runOpen_) runStart_ = lineStart;
            runOpen_ = true;
        } else {
            runOpen_ = false;
        }
    }

    const std::uint8_t deleted_;
    const bool whole_;  // one record per file at most
    TMarkerTest marker_;
    TEmailArray emails_;
    std::string fileName_;
    bool inFile_ = false;  // between BeginFile and EndFile
    bool inHeader_ = false;
    bool quoted_ = false;
    std::int64_t lineStart_ = 0;       // file offset of the next line
    std::optional<TLineInPieces> line_;  // a line begun but not yet ended
    bool prevCr_ = false;              // the last byte fed, when line_ is set, is a CR
    // Whole messages only.
    std::int64_t fileBytes_ = 0;  // bytes of the current file so far
    bool fileRecord_ = false;     // the current file's record has started
    bool finished_ = false;       // its header block has closed: no more lines are read
    bool runOpen_ = false;        // the last line read was a header or continuation line
    std::int64_t runStart_ = 0;   // where that run of header lines began
};

TMessageParser::TMessageParser(bool Deleted, bool WholeMessages)
    : state_(std::make_unique<TState>(Deleted, WholeMessages)) {}
TMessageParser::~TMessageParser() = default;
void TMessageParser::BeginFile(const std::string& FileName) { state_->BeginFile(FileName); }
void TMessageParser::Feed(const char* Data, std::size_t Size) { state_->Feed(Data, Size); }
void TMessageParser::EndFile() { state_->EndFile(); }
TEmailArray TMessageParser::Take() { return state_->Take(); }
TEmailArray TMessageParser::TakeClosed() { return state_->TakeClosed(); }
std::size_t TMessageParser::Held() const { return state_->Held(); }
void TMessageParser::Reserve(std::size_t Records) { state_->Reserve(Records); }

TEmailArray ParseMessageFiles(const TMessageFiles& Files, bool Deleted, bool WholeMessages, corvane::TProgress* Progress) {
    TMessageParser parse(Deleted, WholeMessages);
    auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    const auto total = static_cast<std::int64_t>(Files.size());
    std::int64_t done = 0;
    for (const std::string& name : Files) {
        TReadFile file(name, Share::All);
        parse.BeginFile(name);
        std::int64_t at = 0;
        for (;;) {
            const std::size_t got = file.ReadAt(at, buffer.get(), kBufferSize);
            corvane::CheckPoint(Progress, kParseStage, done, total);
            parse.Feed(buffer.get(), got);
            if (got < kBufferSize) break;  // ReadAt gives fewer bytes only at the end
            at += static_cast<std::int64_t>(got);
        }
        parse.EndFile();
        ++done;
    }
    return parse.Take();
}

std::int64_t FindLineEnd(const std::string& FileName, std::int64_t StartOffset) {
    TReadFile file(FileName, Share::All);
    auto buf = std::make_unique_for_overwrite<char[]>(kBufferSize);
    std::int64_t pos = std::max<std::int64_t>(StartOffset, 0);
    bool prevCr = false;
    for (;;) {
        const std::size_t got = file.ReadAt(pos, buf.get(), kBufferSize);
        if (got == 0) return -1;
        const std::size_t j = FindCrLf(buf.get(), got, prevCr);
        if (j != kNone) return pos + static_cast<std::int64_t>(j) - 1;
        prevCr = buf[got - 1] == '\r';
        pos += static_cast<std::int64_t>(got);
    }
}

TRPCField SplitHeaderLine(const std::string& Line) {
    TRPCField field;
    const int colon = FindCharFrom(Line, ':', 1);
    if (colon < 2 || static_cast<std::size_t>(colon) >= Line.size() || Line[static_cast<std::size_t>(colon)] != ' ')
        return field;
    for (int i = 0; i < colon - 1; ++i)
        if (!NameByte(static_cast<unsigned char>(Line[static_cast<std::size_t>(i)]))) return field;
    field.Valid = 1;
    field.Name = CopyFrom(Line, 1, colon - 1);
    field.Value = CopyFrom(Line, colon + 1, static_cast<int>(Line.size()) - static_cast<int>(field.Name.size()) - 3);
    return field;
}

bool IsKnownHeader(const TRPCField& Field) { return FieldOf(Field.Name) != TField::Unknown; }

bool HasQuoteMarker(const std::string& Line) { return FindText(std::string(kMarker), Line, true, 1, true) > 0; }

TEmail StoreSummaryField(const TRPCField& Field, TEmail Email) {
    Store(FieldOf(Field.Name), Field.Value, Email);
    return Email;
}
