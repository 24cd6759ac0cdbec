#include "GnomeExtension.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace {
constexpr int kToolMs = 10000;

QString run(const QString& program, const QStringList& args, bool* ok = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool finished = p.waitForFinished(kToolMs);
    if (ok)
        *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The releases of each form, from platform/gnome/extension/shell-versions.txt: "FORM VERSION...",
// oldest form first.
QList<QStringList> forms()
{
    QList<QStringList> out;
    for (const QString& line :
         QStringLiteral(KEYFLARE_GNOME_SHELL_VERSIONS).split(QLatin1Char('|')))
        out << line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return out;
}

int majorOf(const QString& version)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^\\D*(\\d+)")).match(version);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

QStringList enabledList()
{
    const QString list =
        run(QStringLiteral("gsettings"), {QStringLiteral("get"), QStringLiteral("org.gnome.shell"),
                                          QStringLiteral("enabled-extensions")});
    QStringList uuids;
    for (const QRegularExpressionMatch& m :
         QRegularExpression(QStringLiteral("'([^']*)'")).globalMatch(list))
        uuids << m.captured(1);
    return uuids;
}

// Enables extension name: at once where the shell knows it, else from the next login.
bool enable(const QString& name)
{
    bool enabled = false;
    run(QStringLiteral("gnome-extensions"), {QStringLiteral("enable"), name}, &enabled);
    if (enabled)
        return true;
    // A running shell knows no extension copied after it started: the list of enabled ones is
    // changed for the next login instead.
    QStringList uuids = enabledList();
    if (!uuids.contains(name))
        uuids << name;
    QString value = QStringLiteral("[");
    for (int i = 0; i < uuids.size(); ++i)
        value += (i ? QStringLiteral(", '") : QStringLiteral("'")) + uuids[i] + QLatin1Char('\'');
    value += QLatin1Char(']');
    run(QStringLiteral("gsettings"),
        {QStringLiteral("set"), QStringLiteral("org.gnome.shell"),
         QStringLiteral("enabled-extensions"), value},
        &enabled);
    return enabled;
}

bool lists(const QString& file, const QByteArray& line)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) && f.readAll().split('\n').contains(line);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}
} // namespace

namespace GnomeExtension {

QString uuid()
{
    return QStringLiteral("keyflare@keyflare");
}

QString systemUuid(const QString& form)
{
    // The newest form keeps the name users enabled from the start.
    return form == forms().constLast().constFirst()
               ? uuid()
               : QStringLiteral("keyflare-%1@keyflare").arg(form);
}

int runningShellMajor()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.gnome.Shell"), QStringLiteral("ShellVersion")});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, kToolMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    return majorOf(reply.arguments().constFirst().value<QDBusVariant>().variant().toString());
}

QString formFor(int major)
{
    for (const QStringList& form : forms()) {
        if (form.indexOf(QString::number(major)) > 0)
            return form.constFirst();
    }
    return {};
}

QString unsupportedRelease(int major)
{
    const int newest = forms().constLast().constLast().toInt();
    if (major <= newest)
        return {};
    return QStringLiteral("This desktop runs GNOME %1, and this Keyflare does not support it yet: "
                          "it types on GNOME %2 to %3. Nothing is typed here; a newer Keyflare "
                          "brings the support for GNOME %1.")
        .arg(major)
        .arg(forms().constFirst().value(1))
        .arg(newest);
}

bool enableForAllUsers(const QString& exeDir, int major, const QString& executable)
{
    const QString form = formFor(major);
    if (form.isEmpty())
        return false;
    const QString folder = QDir::cleanPath(
        exeDir + QStringLiteral("/../share/gnome-shell/extensions/") + systemUuid(form));
    return QFile::exists(folder + QStringLiteral("/extension.js")) &&
           lists(folder + QStringLiteral("/approved-callers"), executable.toUtf8()) &&
           (enabledList().contains(systemUuid(form)) || enable(systemUuid(form)));
}

bool userCopyLoads(int major)
{
    QFile metadata(userFolder() + QStringLiteral("/metadata.json"));
    return metadata.open(QIODevice::ReadOnly) &&
           metadata.readAll().contains(QStringLiteral("\"%1\"").arg(major).toUtf8());
}

QString userFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/gnome-shell/extensions/") + uuid();
}

bool extensionsTurnedOff()
{
    return run(QStringLiteral("gsettings"),
               {QStringLiteral("get"), QStringLiteral("org.gnome.shell"),
                QStringLiteral("disable-user-extensions")}) == QLatin1String("true");
}

bool approve(const QString& executable)
{
    QFile list(userFolder() + QStringLiteral("/approved-callers"));
    if (!list.exists())
        return false;
    QByteArray lines = list.open(QIODevice::ReadOnly) ? list.readAll() : QByteArray();
    list.close();
    if (lines.split('\n').contains(executable.toUtf8()))
        return true;
    if (!lines.isEmpty() && !lines.endsWith('\n'))
        lines += '\n';
    return writeFile(list.fileName(), lines + executable.toUtf8() + '\n');
}

bool install(const QString& exeDir, const QString& dataDir, const QString& executable,
             QString* error)
{
    const QString form = formFor(runningShellMajor());
    if (form.isEmpty()) {
        *error = QStringLiteral("GNOME Shell did not tell its release");
        return false;
    }
    QString source =
        exeDir + QStringLiteral("/gnome-extension/") + form + QLatin1Char('/') + uuid();
    if (!QFile::exists(source + QStringLiteral("/extension.js")))
        source = dataDir + QStringLiteral("/gnome-extension/") + form + QLatin1Char('/') + uuid();
    const QString target = userFolder();
    if (!QDir().mkpath(target)) {
        *error = QStringLiteral("cannot make the folder %1").arg(target);
        return false;
    }
    for (const char* name : {"extension.js", "metadata.json"}) {
        QFile in(source + QLatin1Char('/') + QLatin1String(name));
        if (!in.open(QIODevice::ReadOnly) ||
            !writeFile(target + QLatin1Char('/') + QLatin1String(name), in.readAll())) {
            *error = QStringLiteral("cannot copy %1 to %2").arg(in.fileName(), target);
            return false;
        }
    }
    if (!QFile::exists(target + QStringLiteral("/approved-callers")) &&
        !writeFile(target + QStringLiteral("/approved-callers"), QByteArray()))
        return false;
    if (!approve(executable)) {
        *error = QStringLiteral("cannot write %1/approved-callers").arg(target);
        return false;
    }
    const bool enabled = enable(uuid());
    if (!enabled)
        *error =
            QStringLiteral("cannot enable the extension (gnome-extensions and gsettings failed)");
    return enabled;
}

} // namespace GnomeExtension
