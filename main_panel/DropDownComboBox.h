#pragma once

#include <QComboBox>

// A combo box that says when its list is about to open, before it opens.
class DropDownComboBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override
    {
        Q_EMIT droppingDown();
        QComboBox::showPopup();
    }

Q_SIGNALS:
    void droppingDown();
};
