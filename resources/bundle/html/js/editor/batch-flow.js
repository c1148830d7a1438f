// What the user sees of several files going into slots: one confirmation
// listing file -> slot (length, rate, what each replaces, the channel
// stereo files give), one progress dialog (the file being loaded shown in
// the preview behind it; Cancel stops after the slot being loaded, a second
// Cancel stops at once), and one summary at the end.
import { ERROR_TEXT, showDialog } from './dialogs.js';
import { LOAD_PHASES } from './load-flow.js';
import { showReport } from './transfer-ui.js';
import { BatchLoad } from '../ir/batch-load.js';
import { batchSummary, hasStereo, planBatch, rowDetail, slotRange } from '../ir/batch-plan.js';
import { describeSource } from '../ir/ir-source.js';

function listItem(slotText, name, detail, className = '') {
    const li = document.createElement('li');
    if (className) li.className = className;
    const no = document.createElement('span');
    no.className = 'slotno';
    no.textContent = slotText;
    const what = document.createElement('span');
    what.className = 'what';
    what.textContent = name;
    what.title = name;
    const d = document.createElement('span');
    d.className = `detail${detail.includes('replaces') ? ' replaces' : ''}`;
    d.textContent = detail;
    what.append(d);
    li.append(no, what);
    return li;
}

// The confirmation; resolves with { channel } or null.
async function confirmPlan(plan, slotCount, preview) {
    const body = document.createElement('div');
    const list = document.createElement('ol');
    list.className = 'batch-list';
    list.id = 'batch-list';
    for (const row of plan.rows) {
        const li = listItem(`${row.slot + 1} ←`, row.name, rowDetail(row));
        li.dataset.slot = String(row.slot);
        // Shown in the preview beside the dialog when picked.
        li.addEventListener('click', () => {
            preview.showFile(row.path);
            preview.setOverlay(row.slot, row.replaces ?? '');
        });
        list.append(li);
    }
    for (const u of plan.unusable) list.append(listItem('–', u.name, `not loaded: ${u.reason}`, 'unusable'));
    body.append(list);
    if (plan.left.length) {
        const p = document.createElement('p');
        p.className = 'hint';
        p.textContent = `${plan.left.length} more ${plan.left.length === 1 ? 'does' : 'do'} not fit behind slot ${slotCount}.`;
        body.append(p);
    }
    let select = null;
    if (hasStereo(plan)) {
        const label = document.createElement('label');
        label.className = 'hint';
        label.textContent = 'Stereo files give: ';
        select = document.createElement('select');
        select.id = 'batch-channel';
        for (const [value, text] of [['0', 'the left channel [L]'], ['1', 'the right channel [R]'], ['mix', 'both channels mixed [M]']]) {
            select.append(new Option(text, value));
        }
        label.append(select);
        body.append(label);
    }
    const slots = plan.rows.map((r) => r.slot);
    const answer = await showDialog({
        title: `Load ${plan.rows.length} files into ${slotRange(slots)}?`, aside: true,
        text: 'Each slot is written, read back and verified like a single load.', body,
        buttons: [{ label: 'Load', value: 'load', primary: true }, { label: 'Cancel', value: 'cancel' }],
    });
    if (answer !== 'load') return null;
    const channel = select ? (select.value === 'mix' ? 'mix' : Number(select.value)) : undefined;
    return { channel };
}

const why = (e) => {
    const text = ERROR_TEXT[e.reason]?.[1] ?? String(e.reason);
    return `could not be loaded (${e.detail ?? text.replace(/\.$/, '')})`;
};

// editor: { native, setting, parameter, loader, waiter, preview, progress,
// setBatch(batch|null), offerToFinish() }. paths: the files, in order; slot:
// the first slot (0-based).
export async function loadBatch(editor, slot, paths) {
    const { native, setting, parameter, loader, waiter, preview, progress } = editor;
    const files = paths.map((path) => ({ path, info: describeSource(native, path) }));
    const held = (k) => (parameter.get(`IRDATA%STATUS%${k}`) === 1 ? String(parameter.get(`IRDATA(${k + 1})%NAME%0`)).trimEnd() || '(no name)' : '');
    const plan = planBatch({ files, slot, slotCount: setting.numOfIrData, held });
    if (!plan.rows.length) {
        const reasons = plan.unusable.map((u) => `${u.name}: ${u.reason}`).join('\n');
        return showDialog({ title: 'Nothing to load', text: reasons || 'No file fits into the slots from here.', aside: true });
    }
    // The first file behind the question, with the slot it replaces.
    preview.showFile(plan.rows[0].path);
    preview.setOverlay(plan.rows[0].slot, plan.rows[0].replaces ?? '');
    const choice = await confirmPlan(plan, setting.numOfIrData, preview);
    if (!choice || !(await editor.ensureUnit())) return null;

    let stopping = false;
    const batch = new BatchLoad({
        why,
        onStart: (row, i, total) => {
            preview.showFile(row.path, { channel: choice.channel === undefined ? 0 : choice.channel });
            preview.setOverlay(null);
            const title = stopping ? `Finishing slot ${row.slot + 1}, then stopping` : `Loading ${i + 1} of ${total}: ${row.name} into slot ${row.slot + 1}`;
            progress.show(title, LOAD_PHASES, () => {
                // First Cancel: stop after this slot; the second: at once.
                if (!stopping) {
                    stopping = true;
                    batch.cancel();
                    progress.show(`Finishing slot ${row.slot + 1}, then stopping`, LOAD_PHASES, () => loader.cancel());
                } else {
                    loader.cancel();
                }
            });
        },
        load: (row) => waiter.wait(() => loader.load(row.slot, row.path, { channel: choice.channel })),
    });
    editor.setBatch(batch);
    let result;
    try {
        result = await batch.run(plan);
    } finally {
        editor.setBatch(null);
        progress.close();
    }
    const summary = batchSummary(result);
    const buttons = [{ label: 'OK', value: 'ok', primary: true }];
    if (result.stopped && loader.interrupted) buttons.unshift({ label: `Finish slot ${result.stopped.slot + 1}`, value: 'finish', primary: true });
    if (buttons.length > 1) buttons[1].primary = false;
    const answer = await showReport(summary.title, summary.text, buttons);
    if (answer === 'finish') editor.offerToFinish();
    return result;
}
