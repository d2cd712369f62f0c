// The session's collation through the toolkit's locale order.

#include "platform/qt/LocaleCompare.h"

namespace corvane::gui {
namespace {

class TLocaleKeys : public corvane::session::TSortKeys {
public:
    void Reserve(std::size_t count) override { keys_.Reserve(count); }
    void Add(std::string_view utf8) override {
        keys_.Add(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    }
    int Compare(std::size_t i, std::size_t j) const override { return keys_.Compare(i, j); }

private:
    TLocaleSortKeys keys_;
};

}  // namespace

std::unique_ptr<corvane::session::TSortKeys> TLocaleCollation::NewKeys() const {
    return std::make_unique<TLocaleKeys>();
}

}  // namespace corvane::gui
