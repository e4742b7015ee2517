#include "addroompanel.h"

#include "desktopcore.h"
#include "panelparts.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace casalux {

AddRoomPanel::AddRoomPanel(DesktopCore& core, QWidget* parent) : QWidget(parent), m_core(core)
{
    setObjectName(QStringLiteral("panel_addroom"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Add a new room"), this);
    layout->addWidget(title);

    auto* form = new QFormLayout;
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("txt_roomname"));
    m_name->setMaxLength(60);
    selectAllOnEntry(m_name);
    form->addRow(QStringLiteral("&Room name:"), m_name);
    layout->addLayout(form);

    auto* save = new QPushButton(QStringLiteral("&Save"), this);
    save->setObjectName(QStringLiteral("com_saveroom"));
    save->setToolTip(QStringLiteral("Click here to save this room"));
    layout->addWidget(save, 0, Qt::AlignLeft);
    layout->addStretch(1);

    connect(save, &QPushButton::clicked, this, [this] { m_core.launch(this->save()); });
    connect(m_name, &QLineEdit::returnPressed, save, &QPushButton::click);
}

void AddRoomPanel::focusName()
{
    m_name->setFocus(Qt::OtherFocusReason);
}

QCoro::Task<> AddRoomPanel::save()
{
    QPointer<AddRoomPanel> self(this);
    const bool added = co_await m_core.roomEditor.addroom(m_name->text());
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
