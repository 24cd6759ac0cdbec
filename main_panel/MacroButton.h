#pragma once

#include <QPushButton>

// One of the 48 macro buttons; the panel shows the caption of the macro set's button on it. It acts
// only on the release of a mouse button that was pressed over it, so it reports releases instead
// of clicks: a release after the pointer left the button still counts, and the keyboard sends
// nothing.
class MacroButton : public QPushButton
{
    Q_OBJECT
public:
    // Mouse buttons as mouseUp reports them.
    enum Button
    {
        Left = 1,
        Right = 2,
        Middle = 4
    };

    MacroButton(int index, QWidget* parent);

    int index() const { return m_index; }

Q_SIGNALS:
    void mouseUp(int index, int button);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_index;
};
