#include "statuspanels.h"

#include <QLabel>
#include <QStatusBar>

namespace casalux {

StatusPanels::StatusPanels(QStatusBar& bar)
{
    bar.setObjectName(QStringLiteral("Statusbar"));
    for (int i = 0; i < 3; ++i) {
        auto* label = new QLabel(&bar);
        label->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Sunken);
        m_panels[static_cast<size_t>(i)] = label;
    }
    const QFontMetrics metrics = bar.fontMetrics();
    m_panels[0]->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 16);
    m_panels[2]->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("STATUS: Ready")) + 16);
    bar.addWidget(m_panels[0]);
    bar.addWidget(m_panels[1], 1);
    bar.addPermanentWidget(m_panels[2]);
}

void StatusPanels::setStatus(int panel, const QString& text)
{
    if (panel >= 1 && panel <= 3)
        m_panels[static_cast<size_t>(panel - 1)]->setText(text);
}

QString StatusPanels::text(int panel) const
{
    if (panel >= 1 && panel <= 3)
        return m_panels[static_cast<size_t>(panel - 1)]->text();
    return {};
}

} // namespace casalux
