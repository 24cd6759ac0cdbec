#pragma once

#include <QString>

// Removes leading and trailing space characters only; tabs and other white space are content.
QString trimBlanks(const QString& s);
