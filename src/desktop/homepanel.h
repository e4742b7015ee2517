#pragma once

#include <QWidget>

class QLabel;

namespace casalux {

// The home panel: links to the other panels, to the interface search and the
// manual port, and today's sunrise and sunset.
class HomePanel final : public QWidget {
    Q_OBJECT

public:
    explicit HomePanel(QWidget* parent = nullptr);

    void setSunLabel(const QString& text);

Q_SIGNALS:
    void addRoomRequested();
    void addDeviceRequested();
    void eventsRequested();
    void autodetectRequested();
    void manualPortRequested();

private:
    QLabel* m_sun = nullptr;
};

} // namespace casalux
