#pragma once

#include <QWidget>

class QLineEdit;

namespace casalux {

// "Say a command": a phrase typed instead of spoken ("Cancel Lounge Lamp"),
// handed to the speech character when Enter is pressed.
class SayBox final : public QWidget {
    Q_OBJECT

public:
    explicit SayBox(QWidget* parent = nullptr);

    // Cleared once the phrase was understood; kept (and selected) otherwise,
    // so a mistyped phrase can be mended.
    void setUnderstood(bool understood);

Q_SIGNALS:
    // The user began typing a phrase.
    void speakingStarted();
    void phraseEntered(const QString& phrase);

private:
    QLineEdit* m_edit;
};

} // namespace casalux
