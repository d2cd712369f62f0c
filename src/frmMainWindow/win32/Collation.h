#pragma once
// The order of the list's text columns: the user's default locale, ignoring
// letter case (CompareStringW with NORM_IGNORECASE), on the texts as shown.

#include <memory>

#include "mailsession/MailSession.h"

namespace corvane::win32 {

class TLocaleCollation : public corvane::session::TCollation {
public:
    std::unique_ptr<corvane::session::TSortKeys> NewKeys() const override;
};

}  // namespace corvane::win32
