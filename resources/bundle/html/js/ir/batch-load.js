// The one way several files go into slots (files chosen together, dropped
// together, a dropped folder, library rows): one verified load per planned
// row, in order, each exactly like a single load. A file that fails before
// anything is written leaves its slot as it was and the batch goes on; a
// write that stops (the unit went away, the slot did not verify) ends the
// batch; cancel() ends it after the slot being loaded.
export class BatchLoad {
    // load(row) -> Promise<the load's end event> ({ type: 'finished' |
    // 'error' | 'cancelled' | 'stopped', ... }); onStart(row, index, total);
    // why(event) -> the words for a failed file ("cannot be converted").
    constructor({ load, onStart = () => {}, why = (e) => e.reason ?? 'failed' }) {
        Object.assign(this, { load, onStart, why });
        this.cancelled = false;
        this.running = false;
    }

    cancel() {
        this.cancelled = true;
    }

    // Resolves with { loaded: [{ slot, path, name, notTaken }], skipped:
    // [{ slot, path, name, reason }], stopped: { slot, path, text, event } |
    // null, cancelled, notDone: [rows not begun] }.
    async run(plan) {
        this.running = true;
        const result = { loaded: [], skipped: [], stopped: null, cancelled: false, notDone: [] };
        const rows = plan.rows;
        try {
            for (let i = 0; i < rows.length; i++) {
                if (this.cancelled) {
                    result.cancelled = true;
                    result.notDone = rows.slice(i);
                    break;
                }
                const row = rows[i];
                this.onStart(row, i, rows.length);
                const end = (await this.load(row)) ?? { type: 'error', reason: 'no answer' };
                if (end.type === 'finished') {
                    result.loaded.push({ slot: row.slot, path: row.path, name: end.name, notTaken: end.state === 2 });
                } else if (end.type === 'error') {
                    result.skipped.push({ slot: row.slot, path: row.path, name: row.name, reason: this.why(end) });
                } else {
                    const text = end.report?.text ?? 'it was not verified.';
                    result.stopped = { slot: row.slot, path: row.path, text, event: end };
                    result.notDone = rows.slice(i + 1);
                    break;
                }
            }
        } finally {
            this.running = false;
        }
        if (this.cancelled && !result.stopped && !result.notDone.length && result.loaded.length + result.skipped.length === rows.length) {
            // Cancelled during the last slot: it finished, nothing was left.
            result.cancelled = false;
        }
        return result;
    }
}
