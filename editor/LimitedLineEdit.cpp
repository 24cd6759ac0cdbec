#include "LimitedLineEdit.h"

#include <QValidator>

// Refuses an edit that would grow the text past the limit or break it into lines; an edit that
// keeps or shrinks an over-long text is let through, and so is all text the program sets.
class TypingLimit : public QValidator
{
public:
    explicit TypingLimit(LimitedLineEdit* edit) : QValidator(edit), m_edit(edit) {}

    State validate(QString& input, int&) const override
    {
        if (m_edit->m_settingText) {
            m_edit->m_acceptedLength = input.size();
            return Acceptable;
        }
        if (input.contains(QLatin1Char('\n')) || input.contains(QLatin1Char('\r')))
            return Invalid;
        // The box already holds the edited text when this runs, so compare with the length it
        // last accepted.
        if (input.size() > m_edit->m_limit && input.size() > m_edit->m_acceptedLength)
            return Invalid;
        m_edit->m_acceptedLength = input.size();
        return Acceptable;
    }

private:
    LimitedLineEdit* m_edit;
};

LimitedLineEdit::LimitedLineEdit(int typingLimit, QWidget* parent)
    : QLineEdit(parent), m_limit(typingLimit)
{
    setValidator(new TypingLimit(this));
}

void LimitedLineEdit::setText(const QString& text)
{
    m_settingText = true;
    QLineEdit::setText(text);
    m_settingText = false;
    m_acceptedLength = text.size();
}
