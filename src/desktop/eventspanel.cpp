#include "eventspanel.h"

#include "desktopcore.h"
#include "panelparts.h"
#include "eventrow.h"
#include "twips.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "x10/roomview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace casalux {

namespace {

// Column captions and widths (twips) of the event list.
struct Column {
    const char* caption;
    int twips;
};
constexpr std::array<Column, EventRow::columnCount> columns{{{"Device", 2850},
                                                             {"", 350},
                                                             {"", 500},
                                                             {"Dim", 900},
                                                             {"Time", 1000},
                                                             {"Action", 1000},
                                                             {"Freq", 1000},
                                                             {"Days", 1070}}};

constexpr std::array<const char*, 7> dayNames{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                              "Friday", "Saturday", "Sunday"};

const QString sRise = QStringLiteral("sRise");
const QString sSet = QStringLiteral("sSet");

// Selects `text` in a box, adding it first when the box does not offer it,
// so an event loaded from the file is saved back exactly as it was.
void selectText(QComboBox* box, const QString& text)
{
    int index = box->findText(text);
    if (index < 0) {
        box->addItem(text);
        index = box->count() - 1;
    }
    box->setCurrentIndex(index);
}

} // namespace

EventsPanel::EventsPanel(DesktopCore& core, QWidget* parent) : QWidget(parent), m_core(core)
{
    setObjectName(QStringLiteral("panel_events"));
    auto* layout = new QVBoxLayout(this);
    auto* title = panelTitle(QStringLiteral("Timed events"), this);
    layout->addWidget(title);
    buildList();
    layout->addWidget(m_list, 1);
    buildEditor();

    m_flashsave.setObjectName(QStringLiteral("flashsave"));
    connect(&m_flashsave, &QTimer::timeout, this, [this] {
        QFont font = m_save->font();
        font.setBold(!font.bold());
        m_save->setFont(font);
    });
}

QStringList EventsPanel::hourItems()
{
    QStringList items;
    for (int hour = 0; hour < 24; ++hour)
        items.append(QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0')));
    items << sRise << sSet;
    return items;
}

QStringList EventsPanel::minuteItems()
{
    QStringList items;
    for (int minute = 0; minute < 60; ++minute)
        items.append(QStringLiteral("%1").arg(minute, 2, 10, QLatin1Char('0')));
    return items;
}

QStringList EventsPanel::offsetItems()
{
    return {QStringLiteral("-3"), QStringLiteral("-2"), QStringLiteral("-1"), QStringLiteral("00"),
            QStringLiteral("+1"), QStringLiteral("+2"), QStringLiteral("+3")};
}

QStringList EventsPanel::dimItems()
{
    QStringList items;
    for (int dim = 10; dim <= 100; dim += 5)
        items.append(QString::number(dim) + QLatin1Char('%'));
    return items;
}

void EventsPanel::buildList()
{
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("ListView1"));
    m_list->setToolTip(
        QStringLiteral("Press CTRL & D to delete this event, DOUBLE CLICK here to edit this event"));
    m_list->setColumnCount(EventRow::columnCount);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFrameShape(QFrame::Box);
    QStringList captions;
    for (const Column& column : columns)
        captions.append(QString::fromLatin1(column.caption));
    m_list->setHeaderLabels(captions);
    // The narrow address columns are narrower than the style's default minimum.
    m_list->header()->setMinimumSectionSize(Twips::toPixels(200, this));
    for (int i = 0; i < EventRow::columnCount; ++i)
        m_list->setColumnWidth(i, Twips::toPixels(columns[static_cast<size_t>(i)].twips, this));
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsClickable(true);
    m_list->header()->setSortIndicatorShown(true);
    // Every click sorts ascending on the clicked column.
    connect(m_list->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { m_list->sortItems(column, Qt::AscendingOrder); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { loadForEditing(); });
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &EventsPanel::showListMenu);
    m_list->installEventFilter(this);
}

