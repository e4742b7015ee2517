#include "macrospanel.h"

#include "desktopcore.h"
#include "panelparts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace casalux {

namespace {

QLabel* wrapped(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QLabel* bold(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

MacrosPanel::MacrosPanel(DesktopCore& core, QWidget* parent) : QWidget(parent), m_core(core)
{
    setObjectName(QStringLiteral("panel_macros"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Macros"), this);
    layout->addWidget(title);
    layout->addWidget(wrapped(
        QStringLiteral("Adding a macro is easy. Just follow the steps below, then whenever your "
                       "event occurs the macro will trigger. Macros can start an endless loop if "
                       "you misconfigure them so be careful."),
        this));

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    m_trigger = new QComboBox(this);
    m_trigger->setObjectName(QStringLiteral("com_sel1"));
    m_trigger->setToolTip(QStringLiteral("This is the TRIGGER device"));
    // Each step's label takes the keyboard to its first box.
    QLabel* step = bold(QStringLiteral("Step &1"), this);
    step->setBuddy(m_trigger);
    grid->addWidget(step, 0, 0, Qt::AlignTop);
    grid->addWidget(wrapped(QStringLiteral("This is the trigger, select the device that will "
                                           "trigger your macro"),
                            this),
                    0, 1);
    grid->addWidget(m_trigger, 1, 1);

    m_triggerAction = new QComboBox(this);
    m_triggerAction->setObjectName(QStringLiteral("mac_event"));
    m_triggerAction->setToolTip(QStringLiteral("This is the TRIGGER action"));
    m_triggerAction->addItems(MacroList::triggerActions());
    step = bold(QStringLiteral("Step &2"), this);
    step->setBuddy(m_triggerAction);
    grid->addWidget(step, 2, 0, Qt::AlignTop);
    grid->addWidget(
        wrapped(QStringLiteral("Now select what 'event' will trigger this macro."), this), 2, 1);
    grid->addWidget(m_triggerAction, 3, 1, Qt::AlignLeft);

    m_target = new QComboBox(this);
    m_target->setObjectName(QStringLiteral("com_sel2"));
    m_target->setToolTip(QStringLiteral("This is the deivce you wish to be triggered"));
    m_targetAction = new QComboBox(this);
    m_targetAction->setObjectName(QStringLiteral("mac_whattodo"));
    m_targetAction->setToolTip(QStringLiteral(
        "Finally this is the action you wish the triggered device to take"));
    m_targetAction->addItems(MacroList::targetActions());
    step = bold(QStringLiteral("Step &3"), this);
    step->setBuddy(m_target);
    grid->addWidget(step, 4, 0, Qt::AlignTop);
    grid->addWidget(wrapped(QStringLiteral("Finally Select the device to trigger and also the "
                                           "action to take e.g. Turn On."),
                            this),
                    4, 1);
    auto* targetRow = new QHBoxLayout;
    targetRow->addWidget(m_target, 1);
    targetRow->addWidget(m_targetAction);
    grid->addLayout(targetRow, 5, 1);
    layout->addLayout(grid);

    auto* save = new QPushButton(QStringLiteral("&Save"), this);
    save->setObjectName(QStringLiteral("com_savemacro"));
    save->setToolTip(QStringLiteral("Click here to save this macro"));
    layout->addWidget(save, 0, Qt::AlignLeft);

    QLabel* listLabel = wrapped(
        QStringLiteral("Below are your active &Macro's. Click on the macro to delete it."), this);
    layout->addWidget(listLabel);
    m_list = new QListWidget(this);
    listLabel->setBuddy(m_list);
    m_list->setObjectName(QStringLiteral("ListVIew2"));
    m_list->setToolTip(QStringLiteral("Click on any macro in this list to delete it."));
    m_list->viewport()->installEventFilter(this);
    m_list->installEventFilter(this);
    layout->addWidget(m_list, 1);

    connect(save, &QPushButton::clicked, this, [this] { m_core.launch(this->save()); });
}

void MacrosPanel::setDevices(const QStringList& lines)
{
    for (QComboBox* box : {m_trigger, m_target}) {
        box->clear();
        box->addItems(lines);
        box->setCurrentIndex(static_cast<int>(lines.size()) - 1);
    }
}

void MacrosPanel::setMacros(const QStringList& lines)
{
    m_list->clear();
    m_list->addItems(lines);
}

bool MacrosPanel::eventFilter(QObject* watched, QEvent* event)
{
    // A click on the list (or Delete on a chosen macro) offers to delete it.
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        QListWidgetItem* item = m_list->itemAt(mouse->position().toPoint());
        if (item)
            m_list->setCurrentItem(item);
        m_core.launch(deletemacro(item ? item->text() : QString()));
    } else if (watched == m_list && event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        QListWidgetItem* item = m_list->currentItem();
        m_core.launch(deletemacro(item ? item->text() : QString()));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QCoro::Task<> MacrosPanel::save()
{
    // A saved macro reloads the list through the core's reload hook.
    co_await m_core.macros.save(m_trigger->currentText(), m_triggerAction->currentText(),
                                m_target->currentText(), m_targetAction->currentText());
}

QCoro::Task<> MacrosPanel::deletemacro(QString selected)
{
    co_await m_core.macros.deletemacro(selected, m_list->count() == 0);
}

} // namespace casalux
