#pragma once

#include <QWidget>

#include <qcoro/qcorotask.h>

class QCheckBox;
class QComboBox;

namespace casalux {

class DesktopCore;

// The profiles panel: which set of events is current, and the place whose
// sunrise and sunset the sun-relative events follow.
class ProfilesPanel final : public QWidget {
    Q_OBJECT

public:
    explicit ProfilesPanel(DesktopCore& core, QWidget* parent = nullptr);

    // Shows the stored profile, city and daylight saving choice.
    void showStored();

Q_SIGNALS:
    // Another profile's events are now the current ones.
    void profileSwapped();
    // Today's sunrise and sunset were worked out afresh.
    void sunTimesChanged();

private:
    QCoro::Task<> swapProfile(QString next);
    void chooseCity(const QString& text);
    QCoro::Task<> refuseCity(QString why);

    DesktopCore& m_core;
    QComboBox* m_profile = nullptr;
    QComboBox* m_city = nullptr;
    QCheckBox* m_dst = nullptr;
    bool m_refusingCity = false;
};

} // namespace casalux
