// Choosing, remembering and watching the MIDI input/output pair of the unit.

// The entity name that pairs an input with its output; a name that is only a
// number in parentheses, as some systems give unnamed ports, pairs nothing.
export function entityKey(record) {
    const name = record?.MIDIEntityNameKey ?? '';
    return /^\(\d+\)$/.test(name) ? '' : name;
}

export function pairedOutput(input, outputs) {
    const key = entityKey(input);
    return outputs.find((o) => entityKey(o) === key) ?? null;
}

// The page's preferences: one JSON object in the app "storage" value.
export class Preferences {
    constructor(native) {
        this.native = native;
    }

    load() {
        try {
            const v = JSON.parse(this.native.app.storage() || '{}');
            return v && typeof v === 'object' && !Array.isArray(v) ? v : {};
        } catch {
            return {};
        }
    }

    update(changes) {
        const prefs = { ...this.load(), ...changes };
        this.native.app.storage(JSON.stringify(prefs));
        return prefs;
    }
}

// First start: a lone KX-5 port is taken; a real unit wins over the
// simulated one when both are there.
export function firstStartCandidate(inputs) {
    const units = inputs.filter((r) => /^KX-5\b/.test(r.MIDIEntityNameKey ?? ''));
    const real = units.filter((r) => !/simulated/i.test(r.MIDIEntityNameKey));
    if (real.length === 1) return real[0];
    return real.length === 0 && units.length === 1 ? units[0] : null;
}

export const PortOutcome = Object.freeze({
    connected: 'connected',
    deviceNotFound: 'deviceNotFound',
    chooseDevice: 'chooseDevice',
    disconnected: 'disconnected',
    unchanged: 'unchanged',
});

export class PortPairing {
    constructor(native) {
        this.native = native;
        this.prefs = new Preferences(native);
        this.input = null;
        this.output = null;
    }

    inputs() {
        return this.native.midi.inendpoints() ?? [];
    }

    outputs() {
        return this.native.midi.outendpoints() ?? [];
    }

    // The user picked an input: connect it with its paired output and
    // remember both. Returns false when no output pairs with it.
    choose(input) {
        const output = pairedOutput(input, this.outputs());
        if (!output) return false;
        this.connect(input, output);
        return true;
    }

    connect(input, output) {
        const midi = this.native.midi;
        if (this.input) midi.indisconnect(this.input);
        if (this.output) midi.outdisconnect(this.output);
        midi.inconnect(input);
        midi.outconnect(output);
        this.input = input;
        this.output = output;
        this.prefs.update({ input, output });
    }

    // Closes both ports and stores null for both.
    disconnect() {
        const midi = this.native.midi;
        if (this.input) midi.indisconnect(this.input);
        if (this.output) midi.outdisconnect(this.output);
        this.input = null;
        this.output = null;
        this.prefs.update({ input: null, output: null });
    }

    // At start: reconnect the stored pair when both endpoints are present.
    autoConnect() {
        const ins = this.inputs();
        const outs = this.outputs();
        if (ins.length === 0 || outs.length === 0) return PortOutcome.deviceNotFound;
        const { input, output } = this.prefs.load();
        const uid = (r) => r?.MIDIEndpointUIDKey;
        const i = input && ins.find((r) => uid(r) === uid(input));
        const o = output && outs.find((r) => uid(r) === uid(output));
        if (!i || !o) return PortOutcome.chooseDevice;
        this.connect(i, o);
        return PortOutcome.connected;
    }

    // After a "midi" "changed" event: has the connected unit gone?
    endpointsChanged() {
        if (!this.input) return PortOutcome.unchanged;
        const key = entityKey(this.input);
        if (this.inputs().some((r) => entityKey(r) === key)) return PortOutcome.unchanged;
        this.disconnect();
        return PortOutcome.disconnected;
    }
}
