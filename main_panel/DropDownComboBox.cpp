#include "DropDownComboBox.h"

#include <QTimer>

DropDownComboBox::DropDownComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    // The completer would finish a typed prefix with a listed entry, change its letter case, and
    // report it as activated when the box loses the focus.
    setCompleter(nullptr);
    // Typing a text and pressing Enter must not add it to the list; the lists change only
    // through their own commands.
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (m_listClosing) {
            m_listClosing = false;
            Q_EMIT picked(index);
        }
    });
}

void DropDownComboBox::showPopup()
{
    Q_EMIT droppingDown();
    QComboBox::showPopup();
}

void DropDownComboBox::hidePopup()
{
    // A pick in the list closes the list and then reports the entry as activated, within the
    // same call; any other activation (Enter, leaving the box, arrow keys) is no pick.
    m_listClosing = true;
    QComboBox::hidePopup();
    QTimer::singleShot(0, this, [this] { m_listClosing = false; });
}
