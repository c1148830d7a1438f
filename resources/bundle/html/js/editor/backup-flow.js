// What the user sees of backups and restores: what a backup will hold
// before it is made, what a file holds (and what happens to the slots it
// has no data for) before it is written, the phases while it runs, and a
// truthful end: saved exactly as listed, or not saved at all.
import { showDialog, showError } from './dialogs.js';
import { ProgressDialog, showReport, stopReason } from './transfer-ui.js';
import { describePlan, describeSlots, planBackup } from '../backup/backup-plan.js';

const ranges = (slots) => {
    const out = [];
    for (const k of slots) {
        const last = out[out.length - 1];
        if (last && k === last[1] + 1) last[1] = k;
        else out.push([k, k]);
    }
    return out.map(([a, b]) => (a === b ? `${a + 1}` : `${a + 1}–${b + 1}`)).join(', ');
};

// The backup dialog: what it will hold. Resolves with the plan, or null.
export async function offerBackup(parameter, setting, title = 'Back up the unit', intro = 'The backup holds') {
    const plan = planBackup(parameter, setting);
    const go = await showDialog({
        title,
        text: `${intro} ${describePlan(plan)}.`,
        buttons: [{ label: 'Choose file…', value: 'go', primary: true }, { label: 'Cancel', value: 'cancel' }],
    });
    return go === 'go' ? plan : null;
}

// The restore dialog: what the file holds and what happens to the slots it
// holds no data for. Resolves with { clearEmpty } or null; offerEdit adds
// opening the file for editing instead ({ edit: true }).
export async function confirmRestore(inspected, { offerEdit = false } = {}) {
    const c = inspected.contents;
    const slots = c.slots.map((n) => n - 1);
    const body = document.createElement('div');
    let choice = null;
    if (inspected.empty.length) {
        choice = document.createElement('select');
        choice.id = 'restore-empty';
        choice.setAttribute('aria-label', 'Slots without data in the backup');
        const which = `slot${inspected.empty.length === 1 ? '' : 's'} ${ranges(inspected.empty)}`;
        choice.append(new Option(`Leave ${which} as they are`, 'keep'), new Option(`Clear ${which}, so that the unit matches the backup`, 'clear'));
        const label = document.createElement('p');
        label.className = 'hint';
        label.textContent = `The backup holds no data for ${which}.`;
        body.append(label, choice);
    }
    const patches = c.patches === 1 ? 'one user patch' : `${c.patches} user patches`;
    const go = await showDialog({
        title: 'Restore this backup?',
        text: `The file holds the system settings, ${patches} and ${describeSlots(slots, c.names)}. They replace those in the unit, and each is read back to check it.`,
        body,
        buttons: [
            { label: 'Restore', value: 'go', primary: true },
            ...(offerEdit ? [{ label: 'Edit the file instead', value: 'edit' }] : []),
            { label: 'Cancel', value: 'cancel' },
        ],
    });
    if (go === 'edit') return { edit: true };
    if (go !== 'go') return null;
    return { clearEmpty: choice?.value === 'clear' };
}

// The handler for BackupSession events. session() gives the session;
// startOver(path) offers a fresh backup into the same file.
export function backupEvents({ session, isConnected, unitSilent, startOver, progress = new ProgressDialog() }) {
    const retry = () => {
        if (isConnected()) return session().resume();
        showReport('Unit not connected',
            'The editor connects to the unit again by itself as soon as it answers, and then offers to finish.');
    };
    return async (e) => {
        if (e.type === 'progress') {
            if (!progress.open) {
                const restoring = e.phase !== 'read';
                const phases = restoring ? (e.phase === 'clear' ? ['clear', 'write', 'verify'] : ['write', 'verify']) : ['read'];
                progress.show(restoring ? 'Restoring' : 'Backing up', phases, () => session().cancel());
            }
            progress.set(e.phase, e.percent);
        } else if (e.type === 'error') {
            progress.close();
            showError(e.reason, e.message);
        } else if (e.type === 'saved') {
            progress.close();
            showReport('Backup saved', `${e.path}\nIt holds ${e.contents.text}, as listed.`);
        } else if (e.type === 'restored') {
            progress.close();
            const cleared = e.cleared.length ? ` Cleared: slot${e.cleared.length === 1 ? '' : 's'} ${ranges(e.cleared)}.` : '';
            showReport('Backup restored', `${e.path}\nRestored and verified: ${e.contents.text}.${cleared}`);
        } else if (e.type === 'changed') {
            progress.close();
            const answer = await showReport('Backup not saved',
                `The unit's slots changed since the backup was listed (${e.difference}). Nothing was saved.`,
                [{ label: 'Back up again', value: 'again', primary: true }, { label: 'Close', value: 'close' }]);
            if (answer === 'again') startOver(e.path);
        } else if (e.type === 'stopped') {
            progress.close();
            if (e.report.reason === 'timeout') unitSilent();
            const why = stopReason(e.report.reason);
            const title = e.kind === 'backup' ? 'Backup stopped' : 'Restore stopped';
            const later = e.report.reason === 'differ' ? ''
                : ' The editor connects again by itself when the unit answers and offers to finish.';
            const answer = await showReport(title, `${why ? `${why} ` : ''}${e.report.text}${later}`,
                [{ label: 'Retry', value: 'retry', primary: true }, { label: 'Close', value: 'close' }]);
            if (answer === 'retry') retry();
        } else if (e.type === 'cancelled') {
            progress.close();
            if (!e.report) return;
            const answer = await showReport('Restore cancelled', e.report.text,
                [{ label: 'Close', value: 'close', primary: true }, { label: 'Finish restoring', value: 'finish' }]);
            if (answer === 'finish') retry();
        }
    };
}

// After the unit came back: offers to finish a backup or restore.
export async function offerToFinishBackup(session) {
    const job = session.interrupted;
    if (!job || session.busy) return false;
    const what = job.kind === 'backup' ? `The backup into ${job.path}` : `Restoring ${job.path}`;
    const answer = await showReport('The unit is back', `${what} did not finish. Finish it now?`,
        [{ label: 'Finish', value: 'finish', primary: true }, { label: 'Not now', value: 'later' }]);
    if (answer === 'finish') return session.resume();
    session.forget();
    return false;
}
