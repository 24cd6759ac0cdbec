#pragma once

#include <QByteArray>
#include <QString>

// Decodes an X11 COMPOUND_TEXT property (ISO 2022 with the designations Xlib writes: the
// ISO 8859 sets, the CJK double-byte sets and UTF-8 segments). Older toolkits, xterm among them,
// still store their window titles this way. Bytes of a set that cannot be decoded become U+FFFD.
QString decodeCompoundText(const QByteArray& bytes);
