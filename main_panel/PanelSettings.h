#pragma once

#include "Services.h"

// The panel's position and toggles, as kept in the settings store between runs.
struct PanelSettings
{
    int top = 0; // in layout units
    int left = 0;
    bool onTop = false;
    bool carriageReturn = true;
    bool autoSave = false;

    // The stored values; one that is garbled reads as its default, so that a damaged store
    // never moves the window to nowhere or ticks a box by accident.
    static PanelSettings read(SettingsStore& store);
    // Stores the toggles, then the position when withPosition.
    void write(SettingsStore& store, bool withPosition) const;
};
