#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>
#include <vector>

struct KWinConnection;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

// The clipboard and the primary selection, through data control: lent to a piece of text for a
// paste, then given back to what they held. KWin types only the characters of the layout in
// force; the rest of a text reaches the receiver this way.
class KWinClipboard
{
public:
    // Every type of data one selection offered, as bytes.
    using Contents = QList<QPair<QByteArray, QByteArray>>;
    struct Offer; // what another program offers, as it arrives

    explicit KWinClipboard(KWinConnection& connection);
    ~KWinClipboard();
    KWinClipboard(const KWinClipboard&) = delete;
    KWinClipboard& operator=(const KWinClipboard&) = delete;

    bool isAvailable() const { return m_device != nullptr; }
    // Reads what both selections hold now, so that restore() can put it back; false when a
    // program that holds one does not hand it over within ms.
    bool save(int ms);
    // Offers text in both selections, so that a paste of either kind brings it.
    void lend(const QString& text);
    // Waits up to ms until a program has asked for the text lent, that is, is pasting it.
    bool waitForPaste(int ms);
    // Offers again what save() read (or nothing, where a selection was empty).
    void restore();

    // Data control's events (KWinClipboard.cpp).
    void offered(zwlr_data_control_offer_v1* offer);
    void selected(zwlr_data_control_offer_v1* offer, bool primary);
    void asked(zwlr_data_control_source_v1* source, const char* type, int fd);
    void cancelled(zwlr_data_control_source_v1* source);

private:
    struct Source
    {
        zwlr_data_control_source_v1* source = nullptr;
        Contents contents;
    };
    zwlr_data_control_source_v1* offer(const Contents& contents);
    bool read(Offer* offer, Contents* into, int ms);

    KWinConnection& m_k;
    zwlr_data_control_manager_v1* m_manager = nullptr;
    zwlr_data_control_device_v1* m_device = nullptr;
    std::vector<std::unique_ptr<Offer>> m_offers;
    Offer* m_clipboard = nullptr;
    Offer* m_primary = nullptr;
    Contents m_savedClipboard;
    Contents m_savedPrimary;
    std::vector<Source> m_sources; // ours, served until another program takes the selection
    int m_asked = 0;
};
