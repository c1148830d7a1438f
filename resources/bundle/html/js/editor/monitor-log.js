// What the MIDI monitor keeps and says: every message in and out with the
// wall-clock time it passed, described by block and parameter names
// ("PATCH AMP GAIN = 104"), sorted by direction, type and area for the
// filters, and written out as a .syx file or as text.
import { nibble } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';
import { messageTopic } from '../transfer/transfer-report.js';
import { formatValue, paramLabel } from '../params/display.js';
import { decodeValue, isNumericCode, removeOfs } from '../params/size-codes.js';

export const MAX_ENTRIES = 5000;
export const Types = Object.freeze(['DT1', 'RQ1', 'identity', 'other']);
export const Areas = Object.freeze(['system', 'patch', 'slots', 'commands', 'other']);
const SHOWN_VALUES = 3;

const COMMANDS = new Map(Object.entries({
    communicationLevel: 'communication level',
    communicationMode: 'communication mode',
    runningMode: 'running mode',
    communicationRevision: 'communication revision',
    patchSelect: 'patch select',
    patchStored: 'patch stored',
    patchWrite: 'patch write',
    patchTempClear: 'patch temp clear',
    irSlotInitialize: 'IR slot initialise',
    setIrData: 'set IR data',
    batteryStatus: 'battery status',
    currentPatchName: 'current patch name',
}).map(([key, name]) => [nibble(UnitAddress[key]), { key, name }]));

const bytesOf = (hex) => (hex.match(/../g) ?? []).map((h) => parseInt(h, 16));

function areaGroup(area) {
    if (area === 'SYSTEM' || area === 'SETUP') return 'system';
    if (/^PATCH/.test(area)) return 'patch';
    if (/^IRDATA/.test(area)) return 'slots';
    return 'other';
}

// A command's data in words: "patch write user patch 2".
function commandText(cmd, data) {
    const b = bytesOf(data);
    switch (cmd.key) {
    case 'patchSelect':
    case 'patchWrite': return b.length ? `${cmd.name}: user patch ${b[0] + 1}` : cmd.name;
    case 'setIrData': return b.length ? `${cmd.name}: slot ${b[0] + 1}` : cmd.name;
    case 'irSlotInitialize': return b.length >= 2 ? `${cmd.name}: slot ${((b[0] << 7) | b[1]) + 1}` : cmd.name;
    case 'communicationMode': return b.length ? `${cmd.name} = ${b[0] ? 'on' : 'off'}` : cmd.name;
    default: return data ? `${cmd.name} = ${data}` : cmd.name;
    }
}

// The parameters a DT1 writes within one block, by name and value.
function valuesText(block, offset, data) {
    const bytes = bytesOf(data);
    const end = offset + bytes.length;
    const covered = block.params.filter((p) => p.offset >= offset && p.offset + p.bytes <= end);
    const value = (p) => {
        const v = decodeValue(p.code, bytes.slice(p.offset - offset, p.offset - offset + p.bytes));
        return formatValue(p, isNumericCode(p.code) ? removeOfs(v, p.ofs) : v);
    };
    if (covered.length === 1 && covered[0].offset === offset && covered[0].bytes === bytes.length) {
        return `${paramLabel(covered[0])} = ${value(covered[0])}`;
    }
    const head = paramLabel({ block: block.id, name: block.name });
    if (!covered.length) return `${head} +${offset}, ${bytes.length} bytes`;
    const shown = covered.slice(0, SHOWN_VALUES).map((p) => `${p.name} = ${value(p)}`).join(', ');
    const more = covered.length > SHOWN_VALUES ? ` … (${covered.length} values)` : '';
    return `${head}: ${shown}${more}`;
}

