#include "ClipboardKeeper.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {
// What one save may hold in memory, all types of both selections together.
constexpr size_t kMostKept = size_t(256) << 20;
// Password managers mark their secrets so, and clipboard managers keep none: the text lent too.
constexpr const char* kSecretHint = "x-kde-passwordManagerHint";
// Every text lent carries this type, so that no keeper ever takes one for the user's clipboard.
constexpr const char* kLentType = "application/x-keyflare-lent";
// How long a text lent waits for its paste once Keyflare has stopped waiting, or has gone.
constexpr auto kLentAtMost = std::chrono::seconds(30);

using Clock = std::chrono::steady_clock;

ClipboardKeeper* keeperOf(void* data)
{
    return static_cast<ClipboardKeeper*>(data);
}

// The standard data control is wlroots' own under other names: the same requests and events in
// the same order, each with the same arguments. So the keeper speaks either through the wlroots
// calls; only the objects it creates are made with the interfaces of the one the compositor offers.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE ==
                  ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE &&
              EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE ==
                  ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE &&
              EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION ==
                  ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION &&
              EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE &&
              EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
const ClipboardKeeper::Protocol kWlroots = {&zwlr_data_control_manager_v1_interface, 2,
                                            &zwlr_data_control_device_v1_interface,
                                            &zwlr_data_control_source_v1_interface};
const ClipboardKeeper::Protocol kStandard = {&ext_data_control_manager_v1_interface, 1,
                                             &ext_data_control_device_v1_interface,
                                             &ext_data_control_source_v1_interface};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version)
{
    if (std::strcmp(interface, wl_seat_interface.name) == 0) {
        keeperOf(data)->seat(
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1)));
        return;
    }
    // The standard one where both are offered; wlroots' only from version 2 (the primary
    // selection).
    for (const ClipboardKeeper::Protocol* p : {&kStandard, &kWlroots}) {
        if (std::strcmp(interface, p->manager->name) == 0 && version >= p->version)
            keeperOf(data)->manager(static_cast<zwlr_data_control_manager_v1*>(
                                        wl_registry_bind(registry, name, p->manager, p->version)),
                                    p);
    }
}
void onGlobalRemove(void*, wl_registry*, uint32_t)
{
}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    keeperOf(data)->offered(offer);
}
void onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    keeperOf(data)->selected(offer, ClipboardKeeper::Clipboard);
}
void onFinished(void*, zwlr_data_control_device_v1*)
{
}
void onPrimary(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    keeperOf(data)->selected(offer, ClipboardKeeper::Primary);
}
const zwlr_data_control_device_v1_listener kDeviceListener = [] {
    zwlr_data_control_device_v1_listener l = {};
    l.data_offer = onDataOffer;
    l.selection = onSelection;
    l.finished = onFinished;
    l.primary_selection = onPrimary;
    return l;
}();

void onSend(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd)
{
    keeperOf(data)->asked(source, type, fd);
}
void onCancelled(void* data, zwlr_data_control_source_v1* source)
{
    keeperOf(data)->cancelled(source);
}
const zwlr_data_control_source_v1_listener kSourceListener = {onSend, onCancelled};

} // namespace

struct ClipboardKeeper::Offer
{
    zwlr_data_control_offer_v1* offer = nullptr;
    std::vector<std::string> types;
    ~Offer() { zwlr_data_control_offer_v1_destroy(offer); }
};

struct ClipboardKeeper::Source
{
    zwlr_data_control_source_v1* source = nullptr;
    Which which = Clipboard;
    Contents contents;
    bool lent = false;
};

namespace {
void onOfferType(void* data, zwlr_data_control_offer_v1*, const char* type)
{
    static_cast<ClipboardKeeper::Offer*>(data)->types.emplace_back(type);
}
const zwlr_data_control_offer_v1_listener kOfferListener = {onOfferType};
} // namespace

ClipboardKeeper::ClipboardKeeper() = default;

ClipboardKeeper::~ClipboardKeeper()
{
    for (const auto& s : m_sources)
        zwlr_data_control_source_v1_destroy(s->source);
    m_slots[0].shown.reset();
    m_slots[1].shown.reset();
    m_announced.reset();
    if (m_device)
        zwlr_data_control_device_v1_destroy(m_device);
    if (m_manager)
        zwlr_data_control_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
}

bool ClipboardKeeper::open()
{
    QString error; // whatever the reason, Keyflare is told the keeper is unavailable
    if (!m_display.open(&kRegistryListener, this, 1, &error) || !m_seat || !m_manager)
        return false;
    m_readers = Readers(m_display.fd());
    m_device = reinterpret_cast<zwlr_data_control_device_v1*>(wl_proxy_marshal_flags(
        reinterpret_cast<wl_proxy*>(m_manager), ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE,
        m_protocol->device, m_protocol->version, 0, nullptr, m_seat));
    zwlr_data_control_device_v1_add_listener(m_device, &kDeviceListener, this);
    return roundtrip();
}

