#include "frmMainWindow/win32/Collation.h"

#include <windows.h>

#include <string>
#include <vector>

#include "frmMainWindow/win32/Wide.h"

namespace corvane::win32 {

namespace {

// Every text of one sort end to end in UTF-16, compared where it lies.
class TLocaleKeys : public corvane::session::TSortKeys {
public:
    void Reserve(std::size_t count) override { ends_.reserve(count); }
    void Add(std::string_view utf8) override {
        texts_ += FromUtf8(utf8);
        ends_.push_back(texts_.size());
    }
    int Compare(std::size_t i, std::size_t j) const override {
        const std::size_t a = i == 0 ? 0 : ends_[i - 1];
        const std::size_t b = j == 0 ? 0 : ends_[j - 1];
        const int result = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, texts_.data() + a,
                                            static_cast<int>(ends_[i] - a), texts_.data() + b,
                                            static_cast<int>(ends_[j] - b));
        // CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN follow one another; 0 on failure.
        return result == 0 ? 0 : result - CSTR_EQUAL;
    }

private:
    std::wstring texts_;
    std::vector<std::size_t> ends_;
};

}  // namespace

std::unique_ptr<corvane::session::TSortKeys> TLocaleCollation::NewKeys() const {
    return std::make_unique<TLocaleKeys>();
}

}  // namespace corvane::win32
