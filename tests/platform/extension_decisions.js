// The GNOME Shell extension's decisions on a stand-in shell of each release's shape: the keymap a
// text is typed with, beside the user's layouts or alone; the layouts kept for an X11 program,
// reused and replaced; when the user's keymap comes back and when it stays as the user chose;
// which calls each release's mutter gets; and what is refused.
// Usage: gjs -m extension_decisions.js EXTENSION_FOLDER
import GLib from 'gi://GLib';
import Gio from 'gi://Gio';
import System from 'system';
import {SHAPES, StandIn} from './extension_standin.js';

// The symbols files go to a folder of the test's own, which must be empty at the end.
const config = GLib.dir_make_tmp('keyflare-config-XXXXXX');
GLib.setenv('XDG_CONFIG_HOME', config, true);

// The parts as the build joins them.
const read = path => new TextDecoder().decode(GLib.file_get_contents(path)[1]);
const body = ['names.js', 'keymap.js', 'xserver.js', 'typing.js', 'windows.js', 'service.js']
    .map(part => read(`${System.programArgs[0]}/${part}`)).join('\n');
const parts = new Function(`'use strict';\n${body}\n` +
    'return {ShellBus, ShellMethod, ShellOutcome, keymapPart, typingPart, keyflareService,\n' +
    '    useXServer: XServer => (xServerPart = () => XServer)};')();
const {ShellBus, ShellMethod, ShellOutcome: O} = parts;

let failures = 0;
function check(title, actual, expected) {
    const [got, want] = [JSON.stringify(actual), JSON.stringify(expected)];
    if (got !== want) {
        ++failures;
        printerr(`FAIL ${title}\n  got      ${got}\n  expected ${want}`);
    }
}

const [a, b, c, d, e, f] = [...'abcdef'].map(ch => ch.charCodeAt(0));
const CAPS = 0xffe5;
const TEXTS = {A: [[a, b]], B: [[0xff0d]], C: [[c]], D: [[d], [e]], F: [[d], [e], [f]]};
// A section a part, marked with the text and the part.
const symbolsOf = name => TEXTS[name].map((p, i) =>
    `xkb_symbols "p${i + 1}" {\n    // ${name}${i + 1}\n};\n`).join('');

const US = {layouts: 'us', variants: ''};
const US_RU = {layouts: 'us,ru', variants: ',phonetic'};
const THREE = {layouts: 'us,ru,de', variants: ',phonetic,'};
const back = user => [`keymap ${user.layouts}/${user.variants}`, 'layout 0'];
const typedA = ['keymap us,keyflare/,k1 A1', 'layout 1', ...back(US)];
// The same, kept for an X11 program.
const keptA = ['keymap us,keyflare/,k1 A1', 'layout 1', 'layout 0'];
const keptB = ['keymap us,keyflare/,k1 B1', 'layout 1', 'layout 0'];

// What happens before a send or once a key of it has gone.
const EVENTS = {
    unfocus: w => (w.display.focus_window = null),
    shellMenu: w => (w.global.stage.key_focus = {get_parent: () => null}),
    windowHoldsKeys: (w, typist, target) => (w.global.stage.key_focus =
        {get_parent: () => target.get_compositor_private()}),
    choose: w => w.chooseKeymap({layouts: 'de', variants: ''}),
    switchLayout: w => (w.manager._current = {groupIndex: 1}),
    cancel: (w, typist) => typist.cancel(),
    noKeymap: w => (w.manager._currentKeymap = null),
    noGrab: w => (w.grabFails = true),
    capsLock: w => (w.capsLock = true),
    noXServer: w => (w.xServer.reachable = false),
    xServerStops: w => (w.xServer.answers = false),
};

