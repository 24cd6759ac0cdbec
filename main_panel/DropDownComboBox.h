#pragma once

#include <QComboBox>

// An editable combo box that tells apart a pick from its open list and text the user typed: it
// says when its list is about to open, and reports only entries picked in the open list (by mouse
// or keyboard). Typed text is never completed nor taken for an entry: a prefix stays a prefix,
// and leaving the box or pressing Enter picks nothing.
class DropDownComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit DropDownComboBox(QWidget* parent = nullptr);
    void showPopup() override;
    void hidePopup() override;

Q_SIGNALS:
    void droppingDown();
    void picked(int index);

private:
    bool m_listClosing = false;
};
