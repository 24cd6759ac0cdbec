#include "KWinLayout.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {
// KWin answers at once; a desktop too busy to answer within this time gets no keys.
constexpr int kAnswerWaitMs = 1000;

// KWin's answer to a call of its keyboard service: its one value, or an invalid one.
QVariant ask(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.keyboard"), QStringLiteral("/Layouts"),
        QStringLiteral("org.kde.KeyboardLayouts"), method);
    call.setArguments(arguments);
    const QDBusMessage answer =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kAnswerWaitMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() != 1)
        return {};
    return answer.arguments().constFirst();
}
} // namespace

std::optional<uint32_t> KWinLayout::active()
{
    bool ok = false;
    const uint32_t index = ask(QStringLiteral("getLayout")).toUInt(&ok);
    return ok ? std::optional<uint32_t>(index) : std::nullopt;
}

bool KWinLayout::select(uint32_t index)
{
    return ask(QStringLiteral("setLayout"), {QVariant::fromValue(index)}).toBool();
}