// Title, the user's keymap, and steps: a send (the text; to an X11 window; events before it or
// after key `at`; past its deadline; what it comes to, when not all typed) or a RestoreKeymap;
// and what comes into force.
const SENDS = [
    ["a text goes beside the user's layouts, which come back after", US, [
        {send: 'A', effects: typedA}]],
    ['two parts beside two layouts, one after the other', US_RU, [
        {send: 'D', effects: ['keymap us,ru,keyflare,keyflare/,phonetic,k1,k2 D1 D2', 'layout 2',
            'layout 3', ...back(US_RU)]}]],
    ["the last of three layouts gives way to a text's two", THREE, [
        {send: 'D', effects: ['keymap us,ru,keyflare,keyflare/,phonetic,k1,k2 D1 D2', 'layout 2',
            'layout 3', ...back(THREE)]}]],
    ['parts with no room beside go alone, and are not kept for an X11 program', THREE, [
        {send: 'F', x11: true, effects: ['keymap keyflare/k1 F1 F2 F3', 'layout 0',
            'keymap keyflare/k2 F1 F2 F3', 'layout 0', 'keymap keyflare/k3 F1 F2 F3', 'layout 0',
            ...back(THREE)]}]],
    ['an X11 program keeps the layouts: a Return is typed with them, a new text goes after them',
        US, [
            {send: 'A', x11: true, effects: keptA},
            {send: 'B', x11: true, effects: ['layout 1', 'layout 0']},
            {send: 'C', x11: true, effects: ['keymap us,keyflare,keyflare/,k1,k2 A1 C1', 'layout 2',
                'layout 0']},
            {restore: true, effects: back(US)},
            {send: 'B', x11: true, effects: keptB}]],
    ['kept layouts with no room for the next text go', US_RU, [
        {send: 'A', x11: true, effects: ['keymap us,ru,keyflare/,phonetic,k1 A1', 'layout 2',
            'layout 0']},
        {send: 'D', x11: true, effects: ['keymap us,ru,keyflare,keyflare/,phonetic,k1,k2 D1 D2',
            'layout 2', 'layout 3', 'layout 0']}]],
    ["a send to a Wayland window gives the user's keymap back", US, [
        {send: 'A', x11: true, effects: keptA},
        {send: 'B', effects: ['layout 1', ...back(US)]},
        {send: 'B', x11: true, effects: keptB}]],
    // The key under way when the user chooses may be read with the user's choice: not counted.
    ['input sources the user chooses during a send stop it and stay', US, [
        {send: 'A', x11: true, at: 2, event: 'choose', result: [1, O.keymapChanged], keys: [a, b],
            effects: ['keymap us,keyflare/,k1 A1', 'layout 1']},
        {send: 'B', x11: true, effects: ['keymap de,keyflare/,k1 B1', 'layout 1', 'layout 0']}]],
    ["so does another of the user's layouts, which the keymap comes back with", US_RU, [
        {send: 'A', at: 2, event: 'switchLayout', result: [1, O.keymapChanged], keys: [a, b],
            effects: ['keymap us,ru,keyflare/,phonetic,k1 A1', 'layout 2', 'keymap us,ru/,phonetic',
                'layout 1']}]],
    ['a window without the focus gets nothing', US, [
        {send: 'A', before: 'unfocus', result: [0, O.focusLost], effects: []}]],
    ["nor one while the shell's own interface holds the keyboard", US, [
        {send: 'A', before: 'shellMenu', result: [0, O.focusLost], effects: []}]],
    ["the window's own actor holding the keyboard is no bar", US, [
        {send: 'A', before: 'windowHoldsKeys', effects: typedA}]],
    ['the focus moving stops a send after the key under way', US, [
        {send: 'A', at: 1, event: 'unfocus', result: [1, O.focusLost], effects: typedA}]],
    ['so does the caller leaving', US, [
        {send: 'A', at: 1, event: 'cancel', result: [1, O.cancelled], effects: typedA}]],
    ['and the time Keyflare waits running out', US, [
        {send: 'A', late: true, result: [0, O.timedOut], effects: typedA}]],
    ["nothing is typed before the shell has applied the user's keymap", US, [
        {send: 'A', before: 'noKeymap', result: [0, O.keymapUnknown], effects: []}]],
    ['nor when the key that tells a key has passed cannot be bound', US, [
        {send: 'A', before: 'noGrab', result: [0, O.failed], effects: typedA}]],
    ["an X11 window's keys wait for its X server: nothing is typed without it", US, [
        {send: 'A', x11: true, before: 'noXServer', result: [0, O.xServerSilent], effects: []}]],
    ['and a server that stops answering stops the send after the key under way', US, [
        {send: 'A', x11: true, at: 1, event: 'xServerStops', result: [1, O.xServerSilent],
            effects: keptA}]],
    ['Caps Lock is let go for the text and taken up again', US, [
        {send: 'A', before: 'capsLock', keys: [CAPS, a, b, CAPS], effects: typedA}]],
    ['and left as it is when a send fails before it', US, [
        {send: 'A', before: ['capsLock', 'noGrab'], result: [0, O.failed], keys: [],
            effects: typedA}]],
];

