#pragma once

#include "DesktopServices.h"
#include "Session.h"
#include "TestFiles.h"

#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class DesktopPlatform;

// The real Keyflare program, run as a portable copy in a folder of its own, with its own
// settings store, so that nothing a test does reaches the user's files.
class KeyflareProgram
{
public:
    // A portable copy; given an installed executable (from the package, unpacked anywhere), an
    // installed copy instead, whose files are kept in the per-user data folder, where putFile()
    // and file() then work.
    explicit KeyflareProgram(const QString& installedExecutable = QString());
    ~KeyflareProgram();

    // Stores settings before the start, as an earlier run would have.
    void storeSettings(const QMap<QString, QString>& values);
    QString storedSetting(const QString& key) const;
    void putFile(const QString& name, const QByteArray& bytes)
    {
        writeFile(m_folder + name, bytes);
    }
    // A macro set whose first buttons hold texts, the others their numbers.
    void putSet(const QString& name, const QStringList& texts)
    {
        putFile(name + ".mcs", macroSetBytes(texts));
    }
    // A title list that holds target, and one macro set whose first buttons hold texts.
    void putTargetAndSet(const QString& target, const QStringList& texts);
    QByteArray file(const QString& name) const { return readFile(m_folder + name); }

    // Starts the program in the test's session and waits until its panel is listed.
    bool start();
    WindowId window() const { return m_window; }
    qint64 pid() const { return m_process.processId(); }
    // Waits until the program waits for events: a click made while it is still busy with the
    // end of a send is ignored, as a user's would be.
    bool waitUntilIdle(int ms = 15000);
    // Waits until the panel has its place and the program waits for events.
    bool waitUntilPlaced(Hand& hand);
    // Waits until the open grabber has looked at the window under the pointer since the pointer
    // last moved.
    bool waitForLook();
    // Waits until the panel is placed, brings it to the front, as a user would, and clicks the
    // middle of a control given by its layout rectangle.
    void clickControl(Hand& hand, QRect units, int button = 1);
    // Clicks macro button number (1 to 48); its button set must be shown.
    void clickMacroButton(Hand& hand, int number, int button = 1);
    // Presses Enter in the program's window titled title (a message box, the grabber).
    bool pressEnterIn(const QString& title);
    // Closes the panel as its close box would; false where the test cannot.
    bool close();
    // Asks the program to end, as the session does at logout (SIGTERM).
    bool terminate();
    // Ends the program abruptly, as a crash or kill -9 does: it tidies nothing up.
    bool kill() { return m_process.kill(), waitForExit(5000); }
    bool waitForExit(int ms = 10000)
    {
        return QTest::qWaitFor([&] { return !isRunning(); }, ms);
    }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode() const;

private:
    // Keyflare's own services, which find and activate the program's windows for the test.
    Platform desktop();

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_executable;
    QString m_folder;
    WindowId m_window = 0;
    std::unique_ptr<DesktopPlatform> m_desktop;
};
