// What a backup holds, fixed when it is offered: the system area, the user
// patches and the slots the unit holds data in, by name. The file written
// holds exactly that, or nothing is written.
export const LOADED = 1;

const nameOf = (hexes) => String.fromCharCode(...(hexes ?? []).map((h) => parseInt(h, 16) & 0x7f)).trimEnd();

// The slots (0-based) the unit holds data in, by the states in the model.
export function loadedSlots(parameter, setting) {
    const out = [];
    for (let k = 0; k < setting.numOfIrData; k++) if (parameter.get(`IRDATA%STATUS%${k}`) === LOADED) out.push(k);
    return out;
}

// { slots: [k], names: { k: name }, patches: n }
export function planBackup(parameter, setting) {
    const slots = loadedSlots(parameter, setting);
    const names = {};
    for (const k of slots) names[k] = nameOf(parameter.paramSet[`IRDATA(${k + 1})%NAME`]);
    return { slots, names, patches: setting.numOfUserPatch };
}

// 'IR slots 1 "Erste Box", 2 "Zweite Box"' / 'no IR slots'
export function describeSlots(slots, names = {}) {
    if (!slots.length) return 'no IR slots';
    const list = slots.map((k) => (names[k] ? `${k + 1} "${names[k]}"` : `${k + 1}`)).join(', ');
    return `IR slot${slots.length === 1 ? '' : 's'} ${list}`;
}

export function describePlan(plan) {
    const patches = plan.patches === 1 ? 'the user patch' : `both user patches`;
    return `the system settings, ${patches} and ${describeSlots(plan.slots, plan.names)}`;
}

// The areas a plan reads, in reading order.
export function planAreas(plan, setting) {
    const areas = ['SYSTEM'];
    for (let i = 1; i <= setting.numOfUserPatch; i++) areas.push(`PATCH(${i})`);
    for (const k of plan.slots) areas.push(`IRDATA(${k + 1})`);
    return areas;
}

// Area name in words: "system settings", "user patch 2", "slot 3".
export function areaWords(area) {
    const patch = /^PATCH\((\d+)\)$/.exec(area);
    const slot = /^IRDATA\((\d+)\)$/.exec(area);
    if (patch) return `user patch ${patch[1]}`;
    if (slot) return `slot ${slot[1]}`;
    return area === 'SYSTEM' ? 'system settings' : area.toLowerCase();
}

// How the unit's slots now differ from a plan: '' when they do not.
export function planDifference(plan, slotsNow) {
    const gone = plan.slots.filter((k) => !slotsNow.includes(k));
    const added = slotsNow.filter((k) => !plan.slots.includes(k));
    const parts = [];
    if (gone.length) parts.push(`slot${gone.length === 1 ? '' : 's'} ${gone.map((k) => k + 1).join(', ')} ${gone.length === 1 ? 'is' : 'are'} empty now`);
    if (added.length) parts.push(`slot${added.length === 1 ? '' : 's'} ${added.map((k) => k + 1).join(', ')} ${added.length === 1 ? 'holds' : 'hold'} data now`);
    return parts.join(', ');
}

// A default file name that no earlier backup has: product, date and time.
export function defaultBackupName(product, date = new Date()) {
    const p = (n) => String(n).padStart(2, '0');
    return `${product} ${date.getFullYear()}-${p(date.getMonth() + 1)}-${p(date.getDate())} ${p(date.getHours())}-${p(date.getMinutes())}-${p(date.getSeconds())}`;
}
