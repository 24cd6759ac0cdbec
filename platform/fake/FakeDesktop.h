#pragma once

#include "../Services.h"
#include "../WindowMatch.h"

#include <QList>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

// Records everything the windows ask of the desktop, and answers as a test tells it to.
class FakeDesktop : public SettingsStore,
                    public ProgramFolder,
                    public EventLoop,
                    public DesktopBackend,
                    public TopmostBand,
                    public Dialogs
{
public:
    FakeDesktop();
    Platform platform();

    // Settings store: the stored values, and every write in order as "key=value".
    QMap<QString, QString> settings;
    QStringList settingsWrites;
    QString read(const QString& key, const QString& defaultValue) override;
    void write(const QString& key, const QString& value) override;

    // Program folder: an empty temporary folder unless a test sets another.
    QTemporaryDir folder;
    QString folderPath;
    QString path() override { return folderPath; }

    // Event loop: each yield processes Qt events, then runs onYield (to act during a yield).
    std::function<void()> onYield;
    void yield() override;

    // Windows that exist, by title, bottom to top, each of the program "fake"; activation matches
    // as the real backend does. setWindowTitles() tells the watchers, as a desktop would.
    QStringList windowTitles;
    void setWindowTitles(const QStringList& titles);
    std::optional<std::vector<CandidateWindow>> windows() override;
    QStringList activated;                       // every title asked for
    QStringList injected;                        // every keystroke string typed
    int failInjectionAt = -1;                    // the index of the injection that fails; -1 none
    Typing injectionFailure = Typing::FocusLost; // how it fails
    WindowId activate(const QString& title) override;
    Typing inject(WindowId target, const QString& keys) override;
    QString unavailable; // set: the desktop reaches no window, for this reason
    QString unavailableReason() const override { return unavailable; }

    // Topmost band: every call, as the window and the state asked for.
    QList<QPair<QWidget*, bool>> topmostCalls;
    void setTopmost(QWidget* window, bool on) override;

    PointedWindow pointed;
    PointedWindow windowUnderPointer() override { return pointed; }

    // Dialogs: answers are taken from the front of the queues; a dialog without a queued answer
    // is recorded in unexpected and answered with its last button.
    QList<int> answers;
    QStringList inputAnswers;
    QStringList messages;
    QList<int> styles;
    QStringList inputPrompts;
    QStringList unexpected;
    int message(const QString& text, int style) override;
    QString input(const QString& prompt, const QString& title, const QString& preset) override;
};
