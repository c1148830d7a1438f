// One modal dialog element reused for messages, choices and progress.
const $ = (id) => document.getElementById(id);

// kind names what the dialog is about ("transfer", "connection"...), so
// that other parts can tell whether to show theirs over it. aside: the
// dialog asks about what the preview shows, and stands beside it.
export function showDialog({ title, text = '', body = null, buttons = [{ label: 'OK', value: 'ok', primary: true }], progress = false, kind = '', aside = false }) {
    const dialog = $('dialog');
    dialog.dataset.kind = kind;
    dialog.classList.toggle('aside', aside);
    $('dialog-title').textContent = title;
    $('dialog-text').textContent = text;
    $('dialog-body').replaceChildren(...(body ? [body] : []));
    $('dialog-progress').hidden = !progress;
    setDialogProgress(0);
    const menu = $('dialog-buttons');
    menu.replaceChildren();
    return new Promise((resolve) => {
        for (const b of buttons) {
            const button = document.createElement('button');
            button.type = 'button';
            button.textContent = b.label;
            if (b.primary) button.className = 'primary';
            button.addEventListener('click', () => { dialog.close(); resolve(b.value); });
            menu.append(button);
        }
        dialog.oncancel = (e) => {
            // Escape counts as the last button (cancel / close).
            e.preventDefault();
            dialog.close();
            resolve(buttons.at(-1)?.value ?? 'cancel');
        };
        if (dialog.open) dialog.close();
        dialog.showModal();
        (menu.querySelector('.primary') ?? menu.firstChild)?.focus();
    });
}

export function setDialogProgress(percent, text) {
    $('dialog-progress').querySelector('.bar').style.width = `${Math.max(0, Math.min(100, percent))}%`;
    if (text !== undefined) $('dialog-text').textContent = text;
}

export function closeDialog() {
    const dialog = $('dialog');
    if (dialog.open) dialog.close();
}

export const ERROR_TEXT = {
    unsupported: ['Unsupported data', 'This file cannot be used as an impulse response. Use a mono or stereo WAV, AIFF or FLAC file.'],
    fileError: ['File error', 'The file could not be read or written.'],
    readError: ['File error', 'The converted impulse response could not be read.'],
    sendError: ['Communication error', 'The data could not be sent to the unit. Check the connection and try again.'],
    timeout: ['Communication error', 'The unit stopped answering.'],
    changed: ['Backup not saved', 'The unit\'s slots changed since the backup was listed.'],
    busy: ['Busy', 'Another conversion is still running.'],
};

export function showError(reason, detail) {
    const [title, text] = ERROR_TEXT[reason] ?? ['Error', String(reason)];
    return showDialog({ title, text: detail && reason !== 'sendError' ? `${text} (${detail})` : text });
}
