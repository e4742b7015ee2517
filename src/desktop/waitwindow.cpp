#include "waitwindow.h"

#include "linkbutton.h"
#include "panelparts.h"

#include <QLabel>
#include <QVBoxLayout>

namespace casalux {

WaitWindow::WaitWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      m_heading(panelTitle(QStringLiteral("Casalux - Starting"), this, 1.4)),
      m_progress(new QLabel(QStringLiteral("Please Wait"), this)),
      m_skip(new LinkButton(QStringLiteral("SkipWait"), QStringLiteral("Click Here To Skip The Delay"),
                            this))
{
    setObjectName(QStringLiteral("frm_wait"));
    setWindowTitle(QStringLiteral("Please Wait"));
    m_heading->setObjectName(QStringLiteral("lbl_heading"));
    m_progress->setObjectName(QStringLiteral("lbl_progress"));

    m_heading->setAlignment(Qt::AlignCenter);
    m_progress->setAlignment(Qt::AlignCenter);
    m_progress->setMinimumWidth(m_progress->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 22);
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
