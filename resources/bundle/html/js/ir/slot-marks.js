// Slots whose last write did not finish: marked before the first message
// goes out, cleared once the slot verified or was cleared. The marks are
// kept in the page's preferences per unit (the port's device name), so a
// half-written slot is still shown as such after the editor restarts.
const STORE_KEY = 'incompleteSlots';

export class SlotMarks {
    constructor(native) {
        this.native = native;
        this.unitKey = '';
        this.marks = {};
        this.listeners = [];
    }

    // The unit the marks are about from now on.
    useUnit(key) {
        this.unitKey = String(key ?? '');
        this.marks = this.load()[this.unitKey] ?? {};
        this.changed();
    }

    load() {
        try {
            const v = JSON.parse(this.native.app.storage2(STORE_KEY) || '{}');
            return v && typeof v === 'object' && !Array.isArray(v) ? v : {};
        } catch {
            return {};
        }
    }

    save() {
        const all = this.load();
        if (Object.keys(this.marks).length) all[this.unitKey] = this.marks;
        else delete all[this.unitKey];
        try {
            this.native.app.storage2(STORE_KEY, JSON.stringify(all));
        } catch {
            // Preferences are optional: the mark still holds for this session.
        }
    }

    // info: { name, file, what } (what the write was: "load", "restore"...).
    mark(slot, info) {
        this.marks[slot] = { ...info };
        this.save();
        this.changed();
    }

    // Adds to a mark what is known about the unfinished write.
    note(slot, detail) {
        if (!this.marks[slot]) return;
        this.marks[slot].detail = detail;
        this.save();
        this.changed();
    }

    clear(slot) {
        if (!(slot in this.marks)) return;
        delete this.marks[slot];
        this.save();
        this.changed();
    }

    get(slot) {
        return this.marks[slot] ?? null;
    }

    onChange(fn) {
        this.listeners.push(fn);
    }

    changed() {
        for (const fn of [...this.listeners]) fn();
    }
}
