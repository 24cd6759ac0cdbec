#include "MacroButton.h"

#include <QMouseEvent>

MacroButton::MacroButton(int index, QWidget* parent) : QPushButton(parent), m_index(index)
{
    // Keeps the focus where the user was typing (a target title, say); a key press on a macro
    // button would send nothing anyway.
    setFocusPolicy(Qt::NoFocus);
    setAutoDefault(false);
    setAccessibleDescription(QStringLiteral("Left click sends the text; right click edits it"));
}

void MacroButton::mousePressEvent(QMouseEvent* event)
{
    QPushButton::mousePressEvent(event);
    // The right and middle buttons are ours too; without this their press would reach the panel.
    event->accept();
}

void MacroButton::mouseReleaseEvent(QMouseEvent* event)
{
    QPushButton::mouseReleaseEvent(event);
    event->accept();
    int button = 0;
    switch (event->button()) {
    case Qt::LeftButton:
        button = Left;
        break;
    case Qt::RightButton:
        button = Right;
        break;
    case Qt::MiddleButton:
        button = Middle;
        break;
    default:
        return;
    }
    Q_EMIT mouseUp(m_index, button);
}
