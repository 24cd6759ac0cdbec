// The tests' hand in a headless GNOME Shell: a pointer that moves and clicks, a key that goes
// down and up, the choice of an input source, and the place of a window by its title. GNOME offers no protocol for these;
// installed only in the tests' own shell. The shell starts in the overview, which would take the
// first clicks: the hand keeps it from showing at start, and is on the bus once the start is over.
const HAND_XML = `<node>
  <interface name="org.keyflare.TestHand">
    <method name="MoveTo"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="Button"><arg type="u" direction="in"/><arg type="b" direction="in"/></method>
    <method name="Key"><arg type="u" direction="in"/><arg type="b" direction="in"/></method>
    <method name="SelectInputSource"><arg type="u" direction="in"/></method>
    <method name="LayoutInForce"><arg type="u" direction="out"/></method>
    <method name="PointerOver">
      <arg type="s" direction="in"/>
      <arg type="b" direction="out"/>
    </method>
    <method name="WindowRect">
      <arg type="s" direction="in"/>
      <arg type="(iiii)" direction="out"/>
    </method>
  </interface>
</node>`;

// The seat of the shell's own input (from mutter 51 reached only through the context).
function handSeat() {
    const clutter = global.stage.context?.get_backend?.() ?? Clutter.get_default_backend();
    return clutter.get_default_seat();
}

var TestHand = class {
    enable() {
        const seat = handSeat();
        this._pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        // The shell tells each change of the layout in force, and nothing asks for it.
        this._layout = 0;
        this._layoutId = global.backend.connect('keymap-layout-group-changed', (b, layout) => {
            this._layout = layout;
        });
        this._impl = Gio.DBusExportedObject.wrapJSObject(HAND_XML, this);
        this._impl.export(Gio.DBus.session, '/org/keyflare/TestHand');
        const ready = () => {
            // Where the shell enables extensions only once it has started (GNOME 51), the
            // overview is up: it is left first, and leaves the keyboard to the windows.
            if (Main.overview.visible) {
                const hiddenId = Main.overview.connect('hidden', () => {
                    Main.overview.disconnect(hiddenId);
                    ready();
                });
                Main.overview.hide();
                return;
            }
            global.stage.set_key_focus(null);
            this._name = Gio.bus_own_name_on_connection(Gio.DBus.session,
                'org.keyflare.TestHand', Gio.BusNameOwnerFlags.NONE, null, null);
        };
        if (!Main.layoutManager._startingUp) {
            ready();
            return;
        }
        Main.sessionMode.hasOverview = false;
        const id = Main.layoutManager.connect('startup-complete', () => {
            Main.layoutManager.disconnect(id);
            Main.sessionMode.hasOverview = true;
            ready();
        });
    }

    disable() {
        global.backend.disconnect(this._layoutId);
        Gio.bus_unown_name(this._name);
        this._impl.unexport();
    }

    MoveTo(x, y) {
        this._movedTo = [x, y];
        this._pointer.notify_absolute_motion(GLib.get_monotonic_time(), x, y);
    }

    Button(button, down) {
        this._pointer.notify_button(GLib.get_monotonic_time(), button,
            down ? Clutter.ButtonState.PRESSED : Clutter.ButtonState.RELEASED);
    }

    Key(keyval, down) {
        this._keyboard.notify_keyval(GLib.get_monotonic_time(), keyval,
            down ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED);
    }

    // As the user picks one of their input sources in the shell's menu.
    SelectInputSource(index) {
        Keyboard.getInputSourceManager().inputSources[index]?.activate(false);
    }

    // From mutter 50 a new keymap brings its layout along unannounced, and the keymap tells the
    // name of the layout in force: its place among the names of the user's own layouts.
    LayoutInForce() {
        const keymap = handSeat().get_keymap();
        if (typeof keymap.get_current_display_name !== 'function')
            return this._layout;
        const names = KeyboardManager.getKeyboardManager()._currentKeymap?.displayNames ?? [];
        return names.indexOf(keymap.get_current_display_name());
    }

    // True when the shell hands the pointer's events to the window titled title: it finds the
    // window under the pointer again only on some later event after windows were restacked.
    // From mutter 51 the stage tells no device's actor (and a window's own events pass by the
    // stage's signals): there, the window the shell finds where the last move has taken the
    // pointer, which the next move makes the pointer's.
    PointerOver(title) {
        const [x, y] = global.get_pointer();
        let pointed = null;
        if (typeof global.stage.get_device_actor === 'function')
            pointed = global.stage.get_device_actor(handSeat().get_pointer(), null);
        else if (x === this._movedTo?.[0] && y === this._movedTo?.[1])
            pointed = global.stage.get_actor_at_pos(Clutter.PickMode.REACTIVE, x, y);
        for (let a = pointed; a; a = a.get_parent()) {
            if (a.meta_window)
                return a.meta_window.get_title() === title;
        }
        return false;
    }

    WindowRect(title) {
        const w = global.get_window_actors().map(a => a.meta_window)
            .find(win => win.get_title() === title);
        if (!w)
            return [0, 0, 0, 0];
        const r = w.get_frame_rect();
        return [r.x, r.y, r.width, r.height];
    }
};