void EventsPanel::buildEditor()
{
    auto* editor = new QWidget(this);
    auto* grid = new QGridLayout(editor);
    grid->setContentsMargins(0, 6, 0, 0);

    m_device = new QComboBox(editor);
    m_device->setObjectName(QStringLiteral("lst_eventdevice"));
    m_device->setToolTip(QStringLiteral("Select your device from this drop down list"));
    m_device->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_device->setMinimumContentsLength(24);
    auto* deviceLabel = new QLabel(QStringLiteral("&Device:"), editor);
    deviceLabel->setBuddy(m_device);
    grid->addWidget(deviceLabel, 0, 0);
    grid->addWidget(m_device, 0, 1, 1, 4);

    m_hour = new QComboBox(editor);
    m_hour->setObjectName(QStringLiteral("lst_hour"));
    m_hour->setToolTip(QStringLiteral("24 hour mode, select the hour from this list"));
    m_hour->addItems(hourItems());
    m_minute = new QComboBox(editor);
    m_minute->setObjectName(QStringLiteral("lst_min"));
    m_minute->setToolTip(QStringLiteral("Select the minute from this ilst"));
    m_minute->addItems(minuteItems());
    connect(m_hour, &QComboBox::activated, this,
            [this](int index) { hourChosen(m_hour->itemText(index)); });
    auto* timeLabel = new QLabel(QStringLiteral("&Time:"), editor);
    timeLabel->setBuddy(m_hour);
    grid->addWidget(timeLabel, 1, 0);
    grid->addWidget(m_hour, 1, 1);
    grid->addWidget(m_minute, 1, 2);

    m_action = new QComboBox(editor);
    m_action->setObjectName(QStringLiteral("lst_action"));
    m_action->setToolTip(QStringLiteral("Choose either on or off as your command"));
    m_action->addItems({QStringLiteral("on"), QStringLiteral("off")});
    m_dimLabel = new QLabel(QStringLiteral("and D&im to"), editor);
    m_dimLabel->setObjectName(QStringLiteral("Label29"));
    m_dim = new QComboBox(editor);
    m_dim->setObjectName(QStringLiteral("lst_dim"));
    m_dim->setToolTip(QStringLiteral("Choose the dim level. This has NO effect on appliance "
                                     "modules that don't support dimming"));
    m_dim->addItems(dimItems());
    m_dim->setCurrentText(QStringLiteral("100%"));
    m_dimLabel->setBuddy(m_dim);
    connect(m_action, &QComboBox::currentTextChanged, this, &EventsPanel::actionChanged);
    auto* actionLabel = new QLabel(QStringLiteral("&Action:"), editor);
    actionLabel->setBuddy(m_action);
    grid->addWidget(actionLabel, 2, 0);
    grid->addWidget(m_action, 2, 1);
    grid->addWidget(m_dimLabel, 2, 2, Qt::AlignRight);
    grid->addWidget(m_dim, 2, 3);

    m_freq = new QComboBox(editor);
    m_freq->setObjectName(QStringLiteral("lst_freq"));
    m_freq->addItems({QStringLiteral("once"), QStringLiteral("daily")});
    m_freq->setCurrentText(QStringLiteral("daily"));
    auto* freqLabel = new QLabel(QStringLiteral("Fre&quency"), editor);
    freqLabel->setBuddy(m_freq);
    grid->addWidget(freqLabel, 3, 0);
    grid->addWidget(m_freq, 3, 1);

    auto* daysBox = new QGroupBox(QStringLiteral("Days of the &week"), editor);
    auto* daysLayout = new QHBoxLayout(daysBox);
    for (size_t i = 0; i < m_days.size(); ++i) {
        m_days[i] = new QCheckBox(QString::fromLatin1(dayNames[i]), daysBox);
        m_days[i]->setObjectName(QStringLiteral("days_%1").arg(i));
        m_days[i]->setChecked(true);
        daysLayout->addWidget(m_days[i]);
    }
    grid->addWidget(daysBox, 4, 0, 1, 5);

    m_new = new QPushButton(QStringLiteral("&New"), editor);
    m_new->setObjectName(QStringLiteral("Command5"));
    m_new->setToolTip(QStringLiteral("Click here to create a new event"));
    m_save = new QPushButton(QStringLiteral("&Save"), editor);
    m_save->setObjectName(QStringLiteral("Command6"));
    m_save->setToolTip(QStringLiteral("Click here to save this event"));
    setButtonsBold(true, true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_new);
    buttons->addWidget(m_save);
    buttons->addStretch(1);
    grid->addLayout(buttons, 5, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    layout()->addWidget(editor);

    connect(m_new, &QPushButton::clicked, this, &EventsPanel::newEvent);
    connect(m_save, &QPushButton::clicked, this, [this] { m_core.launch(save()); });
}

void EventsPanel::setDevices(const QStringList& lines)
{
    m_device->clear();
    m_device->addItems(lines);
    m_device->setCurrentIndex(static_cast<int>(lines.size()) - 1);
}

void EventsPanel::setRows(const QList<EventRecord>& rows)
{
    // Sorting stays off (the view's own sorting would flip to descending on a
    // second click); rows are sorted explicitly, after a load and per click.
    m_list->clear();
    for (const EventRecord& event : rows)
        m_list->addTopLevelItem(new EventRow(event));
    m_list->sortItems(0, Qt::AscendingOrder);
}

int EventsPanel::rowCount() const
{
    return m_list->topLevelItemCount();
}

void EventsPanel::showCurrentTime()
{
    const QTime now = Clock::instance().now().time();
    setHour(now.toString(QStringLiteral("HH")));
    setMinute(now.toString(QStringLiteral("mm")));
}

void EventsPanel::setHour(const QString& hour, bool refill)
{
    // The minute list follows the hour: offsets for sunrise and sunset,
    // minutes otherwise.
    const bool sun = hour == sRise || hour == sSet;
    if (refill || sun != m_sunMinutes || m_minute->count() == 0) {
        m_minute->clear();
        m_minute->addItems(sun ? offsetItems() : minuteItems());
        m_sunMinutes = sun;
    }
    selectText(m_hour, hour);
}

void EventsPanel::setMinute(const QString& minute)
{
    selectText(m_minute, minute);
}

void EventsPanel::hourChosen(const QString& hour)
{
    setHour(hour, true);
    setMinute(QStringLiteral("00"));
    if (hour == sRise)
        m_core.launch(sunNotice(QStringLiteral("Sunrise")));
    else if (hour == sSet)
        m_core.launch(sunNotice(QStringLiteral("Sunset")));
}

QCoro::Task<> EventsPanel::sunNotice(QString which)
{
    const QString crlf = QStringLiteral("\r\n");
    co_await m_core.prompts.message(
        QStringLiteral("You have selected ") + which + crlf + crlf +
            QStringLiteral("You may now select an offset time") + crlf +
            QStringLiteral("using the Minute selector.") + crlf + crlf +
            QStringLiteral("You can offset ") + which + QStringLiteral(" by 3 hours either") +
            crlf + QStringLiteral("before or after actual ") + which.toLower() +
            QLatin1Char('.'),
        QStringLiteral("Please read"), Prompts::Icon::Information);
}

void EventsPanel::actionChanged(const QString& action)
{
    const bool dims = action != QLatin1String("off");
    m_dimLabel->setVisible(dims);
    m_dim->setVisible(dims);
}

void EventsPanel::setButtonsBold(bool saveBold, bool newBold)
{
    QFont font = m_save->font();
    font.setBold(saveBold);
    m_save->setFont(font);
    font = m_new->font();
    font.setBold(newBold);
    m_new->setFont(font);
}

void EventsPanel::setLocked(bool locked)
{
    m_list->setEnabled(!locked);
    Q_EMIT lockChanged(locked);
}

QStringList EventsPanel::selectedRow() const
{
    const auto* row = dynamic_cast<const EventRow*>(m_list->currentItem());
    return row ? row->texts() : QStringList();
}

void EventsPanel::loadForEditing()
{
    const auto event = EventRecord::fromRow(selectedRow());
    if (!event)
        return;
    setLocked(true);
    m_flashsave.start(flashMs);
    setButtonsBold(true, false);
    m_editing = *event;

    const EventEditor::Selection s = EventEditor::fromRecord(*event);
    selectText(m_device, s.deviceText);
    selectText(m_action, s.action);
    setHour(s.hour);
    setMinute(s.minute);
    // An "off" event has no level; the dim selector keeps its choice.
    if (s.action != QLatin1String("off"))
        selectText(m_dim, s.dimText);
    selectText(m_freq, s.freq);
    for (size_t i = 0; i < m_days.size(); ++i)
        m_days[i]->setChecked(s.days[i]);
}

void EventsPanel::newEvent()
{
    m_action->setCurrentText(QStringLiteral("on"));
    m_dim->setCurrentText(QStringLiteral("100%"));
    m_freq->setCurrentText(QStringLiteral("daily"));
    for (QCheckBox* day : m_days)
        day->setChecked(true);
    // New starts a new event: the one loaded for editing is left alone, so
    // the next Save cannot remove it behind the user's back.
    endEditing();
    showCurrentTime();
}

void EventsPanel::endEditing()
{
    m_editing.reset();
    m_flashsave.stop();
    setButtonsBold(true, true);
    setLocked(false);
}

EventEditor::Selection EventsPanel::selection() const
{
    EventEditor::Selection s;
    s.deviceText = m_device->currentText();
    s.hour = m_hour->currentText();
    s.minute = m_minute->currentText();
    s.action = m_action->currentText();
    s.dimText = m_dim->currentText();
    s.freq = m_freq->currentText();
    for (size_t i = 0; i < m_days.size(); ++i)
        s.days[i] = m_days[i]->isChecked();
    return s;
}

QCoro::Task<> EventsPanel::save()
{
    QPointer<EventsPanel> self(this);
    RoomView& view = m_core.view;
    view.setBusy(true);
    const auto outcome = co_await m_core.eventEditor.save(selection(), m_editing);
    view.setBusy(false);
    if (!self)
        co_return;
    if (outcome == EventEditor::Outcome::Saved) {
        endEditing();
        Q_EMIT listChanged();
    } else if (outcome == EventEditor::Outcome::Failed) {
        // The list is as it was; the edit stays under way so it can be saved again.
        co_await m_core.prompts.message(
            QStringLiteral("Your event could not be saved; the event list was not changed."),
            QStringLiteral("Error"), Prompts::Icon::Critical);
    }
}

QCoro::Task<> EventsPanel::deleteevent(int key)
{
    QPointer<EventsPanel> self(this);
    const auto outcome =
        co_await m_core.eventEditor.deleteevent(key, rowCount(), selectedRow());
    if (self && outcome == EventEditor::Outcome::Deleted)
        Q_EMIT listChanged();
}

QCoro::Task<> EventsPanel::runeventnow()
{
    co_await m_core.scheduler.runeventnow(rowCount(), selectedRow());
}

void EventsPanel::showListMenu(const QPoint& pos)
{
    if (QTreeWidgetItem* item = m_list->itemAt(pos))
        m_list->setCurrentItem(item);
    // popup(), not exec(): no nested event loop. The menu deletes itself.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* remove = menu->addAction(QStringLiteral("Delete this event"));
    remove->setObjectName(QStringLiteral("mnu_delevent"));
    QAction* add = menu->addAction(QStringLiteral("Add New Event"));
    add->setObjectName(QStringLiteral("mnu_newevent"));
    QAction* run = menu->addAction(QStringLiteral("Run this event now"));
    run->setObjectName(QStringLiteral("mnu_runeventnow"));
    connect(remove, &QAction::triggered, this, [this] { m_core.launch(deleteevent(4)); });
    connect(add, &QAction::triggered, this, &EventsPanel::newEvent);
    connect(run, &QAction::triggered, this, [this] { m_core.launch(runeventnow()); });
    menu->popup(m_list->viewport()->mapToGlobal(pos));
}

bool EventsPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Enter edits the chosen event, as a double click does.
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (m_list->currentItem())
                loadForEditing();
            return true;
        }
        // Every typed character goes to the delete, which acts on Ctrl+D
        // only; keys that type nothing (arrows, Page Down) move as usual.
        int code = 0;
        if ((key->modifiers() & Qt::ControlModifier) && key->key() == Qt::Key_D)
            code = EventEditor::deleteKey;
        else if (!key->text().isEmpty())
            code = key->text().at(0).unicode();
        if (code != 0) {
            m_core.launch(deleteevent(code));
            return code == EventEditor::deleteKey;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace casalux
