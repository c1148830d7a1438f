// MIDI monitor: every message in and out with a time stamp, DT1 and RQ1
// decoded to block names and addresses.
import { nibble } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';

const MAX_ROWS = 500;

// The unit's command addresses by their linear value.
const COMMAND_NAMES = new Map(Object.entries({
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
}).map(([key, name]) => [nibble(UnitAddress[key]), name]));

// A block name and offset, a command name, or the raw address.
function where(linear, address, map) {
    const hit = map.locate(linear);
    if (hit && hit.offset < Math.abs(hit.block.size)) return `${hit.block.id}+${hit.offset}`;
    return COMMAND_NAMES.get(linear) ?? address;
}

export function describeMessage(hex, setting, map) {
    const head = 'F0' + setting.manufacturerId;
    if (hex.startsWith('F07E') && hex.substr(6, 4) === '0601') return 'identity request';
    if (hex.startsWith('F07E') && hex.substr(6, 4) === '0602') return 'identity reply';
    if (!hex.startsWith(head)) return hex.length <= 6 ? 'short message' : 'exclusive';
    const h = head.length + setting.deviceId.length + setting.modelId.length;
    const cmd = hex.substr(h, 2);
    const address = hex.substr(h + 2, 8);
    const linear = nibble(parseInt(address, 16));
    const at = where(linear, address, map);
    if (cmd === '11') return `RQ1 ${at} size ${nibble(parseInt(hex.substr(h + 10, 8), 16))}`;
    if (cmd === '12') return `DT1 ${at} ${(hex.length - h - 14) / 2} B`;
    return `cmd ${cmd}`;
}

export function installMonitor(kx5) {
    const log = document.getElementById('monitor-log');
    const on = document.getElementById('monitor-on');
    const start = performance.now();
    const add = (dir, hex) => {
        if (!on.checked) return;
        const li = document.createElement('li');
        const t = ((performance.now() - start) / 1000).toFixed(3);
        const cells = [[`${t} s`, 'time'], [dir === 'out' ? '→' : '←', `dir-${dir}`],
            [describeMessage(hex, kx5.setting, kx5.map), 'what'], [hex, 'raw']];
        for (const [text, cls] of cells) {
            const span = document.createElement('span');
            span.className = cls;
            span.textContent = text;
            li.append(span);
        }
        li.title = hex;
        log.append(li);
        while (log.childElementCount > MAX_ROWS) log.firstElementChild.remove();
        const view = log.parentElement;
        if (!view.hidden) view.scrollTop = view.scrollHeight;
    };
    const send = kx5.native.midi.send;
    kx5.native.midi.send = (hex, ...rest) => {
        add('out', String(hex).toUpperCase());
        return send(hex, ...rest);
    };
    kx5.controller.addReceiver((hex) => add('in', hex));
    document.getElementById('monitor-clear').addEventListener('click', () => log.replaceChildren());
}
