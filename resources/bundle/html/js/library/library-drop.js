// Library rows dragged onto a slot: the paths travel in the drag data (the
// editor's batch loads several into the slots from the one they were
// dropped on).
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
