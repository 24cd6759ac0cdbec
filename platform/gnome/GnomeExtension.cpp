#include "GnomeExtension.h"

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

// GNOME Shell 45 and later load extensions as modules, 43 and 44 as scripts.
QString formForRunningShell()
{
    const QString version = run(QStringLiteral("gnome-shell"), {QStringLiteral("--version")});
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(\\d+)")).match(version);
    return m.hasMatch() && m.captured(1).toInt() >= 45 ? QStringLiteral("module")
                                                       : QStringLiteral("legacy");
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
    const QString form = formForRunningShell();
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
    // A running shell knows no extension copied after it started: the list of enabled ones is
    // changed for the next login instead.
    bool enabled = false;
    run(QStringLiteral("gnome-extensions"), {QStringLiteral("enable"), uuid()}, &enabled);
    if (!enabled) {
        const QString list = run(QStringLiteral("gsettings"),
                                 {QStringLiteral("get"), QStringLiteral("org.gnome.shell"),
                                  QStringLiteral("enabled-extensions")});
        QStringList uuids;
        for (const QRegularExpressionMatch& m :
             QRegularExpression(QStringLiteral("'([^']*)'")).globalMatch(list))
            uuids << m.captured(1);
        if (!uuids.contains(uuid()))
            uuids << uuid();
        QString value = QStringLiteral("[");
        for (int i = 0; i < uuids.size(); ++i)
            value +=
                (i ? QStringLiteral(", '") : QStringLiteral("'")) + uuids[i] + QLatin1Char('\'');
        value += QLatin1Char(']');
        run(QStringLiteral("gsettings"),
            {QStringLiteral("set"), QStringLiteral("org.gnome.shell"),
             QStringLiteral("enabled-extensions"), value},
            &enabled);
    }
    if (!enabled)
        *error =
            QStringLiteral("cannot enable the extension (gnome-extensions and gsettings failed)");
    return enabled;
}

} // namespace GnomeExtension
