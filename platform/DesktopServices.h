#pragma once

#include "Services.h"

#include <QSettings>

// Services that Qt itself provides on every desktop.

class QtSettingsStore : public SettingsStore
{
public:
    QtSettingsStore();
    QString read(const QString& key, const QString& defaultValue) override;
    void write(const QString& key, const QString& value) override;

private:
    QSettings m_settings;
};

// A copy run where it was built or unpacked keeps its files beside the executable; an installed
// copy keeps them in the per-user data folder, so Keyflare never writes into a system folder.
class ExecutableFolder : public ProgramFolder
{
public:
    explicit ExecutableFolder(QString installedBinDir);
    QString path() override;

    // The folder for an executable in exeDir; userDataDir is used for an installed copy.
    static QString choose(const QString& exeDir, const QString& installedBinDir,
                          const QString& userDataDir);

private:
    QString m_installedBinDir;
    QString m_path;
};

class QtEventLoop : public EventLoop
{
public:
    void yield() override;
};

class QtDialogs : public Dialogs
{
public:
    int message(const QString& text, int style) override;
    QString input(const QString& prompt, const QString& title, const QString& preset) override;
};

// Uses the window manager hint that Qt keeps for a window, so the band follows the window across
// hiding and showing.
class QtTopmostBand : public TopmostBand
{
public:
    void setTopmost(QWidget* window, bool on) override;
};
