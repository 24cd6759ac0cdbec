#include "KWinClipboard.h"

#include "KWinConnection.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QDeadlineTimer>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

struct KWinClipboard::Offer
{
    zwlr_data_control_offer_v1* offer = nullptr;
    QList<QByteArray> types;
};

namespace {

KWinClipboard* clipboardOf(void* data)
{
    return static_cast<KWinClipboard*>(data);
}

void onType(void* data, zwlr_data_control_offer_v1*, const char* type)
{
    static_cast<KWinClipboard::Offer*>(data)->types << QByteArray(type);
}
const zwlr_data_control_offer_v1_listener kOfferListener = {onType};

void onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    clipboardOf(data)->offered(offer);
}
void onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    clipboardOf(data)->selected(offer, false);
}
void onFinished(void*, zwlr_data_control_device_v1*)
{
}
void onPrimary(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
{
    clipboardOf(data)->selected(offer, true);
}
const zwlr_data_control_device_v1_listener kDeviceListener = {onDataOffer, onSelection, onFinished,
                                                              onPrimary};

void onSend(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd)
{
    clipboardOf(data)->asked(source, type, fd);
}
void onCancelled(void* data, zwlr_data_control_source_v1* source)
{
    clipboardOf(data)->cancelled(source);
}
const zwlr_data_control_source_v1_listener kSourceListener = {onSend, onCancelled};

} // namespace

KWinClipboard::KWinClipboard(KWinConnection& connection) : m_k(connection)
{
    m_manager = connection.dataControl;
    if (!m_manager || !connection.seat)
        return;
    m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, connection.seat);
    zwlr_data_control_device_v1_add_listener(m_device, &kDeviceListener, this);
    m_k.roundtrip();
}

KWinClipboard::~KWinClipboard()
{
    for (const Source& s : m_sources)
        zwlr_data_control_source_v1_destroy(s.source);
    for (const auto& o : m_offers)
        zwlr_data_control_offer_v1_destroy(o->offer);
    if (m_device)
        zwlr_data_control_device_v1_destroy(m_device);
}

void KWinClipboard::offered(zwlr_data_control_offer_v1* offer)
{
    auto o = std::make_unique<Offer>();
    o->offer = offer;
    zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, o.get());
    m_offers.push_back(std::move(o));
}

void KWinClipboard::selected(zwlr_data_control_offer_v1* offer, bool primary)
{
    Offer* chosen = nullptr;
    for (const auto& o : m_offers)
        chosen = o->offer == offer ? o.get() : chosen;
    (primary ? m_primary : m_clipboard) = chosen;
    // Offers that neither selection shows any more are done with.
    for (auto it = m_offers.begin(); it != m_offers.end();) {
        const bool shown = it->get() == m_clipboard || it->get() == m_primary;
        const bool announced = (*it)->offer == offer;
        if (!shown && !announced) {
            zwlr_data_control_offer_v1_destroy((*it)->offer);
            it = m_offers.erase(it);
        } else {
            ++it;
        }
    }
}

bool KWinClipboard::read(Offer* offer, Contents* into, int ms)
{
    const QDeadlineTimer deadline(ms);
    for (const QByteArray& type : offer->types) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        zwlr_data_control_offer_v1_receive(offer->offer, type.constData(), fds[1]);
        close(fds[1]);
        wl_display_flush(m_k.display);
        QByteArray bytes;
        bool ended = false;
        while (!ended && !deadline.hasExpired()) {
            // The holder may be this very connection (a selection put back earlier).
            m_k.dispatch(0);
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 10) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
            ended = n <= 0;
            if (n > 0)
                bytes.append(chunk, static_cast<int>(n));
        }
        close(fds[0]);
        if (!ended)
            return false;
        into->append({type, bytes});
    }
    return true;
}

bool KWinClipboard::save(int ms)
{
    m_k.roundtrip();
    m_savedClipboard.clear();
    m_savedPrimary.clear();
    return (!m_clipboard || read(m_clipboard, &m_savedClipboard, ms)) &&
           (!m_primary || read(m_primary, &m_savedPrimary, ms));
}

zwlr_data_control_source_v1* KWinClipboard::offer(const Contents& contents)
{
    zwlr_data_control_source_v1* source =
        zwlr_data_control_manager_v1_create_data_source(m_manager);
    zwlr_data_control_source_v1_add_listener(source, &kSourceListener, this);
    for (const auto& [type, bytes] : contents)
        zwlr_data_control_source_v1_offer(source, type.constData());
    m_sources.push_back({source, contents});
    return source;
}

void KWinClipboard::lend(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const Contents contents{{"text/plain;charset=utf-8", bytes},
                            {"text/plain", bytes},
                            {"UTF8_STRING", bytes},
                            {"TEXT", bytes}};
    zwlr_data_control_device_v1_set_selection(m_device, offer(contents));
    zwlr_data_control_device_v1_set_primary_selection(m_device, offer(contents));
    m_asked = 0;
    m_k.roundtrip();
}

void KWinClipboard::asked(zwlr_data_control_source_v1* source, const char* type, int fd)
{
    for (const Source& s : m_sources) {
        if (s.source != source)
            continue;
        QByteArray bytes = s.contents.value(0).second;
        for (const auto& [t, b] : s.contents)
            bytes = t == type ? b : bytes;
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n =
                write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ++m_asked;
    }
    close(fd);
}

void KWinClipboard::cancelled(zwlr_data_control_source_v1* source)
{
    for (auto it = m_sources.begin(); it != m_sources.end(); ++it) {
        if (it->source == source) {
            zwlr_data_control_source_v1_destroy(source);
            m_sources.erase(it);
            return;
        }
    }
}

bool KWinClipboard::waitForPaste(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (m_asked == 0 && !deadline.hasExpired()) {
        if (!m_k.dispatch(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    return m_asked > 0;
}

void KWinClipboard::restore()
{
    zwlr_data_control_device_v1_set_selection(
        m_device, m_savedClipboard.isEmpty() ? nullptr : offer(m_savedClipboard));
    zwlr_data_control_device_v1_set_primary_selection(
        m_device, m_savedPrimary.isEmpty() ? nullptr : offer(m_savedPrimary));
    m_k.roundtrip();
}
