// What the editors edit: the unit (the model mirrors it, every edit goes
// out as DT1) or a backup file's image (edits stay in the image until it is
// saved or written to a unit). The editors see one EditSource at a time
// through a SourceSwitch and work the same over either.
//
// Every edit is recorded in the source's undo history: per patch (for the
// unit, the user patch the patch being edited came from; for a backup,
// each user patch) and one for the system area.
import { HistoryBook, applyChanges } from './undo-history.js';
import { formatValue, paramLabel } from './display.js';

export const SourceKind = Object.freeze({ unit: 'unit', backup: 'backup' });

const areaOf = (blockId) => blockId.split('%')[0];

export class EditSource {
    // canEdit(): whether edits may be made now (a unit that answers);
    // savedImage(area): the area as last saved (a backup file's), for
    // comparing with it.
    constructor({ kind, label, parameter, canEdit = () => true, savedImage = null }) {
        Object.assign(this, { kind, label, parameter, canEdit, savedImage });
        this.map = parameter.map;
        this.history = new HistoryBook();
        // While set (a comparison shows the stored patch), nothing is edited.
        this.lockedBy = null;
        // The user patch a backup's patch editor shows (0-based).
        this.selectedPatch = 0;
        this.listeners = [];
    }

    get editable() {
        return !this.lockedBy && this.canEdit();
    }

    // The area the patch editor works on.
    patchArea() {
        return this.kind === SourceKind.unit ? 'PATCH' : `PATCH(${this.selectedPatch + 1})`;
    }

    // The user patch (0-based) the patch being edited came from.
    currentPatch() {
        if (this.kind !== SourceKind.unit) return this.selectedPatch;
        return Number(this.parameter.get('SETUP%COMMON%0')) || 0;
    }

    // Whose history an area's edits go into: the unit's patch being edited
    // keeps one per user patch it came from.
    historyKey(area) {
        if (this.kind === SourceKind.unit && area === 'PATCH') return `PATCH@${this.currentPatch()}`;
        return area;
    }

    historyOf(area) {
        return this.history.get(this.historyKey(area));
    }

    onEdited(fn) {
        this.listeners.push(fn);
    }

    // e: { area, kind: 'edit' | 'undo' | 'redo' | 'replace', step }
    emit(e) {
        for (const fn of [...this.listeners]) fn(e);
    }

    // One control's edit; gesture groups the edits of one drag into one
    // step. false when nothing may be edited now.
    edit(paramId, value, gesture) {
        if (!this.editable) return false;
        const p = this.map.param(paramId);
        if (!p) return false;
        const before = this.parameter.bytesOf(paramId);
        if (!this.parameter.set(paramId, value, true)) return false;
        const after = this.parameter.bytesOf(paramId);
        const area = areaOf(p.block);
        const label = `${paramLabel(p)} ${formatValue(p, this.parameter.get(paramId), this.parameter)}`;
        this.historyOf(area).record({ label, gesture, changes: [{ blockId: p.block, offset: p.offset, before, after }] });
        this.emit({ area, kind: 'edit' });
        return true;
    }

    // Changes already made to the model by a transfer or a replacement (a
    // patch file, a copy), recorded as one step.
    recordChanges(area, changes, label) {
        if (this.historyOf(area).record({ label, changes })) this.emit({ area, kind: 'replace' });
    }

    // Writes an image (blockId -> data) into the model as one step: the
    // differences only, each sent to the unit when the source is one.
    replace(area, changes, label) {
        if (!this.editable || !changes.length) return false;
        applyChanges(this.parameter, changes, 'after', true);
        this.recordChanges(area, changes, label);
        return true;
    }

    undo(area) {
        return this.step(area, 'undo');
    }

    redo(area) {
        return this.step(area, 'redo');
    }

    step(area, kind) {
        if (!this.editable) return null;
        const history = this.historyOf(area);
        const step = history[kind]((changes, side) => applyChanges(this.parameter, changes, side, true));
        if (step) this.emit({ area, kind, step });
        return step;
    }
}

// The one source the editors show, and the model's notifications from it
// only.
export class SourceSwitch {
    constructor(source) {
        this.current = source;
        this.observers = [];
        this.listeners = [];
        // source -> its model observer
        this.watched = new Map();
        this.watch(source);
    }

    get parameter() {
        return this.current.parameter;
    }

    get map() {
        return this.current.map;
    }

    watch(source) {
        if (this.watched.has(source)) return;
        const observer = (blockId, start, end) => {
            if (source !== this.current) return;
            for (const o of [...this.observers]) o(blockId, start, end);
        };
        this.watched.set(source, observer);
        source.parameter.addObserver(observer);
    }

    // A source no longer shown (a backup file closed) is let go.
    release(source) {
        if (source === this.current || !this.watched.has(source)) return;
        source.parameter.removeObserver(this.watched.get(source));
        this.watched.delete(source);
    }

    use(source) {
        if (source === this.current) return;
        this.watch(source);
        this.current = source;
        for (const fn of [...this.listeners]) fn(source);
    }

    addObserver(fn) {
        this.observers.push(fn);
    }

    onSwitch(fn) {
        this.listeners.push(fn);
    }
}
