// Every connection outcome that needs the user (wrong device, firmware or
// editor too old, factory-reset or other mode, no answer, not found,
// unplugged) is shown as a dialog, with Retry to connect the chosen port
// again. The start page reports outcomes on #link-state; this follows it.
import { showDialog } from './dialogs.js';

export function installConnectionDialogs() {
    const state = document.getElementById('link-state');
    let last = null;
    const follow = async () => {
        const now = state.dataset.state;
        if (now === last) return;
        last = now;
        if (now !== 'error') return;
        const canRetry = document.getElementById('port-select').options.length > 0;
        const buttons = canRetry
            ? [{ label: 'Retry', value: 'retry', primary: true }, { label: 'Close', value: 'close' }]
            : [{ label: 'Close', value: 'close', primary: true }];
        const answer = await showDialog({ title: 'KX-5 connection', text: state.textContent, buttons });
        if (answer === 'retry') document.getElementById('port-form').requestSubmit();
    };
    new MutationObserver(follow).observe(state, { attributes: true, attributeFilter: ['data-state'] });
    // An outcome reported before the editor started is shown too.
    follow();
}