void ClipboardKeeper::manager(zwlr_data_control_manager_v1* manager, const Protocol* protocol)
{
    // One of them: the standard one where the compositor offers both.
    if (m_manager && m_protocol == &kStandard) {
        zwlr_data_control_manager_v1_destroy(manager);
        return;
    }
    if (m_manager)
        zwlr_data_control_manager_v1_destroy(m_manager);
    m_manager = manager;
    m_protocol = protocol;
}

void ClipboardKeeper::offered(zwlr_data_control_offer_v1* offer)
{
    m_announced = std::make_shared<Offer>();
    m_announced->offer = offer;
    zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, m_announced.get());
}

void ClipboardKeeper::selected(zwlr_data_control_offer_v1* offer, Which which)
{
    // An offer being read stays alive with its reader, whatever the selection does meanwhile.
    m_slots[which].shown =
        offer && m_announced && m_announced->offer == offer ? m_announced : nullptr;
}

void ClipboardKeeper::give(Which which, Contents contents)
{
    m_slots[which].saved = std::move(contents);
    m_slots[which].given = true;
}

ClipboardKeeper::Saved ClipboardKeeper::save(int ms)
{
    if (!roundtrip())
        return Saved::Failed;
    // A secret is neither read nor kept, nor is another keeper's text lent, which stands for
    // the user's clipboard that keeper keeps: the types alone tell them.
    for (const Slot& s : m_slots) {
        const bool theirs = !s.lent && !s.kept && !s.given && s.shown;
        const auto has = [&](const char* type) {
            return theirs && std::count(s.shown->types.begin(), s.shown->types.end(), type);
        };
        if (has(kLentType))
            return Saved::Lent;
        if (has(kSecretHint))
            return Saved::Secret;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    size_t total = 0;
    for (Slot& s : m_slots) {
        if (s.lent || s.kept) { // ours: the copy taken before still stands for the user's
            s.haveSaved = true;
            continue;
        }
        if (!s.given) {
            Contents contents;
            const std::shared_ptr<Offer> offer = s.shown;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (offer && !read(*offer, &contents, &total, static_cast<int>(left.count())))
                return Saved::Failed;
            s.saved = std::move(contents);
        }
        s.given = false;
        s.haveSaved = true;
    }
    return Saved::Yes;
}

bool ClipboardKeeper::read(Offer& offer, Contents* into, size_t* total, int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (const std::string& type : offer.types) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        zwlr_data_control_offer_v1_receive(offer.offer, type.c_str(), fds[1]);
        close(fds[1]);
        m_display.flush();
        std::string bytes;
        bool ended = false;
        while (!ended && Clock::now() < deadline && *total <= kMostKept) {
            pollfd p[2] = {{fds[0], POLLIN, 0}, {fd(), POLLIN, 0}};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(p, 2, static_cast<int>(left.count()) + 1) < 0)
                break;
            if ((p[1].revents & POLLIN) && !dispatch())
                break;
            m_display.flush();
            char chunk[65536];
            const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
            ended = n == 0;
            if (n > 0) {
                bytes.append(chunk, static_cast<size_t>(n));
                *total += static_cast<size_t>(n);
            }
        }
        close(fds[0]);
        if (!ended)
            return false;
        into->emplace_back(type, std::move(bytes));
    }
    return true;
}

ClipboardKeeper::Source* ClipboardKeeper::show(Which which, Contents contents, bool lent)
{
    auto s = std::make_unique<Source>();
    s->source = reinterpret_cast<zwlr_data_control_source_v1*>(wl_proxy_marshal_flags(
        reinterpret_cast<wl_proxy*>(m_manager), ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
        m_protocol->source, m_protocol->version, 0, nullptr));
    zwlr_data_control_source_v1_add_listener(s->source, &kSourceListener, this);
    for (const auto& [type, bytes] : contents)
        zwlr_data_control_source_v1_offer(s->source, type.c_str());
    s->which = which;
    s->contents = std::move(contents);
    s->lent = lent;
    if (which == Clipboard)
        zwlr_data_control_device_v1_set_selection(m_device, s->source);
    else
        zwlr_data_control_device_v1_set_primary_selection(m_device, s->source);
    m_sources.push_back(std::move(s));
    return m_sources.back().get();
}

