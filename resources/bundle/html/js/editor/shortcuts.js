// Keyboard shortcuts of the editor and the short help that lists them (F1
// or ?). Typing into a text field keeps its own keys (its own undo too);
// while a dialog is open only the dialog takes keys.
import { showDialog } from './dialogs.js';

// [keys as shown, what, action name]
export const SHORTCUTS = Object.freeze([
    ['Ctrl+O', 'Load a WAV file into the selected slot', 'openWav'],
    ['↑ ↓ Home End', 'Move through the slots (in the slot list)', null],
    ['Enter / F2 / Delete', 'Load into, rename or clear the selected slot', null],
    ['Ctrl+Z', 'Undo the last edit (patch, or system on the System tab)', 'undo'],
    ['Ctrl+Shift+Z, Ctrl+Y', 'Redo', 'redo'],
    ['Ctrl+D', 'Compare the edited patch with the stored one (A/B)', 'compare'],
    ['Ctrl+S', 'Save the patch to a .syx file', 'savePatch'],
    ['Ctrl+L', 'Load a patch from a .syx file', 'loadPatch'],
    ['Ctrl+B', 'Back up the unit', 'backup'],
    ['Ctrl+R', 'Restore a backup into the unit', 'restore'],
    ['Ctrl+E', 'Edit a backup file without the unit', 'editBackup'],
    ['Ctrl+1 … Ctrl+5', 'IR preview, Patch, System, MIDI monitor (and IR library on a narrow window)', null],
    ['Ctrl+Shift+L', 'Go to the slot list', 'slots'],
    ['F1 or ?', 'This help', 'help'],
    ['Escape', 'Close a dialog', null],
]);

// The action a key event asks for, or null. e: { key, ctrlKey, shiftKey,
// altKey, metaKey }; typing: the focus is in a text field.
export function shortcutFor(e, typing = false) {
    const ctrl = e.ctrlKey || e.metaKey;
    if (e.altKey) return null;
    const key = e.key.length === 1 ? e.key.toLowerCase() : e.key;
    if (e.key === 'F1') return 'help';
    if (!ctrl) return !typing && e.key === '?' ? 'help' : null;
    if (typing && ['z', 'y'].includes(key)) return null;
    if (key === 'z') return e.shiftKey ? 'redo' : 'undo';
    if (key === 'y' && !e.shiftKey) return 'redo';
    if (/^[1-5]$/.test(e.key)) return `tab${e.key}`;
    if (key === 'l') return e.shiftKey ? 'slots' : 'loadPatch';
    const plain = { o: 'openWav', d: 'compare', s: 'savePatch', b: 'backup', r: 'restore', e: 'editBackup' };
    return e.shiftKey ? null : plain[key] ?? null;
}

const isTyping = (el) => !!el && (el.tagName === 'TEXTAREA' || (el.tagName === 'INPUT' && !['range', 'checkbox', 'radio', 'button'].includes(el.type)) || el.isContentEditable);

export function showHelp() {
    const table = document.createElement('table');
    table.className = 'keys';
    for (const [keys, what] of SHORTCUTS) {
        const tr = document.createElement('tr');
        const k = document.createElement('th');
        k.textContent = keys;
        const w = document.createElement('td');
        w.textContent = what;
        tr.append(k, w);
        table.append(tr);
    }
    return showDialog({ title: 'Keyboard', text: '', body: table });
}

// actions: { name: fn } for the names above and tab1..tab4.
export function installShortcuts(actions) {
    document.addEventListener('keydown', (e) => {
        if (document.getElementById('dialog')?.open) return;
        const name = shortcutFor(e, isTyping(document.activeElement));
        const act = name && (name === 'help' ? showHelp : actions[name]);
        if (!act) return;
        e.preventDefault();
        act();
    });
}
