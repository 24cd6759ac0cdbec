#pragma once

#include <QLineEdit>

// A one-line box whose length limit restrains typing only. Text set by the program (a caption or
// text loaded from a file, say) is kept whole however long it is, and the user may still shorten
// such a text; QLineEdit::setMaxLength would cut it and lose data.
class LimitedLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    LimitedLineEdit(int typingLimit, QWidget* parent);
    int typingLimit() const { return m_limit; }

    // Sets the text whole, past the typing limit too. Hides QLineEdit::setText on purpose.
    void setText(const QString& text);

private:
    friend class TypingLimit;
    int m_limit;
    bool m_settingText = false;
    qsizetype m_acceptedLength = 0;
};
