#pragma once

#include "Session.h"

// The test's hand in GNOME Shell: a pointer and a keyboard of the tests' own shell extension
// (org.keyflare.TestHand), which the harness installs in the test's shell alone.
class GnomeUser : public Hand
{
public:
    bool ok() const override { return true; }
    QRect windowRect(const QString& title) override;
    void moveTo(QPoint p) override;
    void moveOver(const QString& title, QPoint p) override;
    void button(int button, bool down) override;
    void ctrl(bool down) override;
    // A key pressed and let go, by its keysym.
    void tapKey(uint keysym);
    // Makes the user's input source index the one in force, as the shell's menu does.
    void selectInputSource(int index);
    // The layout of the keymap in force, as the shell has it.
    int layoutInForce();
};
