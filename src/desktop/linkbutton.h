#pragma once

#include <QPushButton>

namespace casalux {

// A link-like button for the panels' "click here" texts: reads like a link,
// but takes the focus and answers Space like any button.
class LinkButton final : public QPushButton {
    Q_OBJECT

public:
    LinkButton(const QString& objectName, const QString& text, QWidget* parent = nullptr);
};

} // namespace casalux
