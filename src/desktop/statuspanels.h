#pragma once

#include "platform/statussink.h"

#include <array>

class QLabel;
class QStatusBar;

namespace casalux {

// The window's status bar as the core writes to it: panel 1 the clock,
// 2 activity, 3 the interface's state.
class StatusPanels final : public StatusSink {
public:
    explicit StatusPanels(QStatusBar& bar);

    void setStatus(int panel, const QString& text) override;
    QString text(int panel) const;

private:
    std::array<QLabel*, 3> m_panels{};
};

} // namespace casalux
