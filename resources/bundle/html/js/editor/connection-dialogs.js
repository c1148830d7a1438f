// Every connection outcome that needs the user (wrong device, firmware or
// editor too old, factory-reset or other mode, no answer, not found,
// unplugged) is shown as a dialog, with Retry to connect the chosen port
// again. The start page reports outcomes on #link-state; this follows it.
// A transfer that was running reports the loss of the unit in its own
// dialog, which this one does not cover; once the unit is connected again
// (the editor reconnects by itself) a dialog of ours still open is closed.
import { closeDialog, showDialog } from './dialogs.js';

const OWN = 'connection';

export function installConnectionDialogs() {
    const state = document.getElementById('link-state');
    const dialog = document.getElementById('dialog');
    let last = null;
    const follow = async () => {
        const now = state.dataset.state;
        if (now === last) return;
        last = now;
        if (now === 'connected' && dialog.open && dialog.dataset.kind === OWN) closeDialog();
        if (now !== 'error') return;
        if (dialog.open && dialog.dataset.kind === 'transfer') return;
        const canRetry = document.getElementById('port-select').options.length > 0;
        const buttons = canRetry
            ? [{ label: 'Retry', value: 'retry', primary: true }, { label: 'Close', value: 'close' }]
            : [{ label: 'Close', value: 'close', primary: true }];
        const answer = await showDialog({ title: 'KX-5 connection', text: state.textContent, buttons, kind: OWN });
        if (answer === 'retry') document.getElementById('port-form').requestSubmit();
    };
    new MutationObserver(follow).observe(state, { attributes: true, attributeFilter: ['data-state'] });
    // An outcome reported before the editor started is shown too.
    follow();
}
