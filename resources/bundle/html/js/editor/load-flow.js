// What the user sees of a slot load (a WAV file, a factory set, a rename):
// the phases while it runs, "Finished" only for a slot that verified, and
// for a load that stopped what reached the unit, with Retry.
import { showDialog, showError } from './dialogs.js';
import { ProgressDialog, showReport, stopReason } from './transfer-ui.js';

const incomplete = (slot) => `Slot ${slot + 1} is marked incomplete until it is loaded again or cleared.`;

export const LOAD_PHASES = Object.freeze(['convert', 'write', 'verify']);

// The handler for IrDataLoader events. loader() gives the loader;
// isConnected() whether the unit answers; unitSilent() tells the watch
// that the unit stopped answering; batch() the batch running, if any: its
// loads show their progress in the batch's dialog and end without a
// message of their own (the batch says it all at its end); onChannel(ch)
// hears the channel chosen for a stereo file.
export function loadEvents({ loader, isConnected, unitSilent, progress = new ProgressDialog(), batch = () => null, onChannel = () => {} }) {
    const retry = () => {
        if (isConnected()) return loader().resume();
        showReport('Unit not connected',
            'The editor connects to the unit again by itself as soon as it answers, and then offers to finish.');
    };
    return async (e) => {
        if (batch()) {
            if (e.type === 'progress') progress.set(e.phase, e.percent);
            return;
        }
        if (e.type === 'channel') {
            progress.close();
            const ch = await showDialog({
                title: 'Stereo file', text: 'The unit takes one channel, or both mixed into one. Which should go into the slot?',
                aside: true,
                buttons: [
                    { label: 'Left [L]', value: 0, primary: true }, { label: 'Right [R]', value: 1 },
                    { label: 'Both mixed [M]', value: 'mix' }, { label: 'Cancel', value: 'cancel' },
                ],
            });
            if (ch === 'cancel') return loader().cancel();
            // The preview shows the channel that goes in.
            onChannel(ch);
            loader().chooseChannel(ch);
        } else if (e.type === 'progress') {
            if (!progress.open) {
                const phases = e.phase === 'convert' ? ['convert', 'write', 'verify'] : ['write', 'verify'];
                progress.show('Loading impulse response', phases, () => loader().cancel());
            }
            progress.set(e.phase, e.percent);
        } else if (e.type === 'error') {
            progress.close();
            if (loader().busy) return;
            showError(e.reason, e.detail);
        } else if (e.type === 'finished') {
            progress.close();
            const again = e.resent ? ` ${e.resent} message${e.resent === 1 ? ' was' : 's were'} lost on the way and sent again.` : '';
            if (e.state === 2) {
                return showReport(`Slot ${e.slot + 1} not taken`,
                    `Slot ${e.slot + 1} holds exactly what was sent ("${e.name}"), but the unit does not take it as an impulse response.`);
            }
            showReport('Finished', `Slot ${e.slot + 1} now holds "${e.name}", read back and verified.${again}`);
        } else if (e.type === 'cancelled') {
            progress.close();
            if (!e.report) return;
            const r = e.report;
            const answer = await showReport('Loading cancelled',
                `Slot ${r.slot + 1} was only partly written. ${r.text} ${incomplete(r.slot)}`,
                [{ label: 'Close', value: 'close', primary: true }, { label: 'Finish loading', value: 'finish' }]);
            if (answer === 'finish') retry();
        } else if (e.type === 'stopped') {
            progress.close();
            const r = e.report;
            if (r.reason === 'timeout') unitSilent();
            const title = r.reason === 'differ' ? `Slot ${r.slot + 1} not verified` : 'Loading stopped';
            const why = stopReason(r.reason);
            const later = r.reason === 'differ' ? ''
                : ' The editor connects again by itself when the unit answers and offers to finish.';
            const answer = await showReport(title, `${why ? `${why} ` : ''}${r.text} ${incomplete(r.slot)}${later}`,
                [{ label: 'Retry', value: 'retry', primary: true }, { label: 'Close', value: 'close' }]);
            if (answer === 'retry') retry();
        } else if (e.type === 'renameFailed') {
            if (e.report.reason === 'timeout') unitSilent();
            showReport(`Slot ${e.slot + 1} not renamed`, `${stopReason(e.report.reason)} ${e.report.text}`.trim());
        }
    };
}

// After the unit came back: offers to finish a load that stopped.
export async function offerToFinishLoad(loader) {
    const job = loader.interrupted;
    if (!job || loader.busy) return false;
    const answer = await showReport('The unit is back',
        `Loading "${job.name}" into slot ${job.slot + 1} did not finish. Finish it now? The slot is read back and whatever it does not hold yet is sent.`,
        [{ label: 'Finish', value: 'finish', primary: true }, { label: 'Not now', value: 'later' }]);
    if (answer === 'finish') return loader.resume();
    loader.forget();
    return false;
}
