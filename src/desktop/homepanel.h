#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;

namespace casalux {

// The home panel: links to the other panels, to the interface search and the
// manual port, today's sunrise and sunset, and the three start-up options.
class HomePanel final : public QWidget {
    Q_OBJECT

public:
    explicit HomePanel(QWidget* parent = nullptr);

    void setSunLabel(const QString& text);
    // Ticks the option boxes as stored, without it counting as a click.
    void setOptions(bool service, bool loadWithWindows, bool delayedStartup);
    bool serviceTicked() const;

Q_SIGNALS:
    // The user clicked an option box into `ticked`.
    void serviceClicked(bool ticked);
    void loadWithWindowsClicked(bool ticked);
    void delayedStartupClicked(bool ticked);
    void addRoomRequested();
    void addDeviceRequested();
    void eventsRequested();
    void autodetectRequested();
    void manualPortRequested();

private:
    QLabel* m_sun = nullptr;
    QCheckBox* m_service = nullptr;
    QCheckBox* m_lww = nullptr;
    QCheckBox* m_startup = nullptr;
};

} // namespace casalux
