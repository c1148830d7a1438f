// Words for what a transfer did and did not do, from the messages' addresses:
// "slot 3 name", "slot 3 coefficients 31–60", "system settings", "user
// patch 2".
const WORDS_PER_COEFFICIENT = 8;
const PART_NAMES = { NAME: 'name', SIZE: 'file-name size', FILE: 'file name', DATA: 'coefficients' };

// What one message writes: { area, part, first, last } (first/last: the
// coefficient numbers, 1-based, for coefficient data).
export function messageTopic(map, message) {
    const hit = map.locate(message.address);
    if (!hit) return { area: 'unit', part: '' };
    const [areaName, blockName] = hit.block.id.split('%');
    const slot = /^IRDATA\((\d+)\)$/.exec(areaName);
    const patch = /^PATCH\((\d+)\)$/.exec(areaName);
    if (slot) {
        const topic = { area: `slot ${slot[1]}`, part: PART_NAMES[blockName] ?? blockName.toLowerCase() };
        if (blockName === 'DATA') {
            const bytes = String(message.data).length / 2;
            topic.first = Math.floor(hit.offset / WORDS_PER_COEFFICIENT) + 1;
            topic.last = Math.ceil((hit.offset + bytes) / WORDS_PER_COEFFICIENT);
        }
        return topic;
    }
    if (patch) return { area: `user patch ${patch[1]}`, part: '' };
    if (areaName === 'SYSTEM') return { area: 'system settings', part: '' };
    if (areaName === 'PATCH') return { area: 'the patch being edited', part: '' };
    return { area: areaName.toLowerCase(), part: '' };
}

// One phrase for a set of messages (by index), grouped by area and part:
// "slot 3 coefficients 31–60 and 91–120; user patch 1".
export function describeMessages(map, messages, indices) {
    const groups = new Map();
    for (const i of [...indices].sort((a, b) => a - b)) {
        const t = messageTopic(map, messages[i]);
        const key = `${t.area}|${t.part}`;
        if (!groups.has(key)) groups.set(key, { ...t, ranges: [] });
        const g = groups.get(key);
        if (t.first !== undefined) {
            const last = g.ranges[g.ranges.length - 1];
            if (last && t.first <= last[1] + 1) last[1] = Math.max(last[1], t.last);
            else g.ranges.push([t.first, t.last]);
        }
    }
    const byArea = new Map();
    for (const g of groups.values()) {
        let text = g.part;
        if (g.ranges.length) text += ' ' + g.ranges.map(([a, b]) => (a === b ? `${a}` : `${a}–${b}`)).join(', ');
        if (!byArea.has(g.area)) byArea.set(g.area, []);
        if (text) byArea.get(g.area).push(text);
    }
    return [...byArea].map(([area, parts]) => (parts.length ? `${area} ${parts.join(', ')}` : area)).join('; ');
}
