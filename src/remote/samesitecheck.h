#pragma once

#include <QString>

namespace casalux {

// Whether a device command came from a page of the site it was sent to, as
// far as the request's own headers tell. A browser names where a request
// came from (Sec-Fetch-Site, Origin, Referer); a page of another site must
// not switch a lamp through a browser that holds the login, not even one
// that asks for no Referer. Clients that name nothing (scripts, older TVs
// and browsers) are taken at their word.
class SameSiteCheck final {
public:
    struct Headers {
        QString host;
        QString origin;
        QString referer;
        QString fetchSite; // Sec-Fetch-Site
    };

    static bool allows(const Headers& headers);
};

} // namespace casalux
