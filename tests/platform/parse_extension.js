// Parses both forms of Keyflare's GNOME Shell extension as GNOME Shell would load them (the
// legacy one as a script, the module one as a module), so that a slip of syntax fails here and
// not only in a shell of that version. Usage: gjs parse_extension.js FOLDER
const {GLib} = imports.gi;

const folder = ARGV[0];
let failed = false;
for (const [form, target] of [['legacy', 'script'], ['module', 'module']]) {
    const path = `${folder}/${form}/keyflare@keyflare/extension.js`;
    const [, bytes] = GLib.file_get_contents(path);
    try {
        Reflect.parse(new TextDecoder().decode(bytes), {target, source: path});
        const [, meta] = GLib.file_get_contents(`${folder}/${form}/keyflare@keyflare/metadata.json`);
        JSON.parse(new TextDecoder().decode(meta));
        print(`${form}: parsed`);
    } catch (e) {
        printerr(`${form}: ${e}`);
        failed = true;
    }
}
imports.system.exit(failed ? 1 : 0);
