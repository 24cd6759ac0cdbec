#pragma once

#include "ClipboardKeeper.h"

#include <string>

// Keyflare's commands to the keeper, read from its standard input, and the keeper's answers on
// its standard output, one a line (see keeper_main.cpp for the words).
class KeeperCommands
{
public:
    explicit KeeperCommands(ClipboardKeeper& keeper) : m_keeper(keeper) {}
    // Reads what Keyflare sent and carries out every whole command; false once Keyflare is gone.
    bool readAndRun();
    // Keyflare's line has closed.
    void closed();
    // Answers the command of that sequence number, which Keyflare gave it.
    void answer(unsigned long long sequence, const char* word);
    // Tells Keyflare once that the target has taken the text lent, or that another program
    // took the selection before it.
    void tellPaste();

private:
    // Carries out the first command if the whole of it has come.
    bool runOne();

    ClipboardKeeper& m_keeper;
    std::string m_buffer;
    Contents m_given[2];
    bool m_owned[2] = {false, false};
    bool m_pasteTold = true;
    unsigned long long m_lend = 0; // the sequence number of the last LEND
};
