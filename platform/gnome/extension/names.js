// The names Keyflare and its GNOME Shell extension meet by on the session bus, and what a send
// comes to. Keyflare's side reads them from ShellNames.h, which the build makes from this file:
// one name a line, a string in single quotes or a number.

var ShellBus = {
    name: 'org.keyflare.Shell',
    path: '/org/keyflare/Shell',
    interface: 'org.keyflare.Shell1',
    // The error every caller but Keyflare gets.
    notAllowed: 'org.keyflare.Shell1.Error.NotAllowed',
    versionProperty: 'Version',
    // Keyflare checks it on connecting: a copy of the extension older than Keyflare is reported.
    version: 5,
    // The signal that tells Keyflare, and no other, that the windows changed.
    windowsChanged: 'WindowsChanged',
};

var ShellMethod = {
    Windows: 'Windows',
    Activate: 'Activate',
    FocusedWindow: 'FocusedWindow',
    WindowUnderPointer: 'WindowUnderPointer',
    KeyboardState: 'KeyboardState',
    Type: 'Type',
    RestoreKeymap: 'RestoreKeymap',
    WatchWindows: 'WatchWindows',
};

var ShellOutcome = {
    done: 'done',
    // The window lost the focus, never had it, or the shell's own interface holds the keyboard.
    focusLost: 'focus-lost',
    // Keyflare left the bus.
    cancelled: 'cancelled',
    // The time Keyflare waits has passed.
    timedOut: 'timed-out',
    // The user chose other input sources, which stay in force.
    keymapChanged: 'keymap-changed',
    // Another send is under way, or the shell did not pass a key on.
    busy: 'busy',
    // The shell has applied no keymap of the user's yet.
    keymapUnknown: 'keymap-unknown',
    // The X server of an X11 window (Xwayland) could not be reached, or stopped answering.
    xServerSilent: 'x-server-silent',
    failed: 'failed',
};
