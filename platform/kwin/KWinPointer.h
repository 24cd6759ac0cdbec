#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryFile>

// The window under the pointer, which only KWin itself knows: a small KWin script, run over
// D-Bus, looks it up and reports back to this object on the session bus.
class KWinPointer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.keyflare.Pointer")

public:
    KWinPointer();
    ~KWinPointer() override;

    // True when KWin's scripting answers on the session bus.
    bool isAvailable() const { return m_available; }
    // The uuid and caption of the window under the pointer; false when KWin did not answer.
    bool windowUnderPointer(QString* uuid, QString* caption);

public Q_SLOTS:
    // Called by the script.
    Q_SCRIPTABLE void pointed(const QString& uuid, const QString& caption);

private:
    bool m_available = false;
    QString m_service;
    QTemporaryFile m_script;
    bool m_answered = false;
    bool m_busy = false; // a look is under way (the wait lets timers run)
    QString m_uuid;
    QString m_caption;
};
