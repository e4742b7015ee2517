#pragma once

#include <QWidget>
#include <qcoro/qcorotask.h>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace casalux {

class DesktopCore;

// The MQTT part of the web server panel: where the hub's broker is, how to
// log in to it, the topic prefixes, and how the link is doing.
class MqttPanel final : public QWidget {
    Q_OBJECT

public:
    explicit MqttPanel(DesktopCore& core, QWidget* parent = nullptr);

    // Shows the stored settings in the entries.
    void showStored();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QCoro::Task<> apply();
    void showStatus();

    DesktopCore& m_core;
    QLineEdit* m_host = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_tls = nullptr;
    QLineEdit* m_prefix = nullptr;
    QLineEdit* m_discovery = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace casalux