void ClipboardKeeper::withdraw(Source*& source)
{
    if (!source)
        return;
    auto it = std::find_if(m_sources.begin(), m_sources.end(),
                           [&](const auto& s) { return s.get() == source; });
    zwlr_data_control_source_v1_destroy(source->source);
    m_sources.erase(it);
    source = nullptr;
}

bool ClipboardKeeper::lend(const std::string& text, pid_t targetPid)
{
    if (!m_slots[Clipboard].haveSaved || !m_slots[Primary].haveSaved)
        return false;
    m_target = targetPid;
    m_pasted = false;
    m_taken = false;
    m_restoreAfterPaste = false;
    const Contents contents = {{"text/plain;charset=utf-8", text},
                               {"text/plain", text},
                               {"UTF8_STRING", text},
                               {"TEXT", text},
                               {kSecretHint, "secret"},
                               {kLentType, "1"}};
    for (int w = Clipboard; w <= Primary; ++w) {
        Slot& s = m_slots[w];
        if (s.kept) // what it shows is the user's copy, kept here meanwhile
            s.saved = std::move(s.kept->contents);
        withdraw(s.kept);
        withdraw(s.lent);
        s.lent = show(Which(w), contents, true);
    }
    return m_display.flush();
}

void ClipboardKeeper::restoreAfterPaste()
{
    if (!lending() || m_restoreAfterPaste)
        return;
    m_restoreAfterPaste = true;
    m_restoreBy = Clock::now() + kLentAtMost; // serve() gives back when due
}

void ClipboardKeeper::restore()
{
    m_restoreAfterPaste = false;
    for (int w = Clipboard; w <= Primary; ++w) {
        Slot& s = m_slots[w];
        // Where another program has taken the selection since the text was lent, the user's
        // change wins and nothing is given back.
        if (!s.lent)
            continue;
        withdraw(s.lent);
        if (!s.haveSaved || s.saved.empty()) {
            if (w == Clipboard)
                zwlr_data_control_device_v1_set_selection(m_device, nullptr);
            else
                zwlr_data_control_device_v1_set_primary_selection(m_device, nullptr);
        } else {
            s.kept = show(Which(w), std::move(s.saved), false);
        }
        s.saved.clear();
        s.haveSaved = false;
    }
    m_display.flush();
}

void ClipboardKeeper::cancelled(zwlr_data_control_source_v1* source)
{
    auto it = std::find_if(m_sources.begin(), m_sources.end(),
                           [&](const auto& s) { return s->source == source; });
    if (it == m_sources.end())
        return;
    // Another program has taken the selection: what it put there is the user's now.
    Slot& s = m_slots[(*it)->which];
    if (s.lent == it->get() && !m_pasted)
        m_taken = true;
    if (s.lent == it->get() || s.kept == it->get()) {
        s.lent = s.lent == it->get() ? nullptr : s.lent;
        s.kept = s.kept == it->get() ? nullptr : s.kept;
        s.saved.clear();
        s.haveSaved = false;
    }
    zwlr_data_control_source_v1_destroy(source);
    m_sources.erase(it);
    // Nothing lent is left to give back after: a pending give-back ends with it.
    m_restoreAfterPaste = m_restoreAfterPaste && lending();
}

void ClipboardKeeper::asked(zwlr_data_control_source_v1* source, const char* type, int fd)
{
    auto it = std::find_if(m_sources.begin(), m_sources.end(),
                           [&](const auto& s) { return s->source == source; });
    if (it == m_sources.end() || (*it)->contents.empty()) {
        close(fd);
        return;
    }
    std::string bytes = (*it)->contents.front().second;
    for (const auto& [t, b] : (*it)->contents)
        bytes = t == type ? b : bytes;
    // A clipboard manager reads every new selection; only the target's read is the paste.
    const bool paste = (*it)->lent && m_readers.isPaste(m_target, fd);
    m_deliveries.add(fd, std::move(bytes), paste);
    serve();
}

void ClipboardKeeper::serve()
{
    m_pasted = m_deliveries.serve() || m_pasted;
    if (m_restoreAfterPaste && (m_pasted || Clock::now() >= m_restoreBy))
        restore();
}

int ClipboardKeeper::nextWakeMs() const
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_restoreBy - Clock::now());
    const int restore = m_restoreAfterPaste ? int(std::max<long long>(left.count(), 0)) + 1 : -1;
    const int deliveries = m_deliveries.nextWakeMs();
    return std::min(deliveries < 0 ? restore : deliveries, restore < 0 ? deliveries : restore);
}

bool ClipboardKeeper::holdsAnything() const
{
    return !m_sources.empty() || !m_deliveries.empty() || m_restoreAfterPaste;
}
