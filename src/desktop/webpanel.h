#pragma once

#include <QUrl>
#include <QWidget>

#include "browserlink.h"

#include <functional>
#include <memory>

#include <qcoro/qcorotask.h>

class QLabel;
class QLineEdit;

namespace casalux {

class DesktopCore;

// The web server panel: the port the remote-control pages are served on,
// the login that protects them, and a look-up of this home's address.
class WebPanel final : public QWidget {
    Q_OBJECT

public:
    // The outside page that shows the address the home is reached at and
    // whether the port answers from outside; the port goes in its query.
    static constexpr const char* lookupAddress = "https://www.yougetsignal.com/tools/open-ports/?port=";

    explicit WebPanel(DesktopCore& core, QWidget* parent = nullptr);

    // Shows the stored port in the entry and the caption.
    void showStoredPort();
    void showPort(const QString& port);
    // How web addresses are opened (the default browser unless replaced,
    // e.g. by tests), and how a browser is found.
    void setUrlOpener(BrowserLink::Opener opener, BrowserLink::Finder finder = {});

private:
    QCoro::Task<> savePort();

    DesktopCore& m_core;
    QLineEdit* m_port = nullptr;
    QLabel* m_caption = nullptr;
    std::unique_ptr<BrowserLink> m_link;
};

} // namespace casalux
