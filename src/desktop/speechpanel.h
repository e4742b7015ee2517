#pragma once

#include <QWidget>

class QCheckBox;

namespace casalux {

// The reminder of the spoken commands, shown while the user speaks one, and
// the choice whether the microphone listens for them at all.
class SpeechPanel final : public QWidget {
    Q_OBJECT

public:
    explicit SpeechPanel(QWidget* parent = nullptr);

    // Shows the stored choice without reporting a click.
    void showListening(bool on);

Q_SIGNALS:
    void listenClicked(bool ticked);

private:
    QCheckBox* m_listen = nullptr;
};

} // namespace casalux
