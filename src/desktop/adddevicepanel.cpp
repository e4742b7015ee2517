#include "adddevicepanel.h"

#include "desktopcore.h"
#include "home/devicetype.h"
#include "panelparts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace casalux {

AddDevicePanel::AddDevicePanel(DesktopCore& core, QWidget* parent) : QWidget(parent), m_core(core)
{
    setObjectName(QStringLiteral("panel_adddevice"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Add a new device"), this);
    layout->addWidget(title);

    auto* form = new QFormLayout;
    m_room = new QComboBox(this);
    m_room->setObjectName(QStringLiteral("lst_temproom"));
    form->addRow(QStringLiteral("&Room:"), m_room);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("txt_devname"));
    m_name->setMaxLength(60);
    selectAllOnEntry(m_name);
    form->addRow(QStringLiteral("Device &name:"), m_name);

    m_house = new QComboBox(this);
    m_house->setObjectName(QStringLiteral("lst_housecode"));
    for (char c = 'A'; c <= 'P'; ++c)
        m_house->addItem(QString(QLatin1Char(c)));
    form->addRow(QStringLiteral("&House code:"), m_house);

    m_unit = new QComboBox(this);
    m_unit->setObjectName(QStringLiteral("lst_device"));
    for (int unit = 1; unit <= 16; ++unit)
        m_unit->addItem(QString::number(unit));
    form->addRow(QStringLiteral("&Unit:"), m_unit);

    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("lst_devicetype"));
    m_type->addItems(typeItems());
    form->addRow(QStringLiteral("&Type:"), m_type);
    layout->addLayout(form);

    auto* save = new QPushButton(QStringLiteral("&Save"), this);
    save->setObjectName(QStringLiteral("com_savedevice"));
    save->setToolTip(QStringLiteral("Click here to save this device"));
    layout->addWidget(save, 0, Qt::AlignLeft);
    layout->addStretch(1);

    connect(save, &QPushButton::clicked, this, [this] { m_core.launch(this->save()); });
    connect(m_name, &QLineEdit::returnPressed, save, &QPushButton::click);
}

QStringList AddDevicePanel::typeItems()
{
    return DeviceType::choices();
}

void AddDevicePanel::setRooms(const QStringList& rooms)
{
    m_room->clear();
    m_room->addItems(rooms);
    m_room->setCurrentIndex(static_cast<int>(rooms.size()) - 1);
}

void AddDevicePanel::focusName()
{
    m_name->setFocus(Qt::OtherFocusReason);
}

QCoro::Task<> AddDevicePanel::save()
{
    QPointer<AddDevicePanel> self(this);
    const bool added =
        co_await m_core.roomEditor.adddevice(m_room->currentText(), m_name->text(),
                                             m_house->currentText(), m_unit->currentText(),
                                             m_type->currentText());
    if (!self)
        co_return;
    if (added) {
        m_name->clear();
        Q_EMIT saved();
    } else {
        focusName();
    }
}

} // namespace casalux
