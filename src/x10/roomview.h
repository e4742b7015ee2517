#pragma once

#include <QString>

namespace casalux {

// The room view as the device operations see it: the room it shows and ten
// device slots with a name, a picture and a brightness slider. The main
// window implements it; the engine has none.
class RoomView {
public:
    static constexpr int slotCount = 10;

    virtual ~RoomView() = default;

    // The room whose devices fill the slots, empty when none does. Not the
    // tree's current node: arrow keys and the pop-up menu move that without
    // changing what the slots show, and a click must switch what it shows.
    virtual QString shownRoom() const = 0;
    // The caption of name label `index` (empty when the slot is unused).
    virtual QString slotName(int index) const = 0;
    virtual void setpictureon(int index, const QString& deviceKey) = 0;
    virtual void setpictureoff(int index, const QString& deviceKey) = 0;
    // Moves slider `index` without it counting as the user's move.
    virtual void setSliderLevel(int index, int level) = 0;
    // Input disabled and the busy pointer shown while a click is handled.
    virtual void setBusy(bool busy) = 0;

    // The first slot showing a device of this name, or -1.
    int slotOf(const QString& deviceName) const
    {
        for (int i = 0; i < slotCount; ++i) {
            if (slotName(i) == deviceName)
                return i;
        }
        return -1;
    }
};

} // namespace casalux
