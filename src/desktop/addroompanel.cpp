#include "addroompanel.h"

#include "desktopcore.h"

#include <QFocusEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace casalux {

AddRoomPanel::AddRoomPanel(DesktopCore& core, QWidget* parent) : QWidget(parent), m_core(core)
{
    setObjectName(QStringLiteral("panel_addroom"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Add a new room"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);

    auto* form = new QFormLayout;
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("txt_roomname"));
    m_name->setMaxLength(60);
    m_name->installEventFilter(this);
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

bool AddRoomPanel::eventFilter(QObject* watched, QEvent* event)
{
    // The whole name is selected on entry, so typing replaces it.
    if (watched == m_name && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, m_name, &QLineEdit::selectAll);
    return QWidget::eventFilter(watched, event);
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