// Runs the steps of a row on a stand-in of shape; returns the stand-in.
async function runSends(shape, [title, user, steps]) {
    const world = new StandIn(shape, user);
    const typist = new (parts.typingPart(world.services, parts.keymapPart(world.services),
        world.XServer))();
    for (const [n, step] of steps.entries()) {
        const name = `${shape}: ${title}, step ${n + 1}`;
        world.effects = [];
        world.keys = [];
        if (step.restore) {
            await typist.giveKeymapBack();
        } else {
            const target = world.window(step.x11);
            [step.before ?? []].flat().forEach(event => EVENTS[event](world, typist, target));
            world.atKey = key => key === step.at && EVENTS[step.event](world, typist, target);
            const deadline = step.late ? 0 : GLib.get_monotonic_time() + 60e6;
            const text = TEXTS[step.send];
            const [typed, outcome] = await typist.type(target, symbolsOf(step.send), text,
                deadline);
            check(`${name}: typed`, [typed, outcome], step.result ?? [text.flat().length, O.done]);
            check(`${name}: keys`, world.keys, step.keys ?? text.flat().slice(0, typed));
        }
        check(`${name}: in force`, world.effects, step.effects);
        check(`${name}: left behind`, world.leftovers(), []);
    }
    typist.destroy();
    return world;
}

// The calls each release's mutter gets for a text kept for an X11 program, then given back.
const CALLS = {
    43: ['set_keymap(us,keyflare|,k1|)', 'lock_layout_group(1)', 'lock_layout_group(0)',
        'set_keymap(us||)', 'lock_layout_group(0)'],
    46: ['set_keymap(us,keyflare|,k1||pc105)', 'lock_layout_group(1)', 'lock_layout_group(0)',
        'set_keymap(us|||pc105)', 'lock_layout_group(0)'],
    49: ['set_keymap_async(us,keyflare|,k1||pc105)', 'set_keymap_layout_group_async(1)',
        'set_keymap_layout_group_async(0)', 'set_keymap_async(us|||pc105)',
        'set_keymap_layout_group_async(0)'],
    51: ['set_keymap_async(pc105|us,keyflare|,k1||US,Keyflare, 1)',
        'set_keymap_async(pc105|us,keyflare|,k1||US,Keyflare, 0)',
        'set_keymap_async(pc105|us|||US, 0)'],
};

async function testTyping() {
    for (const shape of SHAPES) {
        for (const row of SENDS)
            await runSends(shape, row);
        const world = await runSends(shape, ['calls', US, [
            {send: 'A', x11: true, effects: keptA}, {restore: true, effects: back(US)}]]);
        check(`${shape}: calls`, world.calls, CALLS[shape]);
    }
}

