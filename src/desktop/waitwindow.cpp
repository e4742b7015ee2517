#include "waitwindow.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace casalux {

WaitWindow::WaitWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      m_heading(new QLabel(QStringLiteral("Casalux - Starting"), this)),
      m_progress(new QLabel(QStringLiteral("Please Wait"), this)),
      m_skip(new QPushButton(QStringLiteral("Click Here To Skip The Delay"), this))
{
    setObjectName(QStringLiteral("frm_wait"));
    setWindowTitle(QStringLiteral("Please Wait"));
    m_heading->setObjectName(QStringLiteral("lbl_heading"));
    m_progress->setObjectName(QStringLiteral("lbl_progress"));
    m_skip->setObjectName(QStringLiteral("SkipWait"));

    QFont big = m_heading->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    m_heading->setFont(big);
    m_heading->setAlignment(Qt::AlignCenter);
    m_progress->setAlignment(Qt::AlignCenter);
    m_progress->setMinimumWidth(m_progress->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 22);
    // A link, not a button: flat, underlined, pointing hand.
    m_skip->setFlat(true);
    m_skip->setCursor(Qt::PointingHandCursor);
    QFont link = m_skip->font();
    link.setUnderline(true);
    m_skip->setFont(link);
    m_skip->setStyleSheet(QStringLiteral("color: palette(link); border: none;"));
    m_skip->hide();
    connect(m_skip, &QPushButton::clicked, this, &WaitWindow::skipClicked);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    layout->setSpacing(12);
    layout->addWidget(m_heading);
    layout->addWidget(m_progress);
    layout->addWidget(m_skip, 0, Qt::AlignCenter);
}

void WaitWindow::setHeading(const QString& text)
{
    m_heading->setText(text);
}

void WaitWindow::setProgress(const QString& text)
{
    m_progress->setText(text);
}

void WaitWindow::setSkipLinkShown(bool shown)
{
    m_skip->setVisible(shown);
    adjustSize();
}

QString WaitWindow::heading() const
{
    return m_heading->text();
}

QString WaitWindow::progress() const
{
    return m_progress->text();
}

} // namespace casalux
