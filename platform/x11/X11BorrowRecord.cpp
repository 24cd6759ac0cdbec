// The record is a property of the root window, a list of entries (owner, keycode, count, that
// many keysyms); the owner is a window of its program, marked as such, which the X server
// destroys when the program's connection ends (owner 0 is no one). An entry whose owner is gone,
// and whose keycode still holds what the entry says, is taken over by the next program that
// types: it then types with those keycodes and gives them back as its own.
#include "X11BorrowRecord.h"

#include "../xkb/KeyPacking.h"
#include "X11Connection.h"

#include <cstring>
#include <map>
#include <unistd.h>

namespace {
struct OwnedEntry
{
    uint32_t owner;
    X11BorrowRecord::Entry entry;
};

std::vector<OwnedEntry> parse(const QByteArray& bytes)
{
    std::vector<OwnedEntry> out;
    std::vector<uint32_t> words(static_cast<size_t>(bytes.size()) / 4);
    if (!words.empty())
        std::memcpy(words.data(), bytes.constData(), words.size() * 4);
    for (size_t i = 0; i + 3 <= words.size();) {
        const uint32_t count = words[i + 2];
        if ((count != KeyPacking::kColumns &&
             count != KeyPacking::kGroups * KeyPacking::kWideLevels) ||
            words[i + 1] > 255 || i + 3 + count > words.size())
            break; // not written by us: nothing after it can be trusted either
        out.push_back(
            {words[i],
             {static_cast<uint8_t>(words[i + 1]),
              std::vector<uint32_t>(words.begin() + static_cast<std::ptrdiff_t>(i + 3),
                                    words.begin() + static_cast<std::ptrdiff_t>(i + 3 + count))}});
        i += 3 + count;
    }
    return out;
}

void append(std::vector<uint32_t>* words, uint32_t owner, const X11BorrowRecord::Entry& e)
{
    words->insert(words->end(), {owner, e.keycode, static_cast<uint32_t>(e.syms.size())});
    words->insert(words->end(), e.syms.begin(), e.syms.end());
}
} // namespace

X11BorrowRecord::X11BorrowRecord(X11Connection& connection) : m_x(connection)
{
}

void X11BorrowRecord::markOwner()
{
    m_recordAtom = m_x.intern("_KEYFLARE_BORROWED_KEYS");
    m_ownerAtom = m_x.intern("_KEYFLARE_BORROWER");
    if (m_recordAtom == XCB_NONE || m_ownerAtom == XCB_NONE)
        return;
    // The server hands a window number out again once its program is gone. Entries under our
    // number are then a former program's, which every other program would take for ours, alive:
    // before we mark the number, they are given to no one (owner 0), for the next program that
    // types to take over.
    m_x.grabServer();
    const xcb_window_t self = m_x.helper();
    std::vector<OwnedEntry> entries =
        parse(m_x.property(m_x.root(), m_recordAtom, XCB_ATOM_CARDINAL));
    bool formerOwner = false;
    for (OwnedEntry& e : entries) {
        if (e.owner == self) {
            e.owner = XCB_NONE;
            formerOwner = true;
        }
    }
    if (formerOwner) {
        std::vector<uint32_t> words;
        for (const OwnedEntry& e : entries)
            append(&words, e.owner, e.entry);
        write(words);
    }
    const uint32_t pid = static_cast<uint32_t>(getpid());
    xcb_change_property(m_x.raw(), XCB_PROP_MODE_REPLACE, self, m_ownerAtom, XCB_ATOM_CARDINAL, 32,
                        1, &pid);
    m_x.ungrabServer();
}

void X11BorrowRecord::write(const std::vector<uint32_t>& words)
{
    if (words.empty())
        xcb_delete_property(m_x.raw(), m_x.root(), m_recordAtom);
    else
        xcb_change_property(m_x.raw(), XCB_PROP_MODE_REPLACE, m_x.root(), m_recordAtom,
                            XCB_ATOM_CARDINAL, 32, static_cast<uint32_t>(words.size()),
                            words.data());
}

void X11BorrowRecord::update(const std::function<std::vector<Entry>()>& held,
                             const std::function<void(const Entry&)>& adopt)
{
    if (m_recordAtom == XCB_NONE || m_ownerAtom == XCB_NONE)
        return;
    const xcb_window_t self = m_x.helper();
    m_x.grabServer();
    const std::vector<OwnedEntry> entries =
        parse(m_x.property(m_x.root(), m_recordAtom, XCB_ATOM_CARDINAL));
    std::map<uint32_t, bool> alive;
    for (const OwnedEntry& e : entries) {
        if (!alive.count(e.owner))
            alive[e.owner] = e.owner != self && m_x.hasProperty(e.owner, m_ownerAtom);
    }
    // Entries under our own window's number are a former program's that had the same number:
    // ours are written from what we hold, below.
    if (adopt) {
        for (const OwnedEntry& e : entries) {
            if (!alive[e.owner])
                adopt(e.entry);
        }
    }
    // Entries of others stay, those of programs that are gone too until a program takes them
    // over.
    std::vector<uint32_t> words;
    for (const OwnedEntry& e : entries) {
        if (e.owner != self && (alive[e.owner] || !adopt))
            append(&words, e.owner, e.entry);
    }
    for (const Entry& e : held())
        append(&words, self, e);
    write(words);
    m_x.ungrabServer();
}
