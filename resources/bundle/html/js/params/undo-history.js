// Undo and redo of parameter edits. A step is what one user action changed:
// a list of { blockId, offset, before, after } (bytes as hex texts). The
// edits of one gesture (a slider dragged from press to release) make one
// step. Histories are kept per key (a patch, the system area) in a book, so
// that switching patch keeps each patch's history.
export const DEFAULT_LIMIT = 500;

const same = (a, b) => a.length === b.length && a.every((x, i) => x === b[i]);
const changed = (c) => !same(c.before, c.after);
const sameTargets = (a, b) => a.length === b.length &&
    a.every((c, i) => c.blockId === b[i].blockId && c.offset === b[i].offset && c.before.length === b[i].before.length);

export class UndoHistory {
    constructor({ limit = DEFAULT_LIMIT } = {}) {
        this.limit = limit;
        this.done = [];
        this.undone = [];
    }

    get canUndo() {
        return this.done.length > 0;
    }

    get canRedo() {
        return this.undone.length > 0;
    }

    // The step an undo or redo would apply (for its label), or null.
    nextUndo() {
        return this.done.at(-1) ?? null;
    }

    nextRedo() {
        return this.undone.at(-1) ?? null;
    }

    // step: { label, changes, gesture }. A step of the gesture the last one
    // belongs to, over the same bytes, extends it; a gesture that ends where
    // it began leaves nothing. Returns whether the history changed.
    record(step) {
        const changes = (step.changes ?? []).map((c) => ({ ...c, before: [...c.before], after: [...c.after] }));
        const top = this.done.at(-1);
        if (step.gesture !== undefined && top && top.gesture === step.gesture && sameTargets(top.changes, changes)) {
            top.changes.forEach((c, i) => { c.after = changes[i].after; });
            top.label = step.label ?? top.label;
            if (!top.changes.some(changed)) this.done.pop();
            this.undone = [];
            return true;
        }
        const real = changes.filter(changed);
        if (!real.length) return false;
        this.done.push({ label: step.label ?? '', changes: real, gesture: step.gesture });
        if (this.done.length > this.limit) this.done.splice(0, this.done.length - this.limit);
        this.undone = [];
        return true;
    }

    // apply(changes, side): writes each change's bytes of that side
    // ("before" for an undo, "after" for a redo); false keeps the step
    // where it was (nothing could be applied). Returns the step or null.
    undo(apply) {
        const step = this.done.at(-1);
        if (!step) return null;
        if (apply([...step.changes].reverse(), 'before') === false) return null;
        this.undone.push(this.done.pop());
        return step;
    }

    redo(apply) {
        const step = this.undone.at(-1);
        if (!step) return null;
        if (apply(step.changes, 'after') === false) return null;
        this.done.push(this.undone.pop());
        return step;
    }

    clear() {
        this.done = [];
        this.undone = [];
    }
}

export class HistoryBook {
    constructor({ limit = DEFAULT_LIMIT } = {}) {
        this.limit = limit;
        this.histories = new Map();
    }

    get(key) {
        if (!this.histories.has(key)) this.histories.set(key, new UndoHistory({ limit: this.limit }));
        return this.histories.get(key);
    }

    clear() {
        this.histories.clear();
    }
}

// The changes that turn one image of blocks into another (Map or object of
// blockId -> hex texts): one change per run of differing bytes, and for a
// variable block (whose end moves with what is written) one change from the
// first differing byte to its end.
export function imageChanges(beforeImage, afterImage, map) {
    const entries = afterImage instanceof Map ? [...afterImage] : Object.entries(afterImage);
    const get = (id) => (beforeImage instanceof Map ? beforeImage.get(id) : beforeImage[id]) ?? [];
    const out = [];
    for (const [blockId, after] of entries) {
        const before = get(blockId);
        if (map?.block(blockId)?.size < 0) {
            let start = 0;
            while (start < after.length && before[start] === after[start]) start++;
            if (start < after.length || start < before.length) {
                out.push({ blockId, offset: start, before: before.slice(start), after: after.slice(start) });
            }
            continue;
        }
        let i = 0;
        while (i < after.length) {
            if (before[i] === after[i]) {
                i++;
                continue;
            }
            const start = i;
            while (i < after.length && before[i] !== after[i]) i++;
            out.push({ blockId, offset: start, before: before.slice(start, i), after: after.slice(start, i) });
        }
    }
    return out;
}

// Writes one side of the changes into the model; send makes each a DT1.
export function applyChanges(parameter, changes, side, send = true) {
    for (const c of changes) parameter.write(c.blockId, c.offset, c[side], send);
}
