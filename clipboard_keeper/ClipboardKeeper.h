#pragma once

#include "Deliveries.h"
#include "Readers.h"
#include "wayland/WaylandDisplay.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct wl_seat;
struct wl_interface;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

// Every type of data one selection offered, with its bytes.
using Contents = std::vector<std::pair<std::string, std::string>>;

// Keeps the user's clipboard and primary selection while Keyflare lends them to a text for a
// paste, and gives them back: the copy lives in this small process of its own, which serves it
// until another program takes the selection, after Keyflare has ended too. Keyflare itself then
// never serves or reads a selection through its own connection.
class ClipboardKeeper
{
public:
    enum Which
    {
        Clipboard,
        Primary
    };
    struct Offer;  // another program's selection, as it arrives
    struct Source; // one of ours
    enum class Saved
    {
        Yes,
        Secret, // a password manager marked a selection secret: nothing was read
        Lent,   // it shows another keeper's text lent, never the user's: nothing was read
        Failed  // a program did not hand its selection over in time, or it is too large
    };

    ClipboardKeeper();
    ~ClipboardKeeper();
    ClipboardKeeper(const ClipboardKeeper&) = delete;
    ClipboardKeeper& operator=(const ClipboardKeeper&) = delete;

    // Connects to $WAYLAND_DISPLAY; false when it offers no data control.
    bool open();
    int fd() const { return m_display.fd(); }
    // Handles what the compositor has sent and sends what is queued, without waiting; false
    // when the connection broke.
    bool dispatch() { return m_display.dispatch(0); }
    bool roundtrip() { return m_display.roundtrip(); }

    // Keyflare's own selection, which this process must not read from Keyflare (it would wait
    // for Keyflare, which waits for this), given directly.
    void give(Which which, Contents contents);
    // Takes a copy of both selections, unless the copy taken earlier still stands in for them.
    Saved save(int ms);
    // Shows text in both selections, for a paste by the program of pid targetPid; false, and
    // nothing shown, when another program has filled a selection since save(): what the user
    // copied stays.
    bool lend(const std::string& text, pid_t targetPid);
    // True once the target has taken the whole text lent.
    bool pasted() const { return m_pasted; }
    // True once another program has put something in a selection while the text lent waited
    // for its paste: the user's copy wins, and the send stops.
    bool taken() const { return m_taken; }
    // Gives the selections back what they held, where no other program has taken them since.
    void restore();
    // Gives them back once the target has taken the text lent, or at the latest after a half
    // minute: a paste that late is less likely than a lost clipboard is harmful.
    void restoreAfterPaste();
    // True while there is something to serve or to give back.
    bool holdsAnything() const;

    // What programs read from us: poll() its pipes, wait at most nextWakeMs(), then serve().
    const Deliveries& deliveries() const { return m_deliveries; }
    int nextWakeMs() const;
    void serve();

    // Data control's events.
    void offered(zwlr_data_control_offer_v1* offer);
    void selected(zwlr_data_control_offer_v1* offer, Which which);
    void asked(zwlr_data_control_source_v1* source, const char* type, int fd);
    void cancelled(zwlr_data_control_source_v1* source);
    void seat(wl_seat* seat) { m_seat = seat; }
    // The data control the compositor offers: wlroots' own, or the standard one (KWin 6.7 offers
    // only that), spoken through the same calls.
    struct Protocol
    {
        const wl_interface* manager;
        uint32_t version; // the version bound
        const wl_interface* device;
        const wl_interface* source;
    };
    void manager(zwlr_data_control_manager_v1* manager, const Protocol* protocol);

private:
    struct Slot
    {
        std::shared_ptr<Offer> shown; // another program's, while none of ours is shown
        Source* lent = nullptr;       // ours, while shown
        Source* kept = nullptr;       // ours, while shown
        Contents saved;
        bool haveSaved = false;
        bool given = false;
    };
    bool read(Offer& offer, Contents* into, size_t* total, int ms);
    Source* show(Which which, Contents contents, bool lent);
    void withdraw(Source*& source);
    bool lending() const { return m_slots[0].lent || m_slots[1].lent; }

    WaylandDisplay m_display; // first: it goes last
    wl_seat* m_seat = nullptr;
    zwlr_data_control_manager_v1* m_manager = nullptr;
    const Protocol* m_protocol = nullptr;
    zwlr_data_control_device_v1* m_device = nullptr;
    std::shared_ptr<Offer> m_announced;
    Slot m_slots[2];
    std::vector<std::unique_ptr<Source>> m_sources;
    Deliveries m_deliveries;
    pid_t m_target = 0;
    Readers m_readers{0, {}}; // the compositor reads for programs under Xwayland
    bool m_pasted = false;
    bool m_taken = false;
    bool m_restoreAfterPaste = false;
    std::chrono::steady_clock::time_point m_restoreBy;
};
