// The progress dialog of a transfer, phase by phase with its percentage
// (converting, writing, verifying...), and the dialogs that report how a
// transfer ended.
import { closeDialog, setDialogProgress, showDialog } from './dialogs.js';

export const PHASE_LABEL = Object.freeze({
    convert: 'Converting',
    write: 'Writing to the unit',
    verify: 'Verifying',
    resend: 'Sending again what differs',
    recheck: 'Checking it again',
    read: 'Reading from the unit',
    clear: 'Clearing slots',
});

export const TRANSFER = 'transfer';

export class ProgressDialog {
    constructor() {
        this.open = false;
        this.token = 0;
        this.list = null;
        this.rows = new Map();
    }

    // phases: the ones expected, in order (others are added as they come).
    show(title, phases, onCancel) {
        const token = ++this.token;
        this.open = true;
        this.rows = new Map();
        this.list = document.createElement('ol');
        this.list.className = 'phases';
        for (const p of phases) this.row(p);
        showDialog({
            title, text: '', body: this.list, progress: true, kind: TRANSFER,
            buttons: [{ label: 'Cancel', value: 'cancel' }],
        }).then((v) => {
            if (token !== this.token) return;
            this.open = false;
            if (v === 'cancel') onCancel();
        });
    }

    row(phase) {
        if (!this.rows.has(phase)) {
            const li = document.createElement('li');
            li.dataset.phase = phase;
            li.dataset.state = 'waiting';
            this.list.append(li);
            this.rows.set(phase, li);
            this.text(phase, null);
        }
        return this.rows.get(phase);
    }

    text(phase, percent) {
        const li = this.rows.get(phase);
        li.textContent = `${PHASE_LABEL[phase] ?? phase}${percent === null ? '' : ` ${percent} %`}`;
    }

    // The current phase at its percentage; the phases before it are done.
    set(phase, percent) {
        if (!this.open) return;
        const pct = Math.max(0, Math.min(100, Math.round(percent)));
        const li = this.row(phase);
        for (const [p, row] of this.rows) {
            if (row === li) break;
            if (row.dataset.state !== 'done') {
                row.dataset.state = 'done';
                if (row.textContent === (PHASE_LABEL[p] ?? p)) row.dataset.state = 'skipped';
            }
        }
        li.dataset.state = 'running';
        this.text(phase, pct);
        setDialogProgress(pct, `${PHASE_LABEL[phase] ?? phase}… ${pct} %`);
    }

    close() {
        this.token++;
        if (this.open) closeDialog();
        this.open = false;
    }
}

// A report dialog of a transfer; resolves with the chosen button's value.
export function showReport(title, text, buttons = [{ label: 'OK', value: 'ok', primary: true }]) {
    return showDialog({ title, text, buttons, kind: TRANSFER });
}

// Why a transfer stopped, in words.
export function stopReason(reason) {
    switch (reason) {
    case 'gone': return 'The unit was disconnected.';
    case 'silent':
    case 'timeout': return 'The unit stopped answering.';
    case 'differ': return '';
    default: return '';
    }
}
