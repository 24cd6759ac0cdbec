// A connection of the extension's own to the X server of the shell's X11 programs (Xwayland),
// for one thing: a round trip, which ends only once the server is running its loop again. The
// shell writes each key to Xwayland at once, whether or not Xwayland reads (it stops while it
// compiles a new keymap with a program of its own, or while a busy machine gives it no time);
// where the keys pile up beyond what its connection holds, the shell cuts Xwayland off, and every
// X11 window goes with it. A round trip after each key keeps at most that key waiting.

// XServer, on the shell's services.
function xServerPart({Gio, GLib}) {
    // How long the X server may take to answer.
    const ANSWER_WAIT_MS = 5000;
    const COOKIE_NAME = 'MIT-MAGIC-COOKIE-1';
    // Authority file families: this machine by its host name, and any.
    const FAMILY_LOCAL = 256;
    const FAMILY_WILD = 0xffff;
    const GET_INPUT_FOCUS = 43;
    // Requests go in this machine's byte order, which the first byte of a connection names.
    const LITTLE = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

    // The display number in DISPLAY (":1", ":1.0", "unix:1"); null for a display elsewhere.
    function displayNumber(display) {
        return /^(?:unix)?:(\d+)(?:\.\d+)?$/.exec(display ?? '')?.[1] ?? null;
    }

    // The MIT cookie for display number in the authority file at path (the shell's own, which
    // it hands its programs); an empty one where there is none.
    function cookieFor(path, number) {
        let bytes;
        try {
            [, bytes] = GLib.file_get_contents(path);
        } catch (e) {
            return new Uint8Array(0);
        }
        const text = field => new TextDecoder().decode(field);
        let at = 0;
        const field = () => {
            const length = (bytes[at] << 8) | bytes[at + 1];
            const value = bytes.subarray(at + 2, at + 2 + length);
            at += 2 + length;
            return value;
        };
        while (at + 2 <= bytes.length) {
            const family = (bytes[at] << 8) | bytes[at + 1];
            at += 2;
            const address = text(field());
            const display = text(field());
            const name = text(field());
            const data = field();
            if (at > bytes.length)
                break;
            const here = family === FAMILY_WILD ||
                (family === FAMILY_LOCAL && address === GLib.get_host_name());
            if (here && name === COOKIE_NAME && (display === '' || display === number))
                return data;
        }
        return new Uint8Array(0);
    }

    // Resolves to what an asynchronous Gio call gives its finish method; rejects on its error.
    function finished(start, finish) {
        return new Promise((resolve, reject) => start((source, result) => {
            try {
                resolve(source[finish](result));
            } catch (e) {
                reject(e);
            }
        }));
    }

    // The request a connection starts with.
    function setupRequest(cookie) {
        const pad = n => (4 - n % 4) % 4;
        const name = new TextEncoder().encode(cookie.length ? COOKIE_NAME : '');
        const request = new Uint8Array(12 + name.length + pad(name.length) + cookie.length +
            pad(cookie.length));
        const view = new DataView(request.buffer);
        request[0] = LITTLE ? 0x6c : 0x42;
        view.setUint16(2, 11, LITTLE);
        view.setUint16(6, name.length, LITTLE);
        view.setUint16(8, cookie.length, LITTLE);
        request.set(name, 12);
        request.set(cookie, 12 + name.length + pad(name.length));
        return request;
    }

    class XServer {
        // Connects to the server of the shell's DISPLAY; resolves to an XServer, or to null where
        // there is none or it refuses.
        static async connect() {
            const number = displayNumber(GLib.getenv('DISPLAY'));
            if (number === null)
                return null;
            const server = new XServer();
            try {
                const client = new Gio.SocketClient();
                const address = Gio.UnixSocketAddress.new(`/tmp/.X11-unix/X${number}`);
                server._connection = await finished(
                    done => client.connect_async(address, null, done), 'connect_finish');
                const cookie = cookieFor(GLib.getenv('XAUTHORITY') ??
                    `${GLib.get_home_dir()}/.Xauthority`, number);
                server._send(setupRequest(cookie));
                // Status, then the length of the rest in words.
                const head = await server._read(8);
                const rest = new DataView(head.buffer).getUint16(6, LITTLE);
                await server._read(rest * 4);
                if (head[0] === 1)
                    return server;
            } catch (e) {
                logError(e, 'Keyflare: no connection to the X server');
            }
            server.close();
            return null;
        }

        close() {
            this._connection?.close(null);
            this._connection = null;
        }

        // Resolves to true once the server has answered a request sent now; false when it broke
        // or took too long.
        async roundTrip() {
            try {
                // The opcode, a byte unused, and the length in words: 1.
                this._send(new Uint8Array([GET_INPUT_FOCUS, 0, ...(LITTLE ? [1, 0] : [0, 1])]));
                // Events (MappingNotify goes to every client) may come first: the answer is a
                // reply, or an error, 32 bytes each as they are.
                for (;;) {
                    const unit = await this._read(32);
                    if (unit[0] <= 1)
                        return true;
                }
            } catch (e) {
                return false;
            }
        }

        _send(bytes) {
            this._connection.get_output_stream().write_all(bytes, null);
        }

        // Resolves to the next count bytes from the server; rejects when it closed the
        // connection or took too long.
        async _read(count) {
            const out = new Uint8Array(count);
            const cancellable = new Gio.Cancellable();
            const timeout = GLib.timeout_add(GLib.PRIORITY_DEFAULT, ANSWER_WAIT_MS, () => {
                cancellable.cancel();
                return GLib.SOURCE_REMOVE;
            });
            try {
                const input = this._connection.get_input_stream();
                for (let got = 0; got < count;) {
                    const bytes = await finished(done => input.read_bytes_async(count - got,
                        GLib.PRIORITY_DEFAULT, cancellable, done), 'read_bytes_finish');
                    if (bytes.get_size() === 0)
                        throw new Error('the X server closed the connection');
                    out.set(bytes.toArray(), got);
                    got += bytes.get_size();
                }
            } finally {
                if (!cancellable.is_cancelled())
                    GLib.source_remove(timeout);
            }
            return out;
        }
    }

    return XServer;
}
