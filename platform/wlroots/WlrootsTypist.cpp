#include "WlrootsTypist.h"

#include "../xkb/VirtualKeymap.h"
#include "WlrootsConnection.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QElapsedTimer>
#include <QThread>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {
// A new keyboard gives a seat that had none the keyboard capability; programs then ask for their
// keyboard object, and a key sent before they have it is lost. The keyboard is therefore made
// when Keyflare starts and lives as long as it does (programs under XWayland read its map late,
// too); a send that follows the keyboard's making closely waits for the rest of this time.
constexpr int kNewKeyboardSettleMs = 500;
constexpr uint32_t kShiftMask = 1;

bool uploadKeymap(zwp_virtual_keyboard_v1* keyboard, const QByteArray& text)
{
    const int fd = memfd_create("keyflare-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.constData(), static_cast<size_t>(text.size())) ==
                         static_cast<ssize_t>(text.size());
    if (written)
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<uint32_t>(text.size()));
    close(fd);
    return written;
}
} // namespace

WlrootsTypist::WlrootsTypist(WlrootsConnection& connection) : m_connection(connection)
{
}

WlrootsTypist::~WlrootsTypist()
{
    if (m_keyboard) {
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
        m_connection.flush();
    }
}

Typing WlrootsTypist::type(WindowId id, const std::vector<char32_t>& chars)
{
    Toplevel* target = m_connection.find(id);
    // A round trip, so that a change of the active window made just before is known.
    if (!target || !m_connection.roundtrip() || !target->activated) {
        m_lastError = QStringLiteral("the target window is not active");
        return Typing::FocusLost;
    }
    VirtualKeymap keymap;
    if (!keymap.build(chars)) {
        m_lastError = QStringLiteral("the text holds more than %1 different characters, or one "
                                     "that has no key symbol")
                          .arg(VirtualKeymap::capacity());
        return Typing::Untypable;
    }
    // The map travels to the receiver with the keys, in order: keys typed with an earlier map
    // are read with it, so one keyboard serves every send.
    if (!prepareKeyboard() || !uploadKeymap(m_keyboard, keymap.text()) ||
        !m_connection.roundtrip()) {
        m_lastError = QStringLiteral("cannot hand the keyboard map to the compositor");
        return Typing::Unavailable;
    }
    const qint64 young = kNewKeyboardSettleMs - m_keyboardAge.elapsed();
    if (young > 0)
        QThread::msleep(static_cast<unsigned long>(young));

    QElapsedTimer clock;
    clock.start();
    const auto now = [&] { return static_cast<uint32_t>(clock.elapsed()); };
    Typing result = Typing::Done;
    uint32_t group = ~0u;
    bool shifted = false;
    for (char32_t c : chars) {
        // The user may make another window active while we type. A round trip before every key
        // sends the keys so far and learns what the compositor did before it handled them, so
        // a change can let at most the one key sent meanwhile reach the other window.
        if (!m_connection.roundtrip()) {
            result = Typing::Unavailable;
            break;
        }
        if (!target->activated) {
            m_lastError = QStringLiteral("the target window stopped being the active one");
            result = Typing::FocusLost;
            break;
        }
        const VirtualKey key = keymap.keyFor(c);
        if (key.group != group || key.shifted != shifted) {
            zwp_virtual_keyboard_v1_modifiers(m_keyboard, key.shifted ? kShiftMask : 0, 0, 0,
                                              key.group);
            group = key.group;
            shifted = key.shifted;
        }
        zwp_virtual_keyboard_v1_key(m_keyboard, now(), key.code, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(m_keyboard, now(), key.code, WL_KEYBOARD_KEY_STATE_RELEASED);
    }
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, 0, 0, 0, 0);
    if (!m_connection.roundtrip()) {
        m_lastError = QStringLiteral("the connection to the compositor broke");
        return Typing::Unavailable;
    }
    return result;
}

bool WlrootsTypist::prepareKeyboard()
{
    if (m_keyboard)
        return true;
    // Programs read a keyboard's map as soon as it appears, so it never goes without one.
    VirtualKeymap keymap;
    keymap.build({});
    m_keyboard = m_connection.createKeyboard();
    m_keyboardAge.start();
    return uploadKeymap(m_keyboard, keymap.text()) && m_connection.roundtrip();
}
