#pragma once

#include "../Services.h"

#include <QString>
#include <memory>
#include <vector>

class KWinClipboard;
class KWinConnection;

// Types into the active window under KWin through its fake input, with the keys of the layout in
// force for the target. What that layout lacks goes as keysyms, which KWin maps itself, where
// its fake input has them (version 6); elsewhere it is pasted through the clipboard, which
// KWinClipboard keeps for the user meanwhile.
class KWinTypist
{
public:
    explicit KWinTypist(KWinConnection& connection);
    ~KWinTypist();
    KWinTypist(const KWinTypist&) = delete;
    KWinTypist& operator=(const KWinTypist&) = delete;

    // Types chars (U+000D is Return, U+0009 Tab) into the window target while it stays active:
    // planned whole before the first key, typed exactly or not at all.
    Typing type(WindowId target, const std::vector<char32_t>& chars);
    QString lastError() const { return m_lastError; }

private:
    KWinConnection* m_connection;
    std::unique_ptr<KWinClipboard> m_clipboard;
    bool m_authenticated = false;
    QString m_lastError;
};
