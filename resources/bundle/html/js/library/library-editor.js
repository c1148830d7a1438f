// The library panel in the editor: a selected row shows in the preview; rows
// dropped on a slot (or loaded with Enter / a double click) go through the
// editor's own load, one file after another.
import { installLibraryPanel } from './library-panel.js';
import { libraryDragPaths, loadIntoSlots } from './library-drop.js';

// Resolves a started load when the loader reports its end (the editor hands
// it every loader event).
export function createLoadWaiter() {
    let resolve = null;
    return {
        wait(start) {
            return new Promise((res) => {
                resolve = res;
                if (!start()) {
                    resolve = null;
                    res({ type: 'error', reason: 'busy' });
                }
            });
        },
        // Loader events: the end of a load is "finished", "cancelled" or
        // "stopped" (the unit went away, or the slot did not verify), or an
        // "error" once the loader has let go of the job.
        observe(e, busy) {
            const ended = e.type === 'finished' || e.type === 'cancelled' || e.type === 'stopped';
            if (ended || (e.type === 'error' && !busy)) {
                const r = resolve;
                resolve = null;
                r?.(e);
            }
        },
    };
}

const slotRange = (slots) => (slots.length === 1 ? `slot ${slots[0] + 1}` : `slots ${slots[0] + 1}–${slots.at(-1) + 1}`);
const baseName = (p) => String(p).split('/').pop();

// editor: { native, setting, loader, waiter, preview(path), startLoad(slot, path),
//           chooseSlot(path) -> slot | null, ensureUnit() -> Promise<bool>, showDialog,
//           showError(reason) }
export function installLibrary(editor) {
    const { native, setting, loader, waiter, showDialog } = editor;
    const loadFiles = async (slot, paths) => {
        if (paths.length === 1) return editor.startLoad(slot, paths[0]);
        if (loader.busy || !(await editor.ensureUnit())) return;
        const result = await loadIntoSlots({
            slot, paths, slotCount: setting.numOfIrData,
            confirm: async ({ slots, paths: fitting, left }) => {
                const more = left.length ? `\n${left.length} more do not fit behind slot ${setting.numOfIrData}.` : '';
                const answer = await showDialog({
                    title: `Load ${fitting.length} files into ${slotRange(slots)}?`,
                    text: fitting.map((p, i) => `${slots[i] + 1}: ${baseName(p)}`).join('\n') + more,
                    buttons: [{ label: 'Load', value: 'load', primary: true }, { label: 'Cancel', value: 'cancel' }],
                });
                return answer === 'load';
            },
            load: (s, path) => waiter.wait(() => loader.load(s, path)),
        });
        if (result.loaded.length > 1 && !result.stopped) {
            showDialog({ title: 'Finished', text: result.loaded.map((l) => `Slot ${l.slot + 1} now holds "${l.name}".`).join('\n') });
        }
    };
    const panel = installLibraryPanel({
        native,
        root: document.getElementById('library-panel'),
        onPreview: editor.preview,
        onLoad: async (paths) => {
            if (!paths.length || loader.busy) return;
            const slot = await editor.chooseSlot(paths.length === 1 ? paths[0] : `${paths.length} files`);
            if (slot !== null) loadFiles(slot, paths);
        },
        showDialog,
    });
    return {
        panel,
        // true when the drop came from the library (and is being loaded).
        drop(slot, dataTransfer) {
            const paths = libraryDragPaths(dataTransfer);
            if (!paths.length) return false;
            if (loader.busy) editor.showError('busy');
            else loadFiles(slot, paths);
            return true;
        },
    };
}
