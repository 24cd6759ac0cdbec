#pragma once

#include <QObject>
#include <QString>
#include <array>

// The 48 macro buttons' captions and texts, and whether they changed since the set was last
// saved. The panel shows it; the editor changes it.
class MacroSet : public QObject
{
    Q_OBJECT
public:
    static constexpr int kButtonCount = 48;

    QString caption(int index) const { return m_captions.at(static_cast<size_t>(index)); }
    QString text(int index) const { return m_texts.at(static_cast<size_t>(index)); }
    void setCaption(int index, const QString& caption);
    void setText(int index, const QString& text);
    // The default of button index (0 to 47): caption "Number k" and text "k", k = index + 1.
    void resetButton(int index);

    // 1 after a change was applied that is not saved yet, else 0.
    int changed() const { return m_changed; }
    void setChanged(int changed) { m_changed = changed; }

Q_SIGNALS:
    void buttonChanged(int index);

private:
    std::array<QString, kButtonCount> m_captions;
    std::array<QString, kButtonCount> m_texts;
    int m_changed = 0;
};
