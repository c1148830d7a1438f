// A small peer that answers like the unit over a fake "midi" service, for
// tests of the link logic. The real unit model lives in sim/ and is used by
// the integration tests.
import { checksum, nibble, _7bitize } from '../../../resources/bundle/html/js/link/sysex.js';

export function makeNative() {
    return {
        midi: { events: {}, sent: [], send(hex) { this.sent.push(hex); this.peer?.(hex); } },
        app: { stored: '', storage(text) { if (text === undefined) return this.stored; this.stored = text; } },
    };
}

export class ScriptedUnit {
    constructor({ native, clock, setting, delay = 1 }) {
        this.native = native;
        this.clock = clock;
        this.setting = setting;
        this.delay = delay;
        this.deviceId = '10';
        this.identityFamily = null; // default: the one the page expects
        this.level = '00';
        this.runningMode = '01';
        this.silent = new Set(); // 'identity', 'level', 'mode', or linear addresses
        this.memory = new Map(); // linear address -> byte hex
        this.received = [];
        native.midi.peer = (hex) => this.receive(hex);
    }

    reply(hex) {
        this.clock.setTimeout(() => this.native.midi.events.message?.(hex, '0'), this.delay);
    }

    dt1(address, data) {
        const s = this.setting;
        const body = _7bitize(address) + data;
        return 'F0' + s.manufacturerId + this.deviceId + s.modelId + '12' + body + checksum(body) + 'F7';
    }

    receive(hex) {
        this.received.push(hex);
        const s = this.setting;
        if (hex === 'F07E7F0601F7') {
            if (this.silent.has('identity')) return;
            const m = s.modelId.match(/../g);
            const family = this.identityFamily ?? (m[0] === '00' ? m[2] + '02' : m[2] + m[1]);
            this.reply('F07E' + this.deviceId + '0602' + s.manufacturerId + family + '0000' + '00010000F7');
            return;
        }
        const head = 'F0' + s.manufacturerId + s.deviceId + s.modelId;
        if (!hex.startsWith(head)) return;
        const cmd = hex.substr(head.length, 2);
        const address = nibble(parseInt(hex.substr(head.length + 2, 8), 16));
        if (cmd === '11') {
            const size = nibble(parseInt(hex.substr(head.length + 10, 8), 16));
            if (this.silent.has(address)) return;
            if (address === nibble(0x7f000000)) {
                if (!this.silent.has('level')) this.reply(this.dt1(address, this.level));
                return;
            }
            if (address === nibble(0x7f000002)) {
                if (!this.silent.has('mode')) this.reply(this.dt1(address, this.runningMode));
                return;
            }
            let data = '';
            for (let i = 0; i < size; i++) {
                const b = this.memory.get(address + i);
                if (b === undefined) break;
                data += b;
            }
            this.reply(this.dt1(address, data));
        } else if (cmd === '12') {
            const data = hex.substring(head.length + 10, hex.length - 4);
            for (let i = 0; i < data.length / 2; i++) this.memory.set(address + i, data.substr(i * 2, 2));
        }
    }
}
