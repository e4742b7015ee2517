#pragma once

#include <QWidget>

namespace casalux {

// The reminder of the spoken commands, shown while the user speaks one.
class SpeechPanel final : public QWidget {
    Q_OBJECT

public:
    explicit SpeechPanel(QWidget* parent = nullptr);
};

} // namespace casalux