// The bus and the caller check, on a bus of the test's own that tells the pid of each caller.
async function testService() {
    const world = new StandIn('51', US);
    const pids = new Map([[':1.1', new Gio.Credentials().get_unix_pid()]]);
    let exported, xml, nameLeft;
    const bus = {
        call: (dest, path, iface, method, args, type, flags, timeout, cancel, callback) =>
            callback(bus, new GLib.Variant('(u)', [pids.get(args.deepUnpack()[0])])),
        call_finish: reply => reply,
        signal_subscribe: (...args) => (nameLeft = args[6]),
        signal_unsubscribe() {},
    };
    const gio = Object.setPrototypeOf({
        DBus: {session: bus},
        DBusExportedObject: {wrapJSObject: (...args) => ([xml, exported] = args) &&
            {export() {}, unexport() {}}},
        bus_own_name_on_connection: () => 1,
        bus_unown_name() {},
    }, Gio);
    const folder = GLib.dir_make_tmp('keyflare-extension-XXXXXX');
    const approve = path => GLib.file_set_contents(`${folder}/approved-callers`, `${path}\n`);
    parts.useXServer(world.XServer);
    const service = parts.keyflareService({...world.services, Gio: gio}, folder);
    service.enable();
    const ask = (method, params = [], sender = ':1.1') => new Promise(resolve =>
        exported[`${method}Async`](params, {
            get_sender: () => sender,
            return_value: v => resolve(v?.deepUnpack() ?? null),
            return_dbus_error: (name, message) => resolve(`${name}: ${message}`),
        }));
    const refused = reply => `${reply}`.startsWith(ShellBus.notAllowed) &&
        `${reply}`.replace(/.*: /, '');

    const methods = Gio.DBusNodeInfo.new_for_xml(xml).lookup_interface(ShellBus.interface).methods;
    check('the interface is the one Keyflare calls, each method answered',
        methods.map(m => [m.name, `${m.name}Async` in exported]),
        Object.values(ShellMethod).map(m => [m, true]));

    // Callers: approved by the file they run, and only while the process that connected lives.
    const sleep = GLib.find_program_in_path('sleep');
    approve(sleep);
    check('another program is refused', refused(await ask(ShellMethod.FocusedWindow)),
        `${GLib.file_read_link('/proc/self/exe')} is not Keyflare`);
    const process = Gio.Subprocess.new([sleep, '600'], Gio.SubprocessFlags.NONE);
    pids.set(':1.2', Number(process.get_identifier()));
    check('an approved program is served', await ask(ShellMethod.FocusedWindow, [], ':1.2'), [0]);
    process.force_exit();
    await new Promise(resolve => process.wait_async(null, resolve));
    check('and refused once the process that connected has ended',
        refused(await ask(ShellMethod.FocusedWindow, [], ':1.2')),
        'the process that connected is gone');

    // A send under way to an X11 program that keeps an earlier text's layouts: another is busy,
    // RestoreKeymap leaves the keymap, the caller leaving stops it.
    approve(GLib.file_read_link('/proc/self/exe'));
    const id = world.window(true).get_id();
    const send = (limit = 60000, name = 'A') =>
        ask(ShellMethod.Type, [id, symbolsOf(name), TEXTS[name], limit]);
    check('an approved caller may type', (await send(60000, 'C')).slice(0, 2), [1, O.done]);
    world.keys = [];
    world.atKey = async key => {
        if (key !== 1)
            return;
        check('a second send while one is under way', await send(), [0, O.busy, 0]);
        const effects = world.effects.length;
        check('RestoreKeymap answers', await ask(ShellMethod.RestoreKeymap), null);
        check('and leaves the send its keymap', world.effects.length, effects);
        nameLeft(null, null, null, null, null, new GLib.Variant('(sss)', [':1.1', ':1.1', '']));
    };
    check('the caller leaving stops its send', (await send()).slice(0, 2), [1, O.cancelled]);
    world.atKey = null;
    check('a send stops once its time is up', (await send(0)).slice(0, 2), [0, O.timedOut]);
    check('a window that is gone gets nothing', (await ask(ShellMethod.Type,
        [id + 1, symbolsOf('A'), TEXTS.A, 60000])).slice(0, 2), [0, O.focusLost]);

    // Word of window changes: to the watcher's connection alone, once for a burst, until the
    // watcher leaves.
    const told = [];
    bus.emit_signal = (dest, path, iface, name) => told.push(`${dest} ${name}`);
    const idle = () => new Promise(resolve => GLib.idle_add(GLib.PRIORITY_LOW, () => {
        resolve();
        return GLib.SOURCE_REMOVE;
    }));
    check('a window lists its program', (await ask(ShellMethod.Windows))[0][0].slice(3),
        ['Stand-in']);
    check('an approved caller may watch', await ask(ShellMethod.WatchWindows), null);
    world.window(false);
    world.windows[0].emit('notify::title');
    world.display.emit('restacked');
    await idle();
    check('a burst is told once, to the watcher alone', told, [`:1.1 ${ShellBus.windowsChanged}`]);
    nameLeft(null, null, null, null, null, new GLib.Variant('(sss)', [':1.1', ':1.1', '']));
    check('the watcher leaving stops the watch', [world.display.connected,
        world.windows.map(w => w.connected)], [0, [0, 0]]);
    service.disable();
    GLib.unlink(`${folder}/approved-callers`);
    GLib.rmdir(folder);
}

const loop = new GLib.MainLoop(null, false);
testTyping().then(testService).catch(error => {
    logError(error);
    ++failures;
}).finally(() => loop.quit());
loop.run();
check('the symbols files are all gone', GLib.rmdir(config), 0);
print(failures ? `${failures} checks failed` : 'all checks passed');
System.exit(failures ? 1 : 0);
