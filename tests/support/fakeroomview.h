#pragma once

#include "x10/roomview.h"

#include <QStringList>

#include <array>

namespace casalux::test {

// A room view that shows what the test puts in its slots and records every
// picture and slider change as text ("on 2 LoungeLamp", "slider 2 20").
class FakeRoomView final : public RoomView {
public:
    QString room;
    std::array<QString, slotCount> names;
    QStringList changes;
    int busyCalls = 0;
    bool busy = false;

    QString shownRoom() const override { return room; }
    QString slotName(int index) const override { return names.at(index); }
    void setpictureon(int index, const QString& key) override
    {
        changes.append(QStringLiteral("on %1 %2").arg(index).arg(key));
    }
    void setpictureoff(int index, const QString& key) override
    {
        changes.append(QStringLiteral("off %1 %2").arg(index).arg(key));
    }
    void setSliderLevel(int index, int level) override
    {
        changes.append(QStringLiteral("slider %1 %2").arg(index).arg(level));
    }
    void setBusy(bool on) override
    {
        ++busyCalls;
        busy = on;
    }
};

} // namespace casalux::test
