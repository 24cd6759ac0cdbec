#include "DesktopServices.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QWidget>
#include <QWindow>

namespace {
const QString kSettingsGroup = QStringLiteral("Settings");
const QString kAppName = QStringLiteral("Keyflare");

QString withSlash(const QString& dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}
} // namespace

QtSettingsStore::QtSettingsStore()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, kAppName, kAppName)
{
}

QString QtSettingsStore::read(const QString& key, const QString& defaultValue)
{
    const QVariant v = m_settings.value(kSettingsGroup + QLatin1Char('/') + key);
    return v.isValid() ? v.toString() : defaultValue;
}

void QtSettingsStore::write(const QString& key, const QString& value)
{
    m_settings.setValue(kSettingsGroup + QLatin1Char('/') + key, value);
    m_settings.sync();
}

ExecutableFolder::ExecutableFolder(QString installedBinDir)
    : m_installedBinDir(std::move(installedBinDir))
{
}

QString ExecutableFolder::choose(const QString& exeDir, const QString& installedBinDir,
                                 const QString& userDataDir)
{
    const QString exe = QFileInfo(exeDir).canonicalFilePath();
    const QString installed = QFileInfo(installedBinDir).canonicalFilePath();
    const bool systemFolder = exe.startsWith(QLatin1String("/usr/")) ||
                              exe.startsWith(QLatin1String("/opt/")) ||
                              exe == QLatin1String("/bin") || exe == QLatin1String("/sbin");
    // An install tree, wherever its prefix: the desktop entry stands beside the program.
    const bool installTree =
        QFileInfo::exists(exe + QLatin1String("/../share/applications/keyflare.desktop"));
    if (exe.isEmpty() || systemFolder || installTree || !QFileInfo(exe).isWritable() ||
        (!installed.isEmpty() && exe == installed))
        return withSlash(userDataDir);
    return withSlash(exe);
}

QString ExecutableFolder::path()
{
    if (m_path.isEmpty()) {
        const QString userData =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QLatin1Char('/') + kAppName;
        m_path = choose(QCoreApplication::applicationDirPath(), m_installedBinDir, userData);
    }
    QDir().mkpath(m_path);
    return m_path;
}

void QtEventLoop::yield()
{
    QCoreApplication::processEvents();
}

int QtDialogs::message(const QString& text, int style)
{
    // A program without windows (a test, a tool) cannot ask: the text goes to its error output,
    // and the answer is the one Escape gives, so that nothing waits for a user.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        qWarning("%s", qPrintable(text));
        const int kind = style & 7;
        return kind == YesNoCancel ? Cancel : kind == YesNo ? No : Ok;
    }
    // The session's log keeps what the user was told, for when they report it.
    qInfo("%s", qPrintable(text));
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(kAppName);
    box.setText(text);
    const int icon = style & (Question | Exclamation);
    box.setIcon(icon == Question      ? QMessageBox::Question
                : icon == Exclamation ? QMessageBox::Warning
                                      : QMessageBox::NoIcon);
    struct Choice
    {
        QMessageBox::StandardButton button;
        int answer;
    };
    QList<Choice> choices;
    switch (style & 7) {
    case YesNoCancel:
        choices = {{QMessageBox::Yes, Yes}, {QMessageBox::No, No}, {QMessageBox::Cancel, Cancel}};
        break;
    case YesNo:
        choices = {{QMessageBox::Yes, Yes}, {QMessageBox::No, No}};
        break;
    default:
        choices = {{QMessageBox::Ok, Ok}};
        break;
    }
    for (const Choice& c : choices)
        box.addButton(c.button);
    box.setDefaultButton(choices.first().button);
    // Escape and the close box give the last button's answer (No or Cancel), as the user expects.
    box.setEscapeButton(choices.last().button);
    const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const Choice& c : choices) {
        if (c.button == pressed)
            return c.answer;
    }
    return choices.last().answer;
}

QString QtDialogs::input(const QString& prompt, const QString& title, const QString& preset)
{
    bool ok = false;
    const QString text = QInputDialog::getText(QApplication::activeWindow(), title, prompt,
                                               QLineEdit::Normal, preset, &ok);
    return ok ? text : QString();
}

void QtTopmostBand::setTopmost(QWidget* window, bool on)
{
    // The widget's own flags are what Qt applies when the window is shown again; the native
    // window's flag is what the window manager sees now.
    window->overrideWindowFlags(on ? window->windowFlags() | Qt::WindowStaysOnTopHint
                                   : window->windowFlags() & ~Qt::WindowStaysOnTopHint);
    window->winId();
    if (QWindow* handle = window->windowHandle())
        handle->setFlag(Qt::WindowStaysOnTopHint, on);
}
