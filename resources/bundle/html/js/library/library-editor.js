// The library panel in the editor: a selected row shows in the preview; rows
// dropped on a slot (or loaded with Enter / a double click) go through the
// editor's own load (one row) or its batch (several).
import { installLibraryPanel } from './library-panel.js';
import { libraryDragPaths } from './library-drop.js';

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

// editor: { native, loader, loadFiles(slot, paths), chooseSlot(paths) ->
//           slot | null, preview(path), showDialog, showError(reason) }. Several rows go through the
// editor's batch, like several files.
export function installLibrary(editor) {
    const { loader } = editor;
    const panel = installLibraryPanel({
        native: editor.native,
        root: document.getElementById('library-panel'),
        onPreview: editor.preview,
        onLoad: async (paths) => {
            if (!paths.length || loader.busy) return;
            const slot = await editor.chooseSlot(paths);
            if (slot !== null) editor.loadFiles(slot, paths);
        },
        showDialog: editor.showDialog,
    });
    return {
        panel,
        // true when the drop came from the library (and is being loaded).
        drop(slot, dataTransfer) {
            const paths = libraryDragPaths(dataTransfer);
            if (!paths.length) return false;
            if (loader.busy) editor.showError('busy');
            else editor.loadFiles(slot, paths);
            return true;
        },
    };
}
