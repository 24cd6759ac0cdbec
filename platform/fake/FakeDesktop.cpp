#include "FakeDesktop.h"

#include <QCoreApplication>

FakeDesktop::FakeDesktop() : folderPath(folder.path() + QLatin1Char('/'))
{
}

Platform FakeDesktop::platform()
{
    return {*this, *this, *this, *this, *this, *this, *this, *this, *this};
}

QString FakeDesktop::read(const QString& key, const QString& defaultValue)
{
    return settings.value(key, defaultValue);
}

void FakeDesktop::write(const QString& key, const QString& value)
{
    settings.insert(key, value);
    settingsWrites << key + QLatin1Char('=') + value;
}

void FakeDesktop::yield()
{
    QCoreApplication::processEvents();
    if (onYield)
        onYield();
}

WindowId FakeDesktop::activate(const QString& title)
{
    activated << title;
    if (!unavailable.isEmpty())
        return 0;
    return chooseTargetWindow(*windows(), title);
}

std::optional<std::vector<CandidateWindow>> FakeDesktop::windows()
{
    if (!unavailable.isEmpty())
        return std::nullopt;
    std::vector<CandidateWindow> out;
    quint32 id = 1;
    for (const QString& t : windowTitles)
        out.push_back({id++, t, false, QStringLiteral("fake")});
    return out;
}

void FakeDesktop::setWindowTitles(const QStringList& titles)
{
    windowTitles = titles;
    m_changes.announce();
}

Typing FakeDesktop::inject(WindowId target, const QString& keys)
{
    const bool fails = injected.size() == failInjectionAt;
    injected << keys;
    if (target == 0)
        return Typing::FocusLost;
    return fails ? injectionFailure : Typing::Done;
}

void FakeDesktop::setTopmost(QWidget* window, bool on)
{
    topmostCalls.append({window, on});
}

int FakeDesktop::message(const QString& text, int style)
{
    messages << text;
    styles << style;
    if (!answers.isEmpty())
        return answers.takeFirst();
    unexpected << text;
    switch (style & 7) {
    case YesNoCancel:
        return Cancel;
    case YesNo:
        return No;
    default:
        return Ok;
    }
}

QString FakeDesktop::input(const QString& prompt, const QString& title, const QString& preset)
{
    Q_UNUSED(title)
    Q_UNUSED(preset)
    inputPrompts << prompt;
    if (!inputAnswers.isEmpty())
        return inputAnswers.takeFirst();
    unexpected << prompt;
    return QString();
}
