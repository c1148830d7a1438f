// The MIDI monitor view: every message in and out with its wall-clock time,
// said by block and parameter name, the bytes beside it. It follows new
// messages unless the list was scrolled up (then a button says how many
// came since); Pause holds the list still while messages are still kept;
// direction, type and area filters; the messages shown can be exported as a
// .syx file or as text.
import { MonitorLog, clockTime } from './monitor-log.js';
import { showError } from './dialogs.js';
import { showReport } from './transfer-ui.js';
import { defaultBackupName } from '../backup/backup-plan.js';

const MAX_ROWS = 500;
const $ = (id) => document.getElementById(id);

function row(entry) {
    const li = document.createElement('li');
    li.dataset.dir = entry.dir;
    const cells = [[clockTime(entry.time), 'time'], [entry.dir === 'out' ? '→' : '←', `dir-${entry.dir}`],
        [entry.text, 'what'], [entry.hex, 'raw']];
    for (const [text, cls] of cells) {
        const span = document.createElement('span');
        span.className = cls;
        span.textContent = text;
        li.append(span);
    }
    li.querySelector('.dir-in, .dir-out').setAttribute('aria-label', entry.dir === 'out' ? 'to the unit' : 'from the unit');
    li.title = entry.hex;
    return li;
}

// dialogs(): the editor's file dialogs (for the exports).
export function installMonitor(kx5, dialogs) {
    const log = new MonitorLog({ setting: kx5.setting, map: kx5.map });
    const list = $('monitor-log');
    const follow = $('monitor-follow');
    const pause = $('monitor-pause');
    let paused = false;
    let unseen = 0;
    // Following new messages until the list is scrolled up.
    let following = true;
    const filter = () => {
        const one = (id) => { const v = $(id).value; return v ? new Set([v]) : new Set(); };
        return { dir: $('monitor-dir').value, types: one('monitor-type'), areas: one('monitor-area') };
    };
    const atBottom = () => list.scrollTop + list.clientHeight >= list.scrollHeight - 4;
    const toBottom = () => { list.scrollTop = list.scrollHeight; };
    const showCount = () => {
        const shown = log.select(filter()).length;
        $('monitor-count').textContent = `${shown} of ${log.entries.length}${paused ? ' · paused' : ''}`;
        follow.hidden = unseen === 0;
        follow.textContent = `↓ ${unseen} new`;
    };
    const render = () => {
        const entries = log.select(filter()).slice(-MAX_ROWS);
        list.replaceChildren(...entries.map(row));
        unseen = 0;
        following = true;
        toBottom();
        showCount();
    };
    const add = (dir, hex) => {
        const entry = log.add(dir, hex);
        if (paused || !MonitorLog.matches(entry, filter())) return showCount();
        list.append(row(entry));
        while (list.childElementCount > MAX_ROWS) list.firstElementChild.remove();
        if (following) toBottom();
        else unseen++;
        showCount();
    };
    const send = kx5.native.midi.send;
    kx5.native.midi.send = (hex, ...rest) => {
        add('out', String(hex).toUpperCase());
        return send(hex, ...rest);
    };
    kx5.controller.addReceiver((hex) => add('in', hex));

    // A list out of sight has no scroll position: only a visible one says
    // whether it was scrolled up, and one shown again goes on following.
    list.addEventListener('scroll', () => {
        if (list.closest('[hidden]')) return;
        following = atBottom();
        if (following && unseen) {
            unseen = 0;
            showCount();
        }
    });
    new MutationObserver(() => { if (following && !list.closest('[hidden]')) toBottom(); })
        .observe(list.parentElement, { attributes: true, attributeFilter: ['hidden'] });
    follow.addEventListener('click', () => { unseen = 0; following = true; toBottom(); showCount(); });
    pause.addEventListener('click', () => {
        paused = !paused;
        pause.setAttribute('aria-pressed', String(paused));
        pause.textContent = paused ? 'Resume' : 'Pause';
        if (!paused) render();
        else showCount();
    });
    for (const id of ['monitor-dir', 'monitor-type', 'monitor-area']) $(id).addEventListener('change', render);
    $('monitor-clear').addEventListener('click', () => { log.clear(); render(); });

    const exportAs = async (extension, contents, write) => {
        const entries = log.select(filter());
        const data = contents(entries);
        if (!data) return showReport('Nothing to export', `The monitor shows no messages${extension === 'syx' ? ' that a .syx file holds (system exclusive)' : ''}.`);
        const path = await dialogs().save(`${defaultBackupName(`${kx5.setting.product} MIDI`)}.${extension}`, extension);
        if (!path) return;
        try {
            write(path, data);
        } catch (e) {
            return showError('fileError', e.message);
        }
        showReport('Exported', `${path}\n${entries.length} message${entries.length === 1 ? '' : 's'}.`);
    };
    $('monitor-export-syx').addEventListener('click', () => exportAs('syx', MonitorLog.syxHex, (p, hex) => kx5.native.fs.writeData(p, hex)));
    $('monitor-export-text').addEventListener('click', () => exportAs('txt', MonitorLog.text, (p, text) => kx5.native.fs.writeString(p, text)));
    showCount();
    return log;
}
