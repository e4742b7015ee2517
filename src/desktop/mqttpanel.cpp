#include "mqttpanel.h"

#include "desktopcore.h"
#include "home/settingsstore.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace casalux {

MqttPanel::MqttPanel(DesktopCore& core, QWidget* parent) : QWidget(parent), m_core(core)
{
    setObjectName(QStringLiteral("frm_mqtt"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* intro = new QLabel(QStringLiteral("Home Assistant and other hubs can see and switch "
                                            "your devices through an MQTT broker. Leave the "
                                            "host empty to keep this off."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* form = new QFormLayout;
    const auto entry = [this, form](const char* name, const char* label) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        auto* caption = new QLabel(QString::fromLatin1(label), this);
        caption->setBuddy(edit);
        form->addRow(caption, edit);
        return edit;
    };
    m_host = entry("txt_mqtthost", "MQTT &host:");
    m_port = entry("txt_mqttport", "Broke&r port:");
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_user = entry("txt_mqttuser", "User &name:");
    m_password = entry("txt_mqttpassword", "Pass&word:");
    m_password->setEchoMode(QLineEdit::Password);
    m_tls = new QCheckBox(QStringLiteral("Use &TLS (trusting the system's certificates)"), this);
    m_tls->setObjectName(QStringLiteral("chk_mqtttls"));
    form->addRow(QString(), m_tls);
    m_prefix = entry("txt_mqttprefix", "Topic pr&efix:");
    m_discovery = entry("txt_mqttdiscovery", "&Discovery prefix:");
    layout->addLayout(form);

    auto* row = new QHBoxLayout;
    auto* apply = new QPushButton(QStringLiteral("&Apply MQTT"), this);
    apply->setObjectName(QStringLiteral("cmd_mqttapply"));
    apply->setToolTip(QStringLiteral("Save the MQTT settings and connect with them"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lbl_mqttstatus"));
    m_status->setWordWrap(true);
    row->addWidget(apply);
    row->addWidget(m_status, 1);
    layout->addLayout(row);

    connect(apply, &QPushButton::clicked, this, [this] { m_core.launch(this->apply()); });
    connect(&m_core.mqtt, &MqttBridge::stateChanged, this, &MqttPanel::showStatus);
    showStored();
}

void MqttPanel::showStored()
{
    const SettingsStore& s = m_core.settings;
    m_host->setText(s.read(settingkeys::mqtthost));
    m_port->setText(s.read(settingkeys::mqttport));
    m_user->setText(s.read(settingkeys::mqttuser));
    m_password->setText(s.read(settingkeys::mqttpassword));
    m_tls->setChecked(
        s.read(settingkeys::mqtttls).compare(QLatin1String("True"), Qt::CaseInsensitive) == 0);
    m_prefix->setText(s.read(settingkeys::mqttprefix));
    m_discovery->setText(s.read(settingkeys::mqttdiscovery));
    showStatus();
}

void MqttPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showStored();
}

void MqttPanel::showStatus()
{
    m_status->setText(m_core.mqtt.statusText());
}

QCoro::Task<> MqttPanel::apply()
{
    SettingsStore& s = m_core.settings;
    s.write(settingkeys::mqtthost, m_host->text().trimmed());
    s.write(settingkeys::mqttport, m_port->text().trimmed().isEmpty()
                                       ? QString::fromLatin1(settingkeys::mqttport.fallback)
                                       : m_port->text().trimmed());
    s.write(settingkeys::mqttuser, m_user->text());
    s.write(settingkeys::mqttpassword, m_password->text());
    s.write(settingkeys::mqtttls,
            m_tls->isChecked() ? QStringLiteral("True") : QStringLiteral("False"));
    s.write(settingkeys::mqttprefix, m_prefix->text().trimmed());
    s.write(settingkeys::mqttdiscovery, m_discovery->text().trimmed());
    QPointer<MqttPanel> self(this);
    co_await m_core.mqtt.restart();
    if (self)
        showStatus();
}

} // namespace casalux