// { type, area, text } of one message (hex text).
export function describe(hex, setting, map) {
    if (hex.startsWith('F07E') && hex.substr(6, 4) === '0601') return { type: 'identity', area: 'other', text: 'identity request' };
    if (hex.startsWith('F07E') && hex.substr(6, 4) === '0602') return { type: 'identity', area: 'other', text: 'identity reply' };
    const head = 'F0' + setting.manufacturerId;
    if (!hex.startsWith(head)) return { type: 'other', area: 'other', text: hex.startsWith('F0') ? 'exclusive message of another maker' : `MIDI ${hex}` };
    const h = head.length + setting.deviceId.length + setting.modelId.length;
    const cmd = hex.substr(h, 2);
    const address = hex.substr(h + 2, 8);
    const linear = nibble(parseInt(address, 16));
    const command = COMMANDS.get(linear);
    const hit = command ? null : map.locate(linear);
    const inBlock = hit && hit.offset < Math.abs(hit.block.size);
    const area = command ? 'commands' : inBlock ? areaGroup(hit.block.id.split('%')[0]) : 'other';
    if (cmd === '11') {
        const size = nibble(parseInt(hex.substr(h + 10, 8), 16));
        if (command) return { type: 'RQ1', area, text: `RQ1 ${command.name}` };
        if (!inBlock) return { type: 'RQ1', area, text: `RQ1 ${address}, ${size} bytes` };
        const topic = messageTopic(map, { address: linear, data: '00'.repeat(size) });
        const slot = /^slot /.test(topic.area) && topic.part === 'coefficients';
        const what = slot ? `${topic.area} coefficients ${topic.first}–${topic.last}` : paramLabel({ block: hit.block.id, name: hit.block.name });
        return { type: 'RQ1', area, text: `RQ1 ${what}${slot ? '' : `${hit.offset ? ` +${hit.offset}` : ''}, ${size} bytes`}` };
    }
    if (cmd === '12') {
        const data = hex.substring(h + 10, hex.length - 4);
        if (command) return { type: 'DT1', area, text: commandText(command, data) };
        if (!inBlock) return { type: 'DT1', area, text: `DT1 ${address}, ${data.length / 2} bytes` };
        if (hit.block.size < 0) return { type: 'DT1', area, text: `${paramLabel({ block: hit.block.id, name: hit.block.name })} +${hit.offset}, ${data.length / 2} bytes` };
        const topic = messageTopic(map, { address: linear, data });
        if (topic.part === 'coefficients') return { type: 'DT1', area, text: `${topic.area} coefficients ${topic.first}–${topic.last}` };
        if (topic.part === 'file name') return { type: 'DT1', area, text: `${topic.area} file name, ${data.length / 2} digits` };
        return { type: 'DT1', area, text: valuesText(hit.block, hit.offset, data) };
    }
    return { type: 'other', area, text: `command ${cmd}` };
}

const pad = (n, w = 2) => String(n).padStart(w, '0');

// 14:03:07.250
export function clockTime(ms) {
    const d = new Date(ms);
    return `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}.${pad(d.getMilliseconds(), 3)}`;
}

function dateTime(ms) {
    const d = new Date(ms);
    return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())} ${clockTime(ms)}`;
}

export class MonitorLog {
    constructor({ setting, map, max = MAX_ENTRIES }) {
        Object.assign(this, { setting, map, max });
        this.entries = [];
        this.serial = 0;
    }

    // One message passed; returns its entry.
    add(dir, hex, time = Date.now()) {
        const message = String(hex).toUpperCase();
        const entry = { id: ++this.serial, time, dir, hex: message, ...describe(message, this.setting, this.map) };
        this.entries.push(entry);
        if (this.entries.length > this.max) this.entries.splice(0, this.entries.length - this.max);
        return entry;
    }

    clear() {
        this.entries = [];
    }

    // filter: { dir: 'in'|'out'|'', types: Set, areas: Set } (empty sets
    // and '' take everything).
    static matches(entry, filter = {}) {
        if (filter.dir && entry.dir !== filter.dir) return false;
        if (filter.types?.size && !filter.types.has(entry.type)) return false;
        if (filter.areas?.size && !filter.areas.has(entry.area)) return false;
        return true;
    }

    select(filter) {
        return this.entries.filter((e) => MonitorLog.matches(e, filter));
    }

    // The exclusive messages among entries, as the bytes of a .syx file.
    static syxHex(entries) {
        return entries.filter((e) => e.hex.startsWith('F0') && e.hex.endsWith('F7')).map((e) => e.hex).join('');
    }

    // One line per entry: date and time, direction, what it is, the bytes.
    static text(entries) {
        return entries.map((e) => `${dateTime(e.time)}  ${e.dir === 'out' ? 'out' : 'in '}  ${e.text}  ${e.hex.match(/../g)?.join(' ') ?? ''}`).join('\n') + (entries.length ? '\n' : '');
    }
}
