#include "KWinLayout.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {
// KWin answers at once; a desktop too busy to answer within this time gets no keys.
constexpr int kAnswerWaitMs = 1000;
} // namespace

std::optional<uint32_t> KWinLayout::active()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.keyboard"), QStringLiteral("/Layouts"),
        QStringLiteral("org.kde.KeyboardLayouts"), QStringLiteral("getLayout"));
    const QDBusMessage answer =
        QDBusConnection::sessionBus().call(call, QDBus::Block, kAnswerWaitMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() != 1)
        return std::nullopt;
    bool ok = false;
    const uint32_t index = answer.arguments().constFirst().toUInt(&ok);
    return ok ? std::optional<uint32_t>(index) : std::nullopt;
}
