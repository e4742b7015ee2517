#pragma once

#include <QString>

namespace casalux {

// The status bar as the core sees it: panel 2 shows activity, panel 3 the
// ready state. The engine passes a sink that drops everything.
class StatusSink {
public:
    static constexpr int Activity = 2;
    static constexpr int Ready = 3;

    virtual ~StatusSink() = default;
    virtual void setStatus(int panel, const QString& text) = 0;
};

class SilentStatus final : public StatusSink {
public:
    void setStatus(int, const QString&) override {}
};

} // namespace casalux
