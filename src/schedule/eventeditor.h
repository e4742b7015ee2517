#pragma once

#include "eventrecord.h"

#include <QString>

#include <array>
#include <optional>

#include <qcoro/qcorotask.h>

namespace casalux {

class EventList;
class Prompts;
class StatusSink;

// The file side of the event editor panel: turning the selectors into a
// list line, loading a row back into the selectors, saving (a new event, or
// an edited one in place of the event that was loaded) and deleting.
class EventEditor final {
public:
    // What the editor's selectors show.
    struct Selection {
        QString deviceText; // "Lounge Lamp A3"
        QString hour;       // "00".."23", "sRise" or "sSet"
        QString minute;     // "00".."59", or "-3".."+3" after sRise/sSet
        QString action;     // "on" or "off"
        QString dimText;    // "60%"
        QString freq;       // "once" or "daily"
        std::array<bool, 7> days{}; // Monday .. Sunday
    };

    enum class Outcome {
        Saved,     // the line is in the list
        Deleted,
        NotFound,  // the row's line was no longer in the list
        Refused,   // nothing usable to save, or no event to delete; the user was told
        WrongKey,  // a key other than Ctrl+D
        Failed     // the list could not be rewritten; it is as it was
    };

    static constexpr int deleteKey = 4; // Ctrl+D

    // Why a save was refused: no usable device, or texts the list cannot hold.
    static QString noDeviceText();
    static QString unstorableText();

    EventEditor(EventList& events, StatusSink& status, Prompts& prompts);

    // "mtwufsr" letters of the ticked boxes, in that order.
    static QString daysText(const std::array<bool, 7>& days);
    // The list line for the selectors; nothing when the device selector's
    // text does not end in an X10 address, or when a text holds "~", a line
    // break or a character the file cannot store.
    static std::optional<QString> buildLine(const Selection& selection);
    // The selectors for an event loaded for editing.
    static Selection fromRecord(const EventRecord& event);
    // Hour and minute selector values of a time text: "sSet:-2" gives
    // "sSet" and "-2", "07:30" gives "07" and "30".
    static std::pair<QString, QString> splitTime(const QString& time);

    // Save: with `editing` (the event loaded for editing), the first line
    // holding exactly that event is taken out and the new line put at the
    // end of the list, in one rewrite, so no other line (not even one that
    // merely contains the same text) is touched. Without it the line is
    // appended. Holds `filebusy` while it works.
    QCoro::Task<Outcome> save(Selection selection, std::optional<EventRecord> editing);

    // Delete (`deleteevent`): acts on Ctrl+D (key code 4) only, and removes
    // the one line the selected row came from. `eventCount` is the number of
    // rows in the list.
    QCoro::Task<Outcome> deleteevent(int key, int eventCount, QStringList row);

private:
    EventList& m_events;
    StatusSink& m_status;
    Prompts& m_prompts;
};

} // namespace casalux
