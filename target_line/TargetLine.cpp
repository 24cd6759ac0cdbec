#include "TargetLine.h"

TargetLine::TargetLine(WindowList& windows, QWidget* parent) : QLabel(parent), m_windows(windows)
{
    setAccessibleName(QStringLiteral("Receiving window"));
    setTextFormat(Qt::PlainText);
    connect(&m_windows.changes(), &WindowChanges::changed, this, &TargetLine::refresh);
}

void TargetLine::setTitle(const QString& title)
{
    m_title = title;
    refresh();
}

void TargetLine::refresh()
{
    m_wording = m_title.trimmed().isEmpty() ? TargetWording()
                                            : describeTarget(m_title, m_windows.windows());
    showWording();
}

void TargetLine::showWording()
{
    setText(fontMetrics().elidedText(m_wording.shortText, Qt::ElideRight, width()));
    setToolTip(m_wording.detail);
    setAccessibleDescription(m_wording.detail);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, m_wording.found || m_wording.shortText.isEmpty()
                                           ? QPalette().color(QPalette::WindowText)
                                           : QColor(0x9b, 0x1c, 0x1c));
    setPalette(pal);
}

void TargetLine::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    showWording();
}
