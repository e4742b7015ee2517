#pragma once

#include "platform/statussink.h"

#include <QList>
#include <QStringList>

namespace casalux::test {

// A status bar that remembers every text shown, panel by panel.
class RecordingStatus final : public StatusSink {
public:
    void setStatus(int panel, const QString& text) override
    {
        (panel == Ready ? ready : activity).append(text);
    }
    void clear()
    {
        activity.clear();
        ready.clear();
    }

    QStringList activity;
    QStringList ready;
};

} // namespace casalux::test
