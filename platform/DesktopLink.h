#pragma once

#include "Services.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// Keyflare's own connection to a desktop and the typist that types through it, opened on first
// use and, once broken (the desktop restarted, say), opened anew on the next, with a typist of its
// own. Connection has isBroken(); Typist has type(target, chars) and lastError().
template <class Connection, class Typist> class DesktopLink
{
public:
    using Open = std::function<bool(Connection&, QString*)>;
    using MakeTypist = std::function<std::unique_ptr<Typist>(Connection&)>;

    DesktopLink(Open open, MakeTypist makeTypist)
        : m_open(std::move(open)), m_makeTypist(std::move(makeTypist))
    {
    }

    // True when the connection is open, opening it where there is none or it broke; false, with
    // the reason in error, when the desktop cannot be reached.
    bool ensure(QString* error)
    {
        if (m_connection && !m_connection->isBroken())
            return true;
        m_typist.reset();
        m_connection = std::make_unique<Connection>();
        if (!m_open(*m_connection, error)) {
            m_connection.reset();
            return false;
        }
        m_typist = m_makeTypist(*m_connection);
        return true;
    }
    // The open connection, or null where none has been opened or the last open failed.
    Connection* connection() const { return m_connection.get(); }
    // The typist on the open connection, or null where there is none.
    Typist* typist() const { return m_typist.get(); }
    // Types chars into target through the open connection; on a failure error says why.
    Typing type(WindowId target, const std::vector<char32_t>& chars, QString* error)
    {
        const Typing result = m_typist->type(target, chars);
        if (result != Typing::Done)
            *error = m_typist->lastError();
        return result;
    }

private:
    Open m_open;
    MakeTypist m_makeTypist;
    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<Typist> m_typist; // after m_connection: it goes first
};
