#pragma once

#include "httpstatus.h"

#include <QString>

namespace servlane {

// The built-in error pages. Codes without a page of their own (400 and 401
// among them) get the 501 page.
class ErrorPages final {
public:
    static QString page(const HttpStatus& status);
};

} // namespace servlane
