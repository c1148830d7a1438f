// Library rows dragged onto a slot: the paths travel in the drag data, and
// several files load one after another into the slots from the one they
// were dropped on, each through the editor's usual (verified) load.
export const DRAG_TYPE = 'application/x-kx5-library-paths';

// The page's own drag: kept here as well, for engines that hand custom
// types only to the drop of another document.
let current = null;

export function startLibraryDrag(dataTransfer, paths) {
    current = [...paths];
    dataTransfer.effectAllowed = 'copy';
    dataTransfer.setData(DRAG_TYPE, JSON.stringify(current));
    dataTransfer.setData('text/plain', current.join('\n'));
}

export function endLibraryDrag() {
    current = null;
}

// The library paths a drop carries; [] for anything else (files from
// outside come through the host instead).
export function libraryDragPaths(dataTransfer) {
    let text = '';
    try {
        text = dataTransfer?.getData(DRAG_TYPE) ?? '';
    } catch {
        text = '';
    }
    if (text) {
        try {
            const paths = JSON.parse(text);
            if (Array.isArray(paths)) return paths.filter((p) => typeof p === 'string');
        } catch {
            return [];
        }
    }
    const types = [...(dataTransfer?.types ?? [])];
    return current && types.includes(DRAG_TYPE) ? [...current] : [];
}

export function isLibraryDrag(dataTransfer) {
    return [...(dataTransfer?.types ?? [])].includes(DRAG_TYPE);
}

// Loads paths into slot, slot + 1, ... (0-based, below slotCount).
//   confirm({ slots, paths, left }) -> Promise<boolean>   left: paths that do not fit
//   load(slot, path) -> Promise<{ type }>                 'finished' (with error or not), 'cancelled', 'error'
// Stops at the first load that does not finish cleanly. Resolves with
// { loaded: [{ slot, path, name }], stopped: event or null }.
export async function loadIntoSlots({ slot, paths, slotCount, confirm, load }) {
    const fitting = paths.slice(0, Math.max(0, slotCount - slot));
    const slots = fitting.map((_, i) => slot + i);
    const result = { loaded: [], stopped: null };
    if (!fitting.length || !(await confirm({ slots, paths: fitting, left: paths.slice(fitting.length) }))) return result;
    for (let i = 0; i < fitting.length; i++) {
        const end = await load(slots[i], fitting[i]);
        if (end?.type !== 'finished' || end.error || end.state === 2) {
            result.stopped = end ?? { type: 'error' };
            break;
        }
        result.loaded.push({ slot: slots[i], path: fitting[i], name: end.name });
    }
    return result;
}
