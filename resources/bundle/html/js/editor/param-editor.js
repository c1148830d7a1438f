// Patch and system editors generated from the address map: one group per
// block, a select for listed values (and for a slot number, the slots by
// name), a slider for numbers with the value in its unit, a text field for
// names. They edit whatever the source switch shows (the unit, or a backup
// file's image): each change goes through the source, which records it for
// undo and, for the unit, sends it as DT1. DT1 from the unit, area reads
// and undo steps are reflected through the model's notifications.
import { isNumericCode } from '../params/size-codes.js';
import { formatValue, valueStep } from '../params/display.js';

const isText = (p) => !isNumericCode(p.code);
const SLOT_NAME = /^IRDATA\((\d+)\)%NAME$/;

let gestures = 0;

function controlFor(view, p) {
    const row = document.createElement('label');
    row.className = 'control';
    const name = document.createElement('span');
    name.textContent = p.name;
    row.append(name);
    let input;
    let output = null;
    // The edits of one drag (press to release) are one undo step.
    let gesture = null;
    // Where the source takes no edit now, the control goes back to the
    // model's value instead of showing one no unit holds.
    const edit = (value, inGesture = false) => {
        if (inGesture && gesture === null) gesture = ++gestures;
        if (!view.current.edit(p.id, value, inGesture ? gesture : undefined)) refresh();
    };
    const endGesture = () => { gesture = null; };
    const options = [];
    if (isText(p)) {
        input = document.createElement('input');
        input.type = 'text';
        input.maxLength = p.bytes;
        input.addEventListener('change', () => edit(input.value.padEnd(p.bytes, ' ')));
    } else if ((p.values && p.values.length > 0) || p.refers) {
        input = document.createElement('select');
        const count = p.values?.length ? p.values.length : (p.max ?? 0) - (p.min ?? 0) + 1;
        for (let i = 0; i < count; i++) {
            const o = document.createElement('option');
            o.value = String((p.min ?? 0) + i);
            input.append(o);
            options.push(o);
        }
        input.addEventListener('change', () => edit(Number(input.value)));
    } else {
        input = document.createElement('input');
        input.type = 'range';
        input.min = String(p.min ?? 0);
        input.max = String(p.max ?? 127);
        input.step = String(valueStep(p));
        output = document.createElement('output');
        input.addEventListener('input', () => edit(Number(input.value), true));
        for (const type of ['change', 'pointerup', 'keyup', 'blur']) input.addEventListener(type, endGesture);
    }
    input.setAttribute('aria-label', p.name);
    input.dataset.param = p.id;
    row.append(input);
    if (output) row.append(output);
    const labelOptions = () => {
        for (const o of options) o.textContent = formatValue(p, Number(o.value), view.parameter);
    };
    const refresh = () => {
        const v = view.parameter.get(p.id);
        if (isText(p)) input.value = String(v).trimEnd();
        else input.value = String(v);
        if (output) output.textContent = formatValue(p, v);
        row.title = isText(p) ? '' : formatValue(p, v, view.parameter);
    };
    labelOptions();
    refresh();
    return { row, input, refresh, labelOptions, refers: !!p.refers };
}

// Builds the editor of one area into container; setArea shows another
// (the patch view of a backup shows user patch 1 or 2); setLocked shows the
// controls as taking no edits (a comparison is on).
export function buildAreaEditor(view, container, area) {
    let controls = new Map();
    let shown = area;
    const render = (name) => {
        shown = name;
        controls = new Map();
        container.replaceChildren();
        for (const id of view.map.areaBlocks(name)) {
            const block = view.map.block(id);
            if (block.size < 0 || block.params.length === 0) continue;
            const set = document.createElement('fieldset');
            const legend = document.createElement('legend');
            legend.textContent = block.name;
            set.append(legend);
            const list = [];
            for (const p of block.params.slice(0, 40)) {
                const c = controlFor(view, p);
                set.append(c.row);
                list.push(c);
            }
            controls.set(id, list);
            container.append(set);
        }
    };
    render(area);
    view.addObserver((blockId) => {
        const list = controls.get(blockId);
        if (list) for (const c of list) c.refresh();
        // A slot renamed: the slot choices say the new name.
        if (SLOT_NAME.test(blockId)) {
            for (const l of controls.values()) for (const c of l) if (c.refers) { c.labelOptions(); c.refresh(); }
        }
    });
    return {
        setArea: render,
        area: () => shown,
        refreshAll: () => { for (const l of controls.values()) for (const c of l) { c.labelOptions(); c.refresh(); } },
        setLocked: (locked) => {
            container.classList.toggle('locked', locked);
            for (const l of controls.values()) for (const c of l) c.input.disabled = locked;
        },
    };
}
