#include "MacroSet.h"

void MacroSet::setCaption(int index, const QString& caption)
{
    m_captions.at(static_cast<size_t>(index)) = caption;
    Q_EMIT buttonChanged(index);
}

void MacroSet::setText(int index, const QString& text)
{
    m_texts.at(static_cast<size_t>(index)) = text;
    Q_EMIT buttonChanged(index);
}

void MacroSet::resetButton(int index)
{
    setCaption(index, QStringLiteral("Number %1").arg(index + 1));
    setText(index, QString::number(index + 1));
}
