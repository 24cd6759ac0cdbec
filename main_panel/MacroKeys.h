#pragma once

#include <QString>

// The keystroke string that types text literally: each of the ten reserved characters
// ~ + ^ % ( ) { } [ ] is enclosed in braces, every other character (TAB included) is kept.
QString keystrokeString(const QString& text);
