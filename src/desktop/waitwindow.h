#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace casalux {

// "Please Wait": shown while the program loads and while it closes, with a
// heading, a progress line and, during a delayed start, a link that skips
// the delay.
class WaitWindow final : public QWidget {
    Q_OBJECT

public:
    explicit WaitWindow(QWidget* parent = nullptr);

    void setHeading(const QString& text);
    void setProgress(const QString& text);
    void setSkipLinkShown(bool shown);

    QString heading() const;
    QString progress() const;

Q_SIGNALS:
    void skipClicked();

private:
    QLabel* m_heading;
    QLabel* m_progress;
    QPushButton* m_skip;
};

} // namespace casalux
