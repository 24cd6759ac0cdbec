#pragma once

#include "TargetWording.h"

#include <QLabel>

class WindowList;

// A one-line label that names the window a click would type into for a target title, kept up to
// date as the title and the desktop's windows change; its tooltip and accessible description
// hold the whole of it.
class TargetLine : public QLabel
{
    Q_OBJECT
public:
    TargetLine(WindowList& windows, QWidget* parent);

    // Names what title would match now, and from now on.
    void setTitle(const QString& title);
    const TargetWording& wording() const { return m_wording; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lists the windows and words the match anew.
    void refresh();
    void showWording();

    WindowList& m_windows;
    QString m_title;
    TargetWording m_wording;
};
