#pragma once
// Text order by the user's locale, ignoring letter case, for sorting the
// message list. One implementation per system: LocaleCompare_win.cpp and
// LocaleCompare_other.cpp.

#include <QString>

#include <cstddef>
#include <memory>

#include "mailsession/MailSession.h"

namespace corvane::gui {

// -1 when a sorts before b, 0 when the two compare equal, 1 when a sorts after b.
int CompareLocaleTextIgnoreCase(const QString& a, const QString& b);

// The texts of one sort, prepared once each so that the many comparisons of a
// sort are cheap. Compare(i, j) gives what CompareLocaleTextIgnoreCase gives
// for the i-th and the j-th text added.
class TLocaleSortKeys {
public:
    TLocaleSortKeys();
    ~TLocaleSortKeys();
    TLocaleSortKeys(const TLocaleSortKeys&) = delete;
    TLocaleSortKeys& operator=(const TLocaleSortKeys&) = delete;

    void Reserve(std::size_t count);
    void Add(const QString& text);
    int Compare(std::size_t i, std::size_t j) const;

private:
    struct TKeys;
    std::unique_ptr<TKeys> keys_;
};

// The collation a window hands its session: TLocaleSortKeys over the texts
// as shown.
class TLocaleCollation : public corvane::session::TCollation {
public:
    std::unique_ptr<corvane::session::TSortKeys> NewKeys() const override;
};

}  // namespace corvane::gui
