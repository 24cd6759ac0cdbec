#pragma once

#include <QDBusConnection>
#include <QString>

// Reads a running program's widgets as a screen reader does, over the accessibility bus (which
// the session bus starts on demand). The program must have Qt's accessibility on
// (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1).
class ScreenReader
{
public:
    ScreenReader();
    ~ScreenReader();
    // The description of the first widget of program pid whose accessible name is name; empty
    // when there is none (yet). The widget found is read again while it keeps that name: a
    // reader serves one program.
    QString description(qint64 pid, const QString& name);

private:
    QString property(const QString& path, const char* which);

    QDBusConnection m_bus;
    QString m_app;  // the program's connection to the bus
    QString m_path; // the widget found last
};
