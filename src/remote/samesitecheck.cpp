#include "samesitecheck.h"

#include <QUrl>
#include <algorithm>

namespace casalux {

namespace {

// "host:port" of an http or https address, host in lower case and the
// scheme's port filled in; empty when the text names no such site.
QString siteOf(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    const int schemePort = scheme == QLatin1String("https")  ? 443
                           : scheme == QLatin1String("http") ? 80
                                                             : -1;
    if (schemePort < 0)
        return {};
    return url.host().toLower() + QLatin1Char(':') + QString::number(url.port(schemePort));
}

// The site a request was sent to, from its Host header (host[:port]); the
// server speaks plain HTTP, so a missing port is 80.
QString siteAsked(const QString& host)
{
    // Anything that would make the header read as more than a host and port
    // (a user part, a path) names no site.
    static const QString notInHost = QStringLiteral("/\\?#@ \t");
    if (host.isEmpty() ||
        std::any_of(host.cbegin(), host.cend(), [](QChar c) { return notInHost.contains(c); }))
        return {};
    return siteOf(QUrl(QStringLiteral("http://") + host + QLatin1Char('/')));
}

} // namespace

bool SameSiteCheck::allows(const Headers& h)
{
    // "same-origin" is a page of this server, "none" the user's own act (an
    // address typed, a bookmark). "same-site" is another server of the
    // same domain, a port of this machine included: as foreign as any.
    if (!h.fetchSite.isEmpty() &&
        h.fetchSite.compare(QLatin1String("same-origin"), Qt::CaseInsensitive) != 0 &&
        h.fetchSite.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0)
        return false;
    if (h.origin.isEmpty() && h.referer.isEmpty())
        return true;
    const QString asked = siteAsked(h.host);
    if (asked.isEmpty())
        return false;
    const auto fits = [&asked](const QString& header) {
        return header.isEmpty() || siteOf(QUrl(header)) == asked;
    };
    return fits(h.origin) && fits(h.referer);
}

} // namespace casalux
