#pragma once

#include "../Services.h"

#include <QElapsedTimer>
#include <QString>
#include <vector>

struct WlrootsConnection;
struct zwp_virtual_keyboard_v1;

// Types into the active window of a wlroots compositor through a virtual keyboard of Keyflare's
// own, with a keyboard map made for each text, so any character arrives whatever the layout.
class WlrootsTypist
{
public:
    explicit WlrootsTypist(WlrootsConnection& connection);
    ~WlrootsTypist();
    WlrootsTypist(const WlrootsTypist&) = delete;
    WlrootsTypist& operator=(const WlrootsTypist&) = delete;

    // Gives the seat the keyboard ahead of the first send, so that programs have taken it up by
    // then; false when the compositor refuses it.
    bool prepareKeyboard();
    // Types chars (U+000D is Return, U+0009 Tab) into the window target while it stays active.
    Typing type(WindowId target, const std::vector<char32_t>& chars);
    QString lastError() const { return m_lastError; }

private:
    WlrootsConnection& m_connection;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    QElapsedTimer m_keyboardAge;
    QString m_lastError;
};
