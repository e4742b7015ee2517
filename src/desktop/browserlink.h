#pragma once

#include <QString>

#include <functional>

#include <qcoro/qcorotask.h>

namespace casalux {

class Prompts;

// Opens a web address in the user's browser (the web panel's "Show URL").
class BrowserLink final {
public:
    // How the address is opened: true when the browser was started. The
    // desktop's default asks QDesktopServices.
    using Opener = std::function<bool(const QString& address)>;
    // Whether any program handles web addresses at all.
    using Finder = std::function<bool()>;

    explicit BrowserLink(Prompts& prompts, Opener opener = {}, Finder finder = {});

    QCoro::Task<bool> link(QString webaddress);

private:
    Prompts& m_prompts;
    Opener m_open;
    Finder m_find;
};

} // namespace casalux
