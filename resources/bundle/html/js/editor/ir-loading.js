// Getting IR files into slots, however they come: chosen in the dialog (one
// or several), dropped on a slot (files or a folder), handed to the program,
// or picked in the library. One file goes through the single load (preview,
// then "Load into slot n?"), several through the batch; the preview always
// shows the file a dialog asks about, beside the dialog.
import { showDialog, showError } from './dialogs.js';
import { loadBatch } from './batch-flow.js';
import { IrPreview } from './preview.js';
import { Audition } from './audition.js';
import { SlotIr } from '../ir/slot-ir.js';
import { AUDIO_EXTENSIONS, isAudioFile } from '../ir/ir-source.js';
import { expandDropped } from '../ir/dropped-files.js';
import { baseName } from '../ir/ir-messages.js';
import { nameNotice, unitName } from '../ir/slot-name.js';

// The slot name as the unit will hold it, said before anything is written.
export function slotNameLine(setting, name, stereo) {
    const length = setting.irDataNameLength;
    const full = stereo ? `[L]${name}` : name;
    const notice = nameNotice(full, length);
    const shown = stereo
        ? `"${unitName(full, length).name}", "${unitName(`[R]${name}`, length).name}" or "${unitName(`[M]${name}`, length).name}", by the channel taken`
        : `"${unitName(name, length).name}"`;
    return `The unit will name the slot ${shown}${notice ? ` (${notice})` : ''}.`;
}

// editor: { kx5, native, setting, loader, waiter, progress, ensureUnit,
// needUnit, connected, busy(), selectTab(id), remember(path), lastPath(),
// slots() (the slot list), offerToFinish() }.
export function installIrLoading(editor) {
    const { kx5, native, setting, loader } = editor;
    const parameter = kx5.parameter;
    const slotIr = new SlotIr({
        parameter, readWrite: kx5.readWrite, isConnected: editor.connected,
        isFree: () => !editor.busy() && !kx5.readWrite.busy,
    });
    let audition = null;
    const preview = new IrPreview({ native, slotIr: (k) => slotIr.get(k), onShown: () => audition?.shown() });
    audition = new Audition({ native, current: () => preview.current, overlay: () => preview.overlay });
    let batch = null;
    const loadedName = (k) => (parameter.get(`IRDATA%STATUS%${k}`) === 1
        ? String(parameter.get(`IRDATA(${k + 1})%NAME%0`)).trimEnd() : '');
    const fileNameOf = (k) => editor.slots()?.fileName?.(k) ?? '';

    // The file in the preview, compared with what the slot holds now.
    const showFile = (path, slot = editor.slots()?.selected?.() ?? null) => {
        editor.selectTab('tab-preview');
        const facts = preview.showFile(path);
        preview.setOverlay(slot !== null && loadedName(slot) ? slot : null, loadedName(slot ?? -1));
        return facts;
    };

    const startLoad = async (slot, path) => {
        if (!(await editor.ensureUnit())) return;
        editor.remember(path);
        editor.slots()?.select(slot, false);
        const facts = showFile(path, slot);
        const name = String(path).split('/').pop();
        const replaces = loadedName(slot);
        const go = await showDialog({
            title: `Load into slot ${slot + 1}?`, aside: true,
            text: [
                facts ? `${name}: ${facts.notice}` : name,
                slotNameLine(setting, baseName(path), facts?.channels === 2),
                replaces ? `It replaces "${replaces}".` : '',
            ].filter(Boolean).join('\n'),
            buttons: [{ label: 'Load', value: 'load', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        if (go === 'load') loader.load(slot, path);
    };

    const loadFiles = async (slot, paths) => {
        if (!paths.length) return null;
        if (paths.length === 1) return startLoad(slot, paths[0]);
        if (loader.busy || batch) return showError('busy');
        editor.remember(paths[0]);
        editor.slots()?.select(slot, false);
        editor.selectTab('tab-preview');
        return loadBatch({
            ...editor, parameter, preview,
            setBatch: (b) => { batch = b; },
        }, slot, paths);
    };

    // "Load into which slot?" for files handed to the program or picked in
    // the library; the file (or the first) is in the preview beside it.
    const chooseSlot = async (paths) => {
        if (paths.length === 1) showFile(paths[0]);
        const select = document.createElement('select');
        select.id = 'open-slot';
        select.setAttribute('aria-label', 'Slot');
        for (let k = 0; k < setting.numOfIrData; k++) {
            const held = loadedName(k);
            select.append(new Option(`Slot ${k + 1}: ${held || '(empty)'}`, String(k)));
        }
        const firstEmpty = [...select.options].findIndex((o) => o.textContent.endsWith('(empty)'));
        select.selectedIndex = Math.max(0, firstEmpty);
        const overlay = () => {
            const k = Number(select.value);
            preview.setOverlay(loadedName(k) ? k : null, loadedName(k));
        };
        select.addEventListener('change', overlay);
        overlay();
        const answer = await showDialog({
            title: 'Load into which slot?', aside: true,
            text: paths.length === 1 ? String(paths[0]).split('/').pop() : `${paths.length} files, into this slot and the ones after it`,
            body: select,
            buttons: [{ label: 'Continue', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
        });
        return answer === 'go' ? Number(select.value) : null;
    };

    // The dialog of a slot's "Load…": one file or several.
    let choosingFor = null;
    native.irfile.events.openfiles = (json) => {
        const slot = choosingFor;
        choosingFor = null;
        let paths = [];
        try { paths = JSON.parse(json); } catch { paths = []; }
        if (slot === null || !Array.isArray(paths) || !paths.length) return;
        loadFiles(slot, paths.filter((p) => typeof p === 'string'));
    };
    const chooseFiles = (slot) => {
        if (!editor.needUnit()) return;
        const folder = editor.lastPath() || undefined;
        if (typeof native.irfile?.openfiles === 'function') {
            choosingFor = slot;
            native.irfile.openfiles(JSON.stringify(AUDIO_EXTENSIONS), folder);
            return true;
        }
        return false;
    };

    return {
        preview, slotIr, startLoad, loadFiles, chooseSlot, chooseFiles, showFile,
        get batch() { return batch; },

        // A file handed to the program: into which slot?
        async openHanded(path) {
            if (!editor.needUnit()) return;
            const slot = await chooseSlot([path]);
            if (slot !== null) startLoad(slot, path);
        },

        // Files dropped on a slot from outside (the host recorded them).
        dropped(slot) {
            let paths = [];
            try { paths = native.app.dropfiles(); } catch { paths = []; }
            const { files } = expandDropped(native, paths);
            if (!files.length) return showError('unsupported', paths.length ? String(paths[0]).split('/').pop() : undefined);
            return loadFiles(slot, files);
        },

        // A click on a slot: what it holds, in the preview.
        async show(slot) {
            if (!loadedName(slot)) return;
            editor.selectTab('tab-preview');
            await preview.showSlot(slot, { name: loadedName(slot), file: fileNameOf(slot) });
        },

        isAudioFile,
    };
}
