// The unit link: installs the bridge, builds the link and the parameter model
// (createLink), then finds the unit and shows the connection state
// (findUnit). main.js composes it with the editor.
import { installBridge } from './bridge/native.js';
import { MIDIController } from './link/midi-controller.js';
import { PortOutcome, PortPairing, entityKey, firstStartCandidate, pairedOutput } from './link/port-pairing.js';
import { showDialog } from './editor/dialogs.js';
import { createProductSetting } from './link/product-setting.js';
import { Outcome, UnitConnection } from './link/unit-connection.js';
import { UnitWatch, WatchState } from './link/unit-watch.js';
import { AddressMap, loadAddressMapDefinition } from './params/address-map.js';
import { Parameter } from './params/parameter.js';
import { ReadWriteLogic } from './params/read-write-logic.js';

const $ = (id) => document.getElementById(id);

const MESSAGES = {
    [Outcome.connected]: 'Connected.',
    [Outcome.wrongDevice]: 'The selected port does not answer as a KX-5.',
    [Outcome.firmwareTooOld]: 'The unit\'s firmware is too old for this editor. Please update the unit.',
    [Outcome.applicationTooOld]: 'This editor is too old for the unit\'s firmware. Please update the editor.',
    [Outcome.communicationError]: 'The unit stopped answering.',
    [Outcome.factoryResetMode]: 'The unit is in factory-reset mode. Finish or leave it on the unit, then connect again.',
    [Outcome.runningMode]: 'The unit is busy in a mode that does not allow editing.',
    [PortOutcome.deviceNotFound]: 'No MIDI device found. Connect the KX-5 with USB.',
    [PortOutcome.chooseDevice]: 'Choose the KX-5\'s MIDI port.',
    [PortOutcome.disconnected]: 'The unit was disconnected.',
};

function showLink(state, text) {
    const el = $('link-state');
    el.dataset.state = state;
    el.textContent = text;
    $('disconnect-button').disabled = state !== 'connected' && state !== 'silent';
}

function showProgress(value) {
    const box = document.querySelector('.progress');
    box.hidden = value === null;
    box.querySelector('.bar').style.width = `${value ?? 0}%`;
}

// Reads whole blocks of the given areas (and further blocks); resolves at
// "end", rejects on time-out.
function readAreas(kx5, areas, blocks = []) {
    const tasks = kx5.parameter.readTasks([...areas.flatMap((area) => kx5.map.areaBlocks(area)), ...blocks]);
    return new Promise((resolve, reject) => {
        const observer = (state) => {
            if (typeof state === 'number') return showProgress(state);
            kx5.readWrite.removeObserver(observer);
            showProgress(null);
            if (state === 'end') resolve();
            else reject(new Error(state));
        };
        kx5.readWrite.addObserver(observer);
        kx5.readWrite.readStart(tasks);
    });
}

function fillPorts(kx5) {
    const select = $('port-select');
    select.replaceChildren();
    $('connect-button').disabled = kx5.ports.inputs().length === 0;
    // A unit that went away stays the one shown, not whichever port is left.
    const lost = kx5.watch.state === WatchState.gone ? kx5.watch.unit : null;
    if (lost) {
        const option = document.createElement('option');
        option.textContent = `${lost.name} (not connected)`;
        option.value = '';
        option.record = null;
        option.selected = true;
        select.append(option);
    }
    for (const input of kx5.ports.inputs()) {
        const option = document.createElement('option');
        option.textContent = input.MIDIDeviceNameKey;
        option.value = input.MIDIEndpointUIDKey;
        option.record = input;
        if (kx5.ports.input?.MIDIEndpointUIDKey === input.MIDIEndpointUIDKey) option.selected = true;
        select.append(option);
    }
}

function portSelect(id, label, records, selected) {
    const wrap = document.createElement('label');
    wrap.className = 'field';
    wrap.textContent = label;
    const select = document.createElement('select');
    select.id = id;
    for (const r of records) {
        const option = document.createElement('option');
        option.textContent = r.MIDIDeviceNameKey;
        option.value = r.MIDIEndpointUIDKey;
        option.record = r;
        option.selected = r === selected;
        select.append(option);
    }
    wrap.append(select);
    return { wrap, select, record: () => select.selectedOptions[0]?.record ?? null };
}

// The connection dialog: input and output lists; the output follows the
// input's device name and can still be changed by hand.
async function pickPorts(kx5) {
    const ins = kx5.ports.inputs();
    const outs = kx5.ports.outputs();
    if (ins.length === 0 || outs.length === 0) {
        showLink('error', MESSAGES[PortOutcome.deviceNotFound]);
        return;
    }
    const uid = (r) => r?.MIDIEndpointUIDKey;
    const input = ins.find((r) => uid(r) === uid(kx5.ports.input)) ?? firstStartCandidate(ins) ?? ins[0];
    const output = outs.find((r) => uid(r) === uid(kx5.ports.output)) ?? pairedOutput(input, outs) ?? outs[0];
    const inSel = portSelect('picker-input', 'Input', ins, input);
    const outSel = portSelect('picker-output', 'Output', outs, output);
    inSel.select.addEventListener('change', () => {
        const paired = pairedOutput(inSel.record(), outs);
        if (paired) outSel.select.value = uid(paired);
    });
    const body = document.createElement('div');
    body.className = 'port-picker';
    body.append(inSel.wrap, outSel.wrap);
    const answer = await showDialog({
        title: 'MIDI ports',
        text: 'Choose the KX-5\'s input and output. "KX-5 (simulated)" is the unit built into this program.',
        body,
        buttons: [{ label: 'Connect', value: 'connect', primary: true }, { label: 'Cancel', value: 'cancel' }],
    });
    if (answer !== 'connect' || !inSel.record() || !outSel.record()) return;
    if (kx5.watch.state === WatchState.connected && !(await mayLeaveUnit(kx5))) return;
    kx5.watch.detach();
    if (kx5.connection.connected) kx5.connection.disconnect();
    else kx5.connection.cancel();
    kx5.ports.connect(inSel.record(), outSel.record());
    fillPorts(kx5);
    connectUnit(kx5);
}

function showSummary(kx5) {
    const p = kx5.parameter;
    $('patch-name').textContent = String(p.get('PATCH%COMMON%0')).trimEnd() || '–';
    const loaded = kx5.map.block('IRDATA%STATUS').params.filter((q) => p.get(q.id) === 1).length;
    $('slot-count').textContent = `${loaded} of ${kx5.setting.numOfIrData}`;
}

async function connectUnit(kx5) {
    showLink('busy', 'Connecting…');
    const result = await kx5.connection.connect();
    if (result.outcome === Outcome.connected) {
        const name = kx5.ports.input?.MIDIDeviceNameKey ?? 'the unit';
        kx5.watch.attach({ identity: kx5.connection.identity, entity: entityKey(kx5.ports.input), name });
        showLink('connected', `Connected to ${name}.`);
        showSummary(kx5);
        fillPorts(kx5);
        return result;
    }
    // A unit that was lost and answers oddly now is still awaited.
    if (kx5.watch.state === WatchState.silent) kx5.watch.detach();
    showLink('error', MESSAGES[result.outcome] ?? result.outcome);
    fillPorts(kx5);
    return result;
}

// Before the editor lets go of the unit it edits (another port, another
// unit): the editor may ask about unsaved edits first.
async function mayLeaveUnit(kx5) {
    return typeof kx5.confirmLeave === 'function' ? kx5.confirmLeave('connect') : true;
}

// Everything the editor builds on, with the page's own handlers in place.
export async function createLink(win) {
    const { native, $event } = installBridge(win);
    const hostState = $('host-state');
    hostState.dataset.state = native.hasHost ? 'host' : 'none';
    hostState.textContent = native.hasHost ? 'desktop host' : 'preview (no host)';

    const definition = await loadAddressMapDefinition();
    const map = new AddressMap(definition);
    const setting = createProductSetting(definition);
    const controller = new MIDIController({ native, setting });
    const ports = new PortPairing(native);
    const parameter = new Parameter({ map, controller });
    const readWrite = new ReadWriteLogic({ controller });
    const kx5 = { native, map, setting, controller, ports, parameter, readWrite };
    // The slots' names, file names and states come with everything else.
    const slotBlocks = [];
    for (let k = 1; k <= setting.numOfIrData; k++) for (const part of ['NAME', 'SIZE', 'FILE']) slotBlocks.push(`IRDATA(${k})%${part}`);
    kx5.connection = new UnitConnection({
        controller, setting, ports,
        synchronize: () => readAreas(kx5, ['SETUP', 'SYSTEM', 'PATCH', 'IRDATA'], slotBlocks),
    });
    kx5.watch = new UnitWatch({ controller, setting, isBusy: () => readWrite.busy });
    kx5.connectUnit = () => connectUnit(kx5);
    kx5.watch.addListener((e) => {
        if (e.type === 'silent') {
            showLink('silent', `${kx5.watch.unit?.name ?? 'The unit'} stopped answering. The editor connects again as soon as it answers.`);
        } else if (e.type === 'answering') {
            connectUnit(kx5);
        }
    });

    parameter.addObserver((blockId) => {
        if (blockId === 'IRDATA%STATUS' || blockId.startsWith('PATCH%COMMON')) showSummary(kx5);
    });
    controller.start();
    native.midi.events.changed = () => {
        if (ports.endpointsChanged() === PortOutcome.disconnected) {
            kx5.connection.cancel();
            kx5.connection.connected = false;
            controller.clear();
            kx5.watch.gone();
            showLink('error', MESSAGES[PortOutcome.disconnected]);
        } else if (kx5.watch.state === WatchState.gone) {
            // The unit that went away is back on its port: connect to it again.
            const back = ports.inputs().find((r) => entityKey(r) === kx5.watch.unit.entity);
            if (back && ports.choose(back)) connectUnit(kx5);
        }
        fillPorts(kx5);
    };
    $event.start();
    native.app.ready();

    $('port-form').addEventListener('submit', async (e) => {
        e.preventDefault();
        const option = $('port-select').selectedOptions[0];
        if (!option) return;
        if (!option.record) {
            showLink('error', MESSAGES[PortOutcome.disconnected]);
            return;
        }
        const other = entityKey(option.record) !== kx5.watch.unit?.entity;
        if (other && kx5.watch.state === WatchState.connected && !(await mayLeaveUnit(kx5))) return;
        if (other) kx5.watch.detach();
        if (!ports.choose(option.record)) {
            showLink('error', 'No output port belongs to this input.');
            return;
        }
        connectUnit(kx5);
    });
    $('ports-button').addEventListener('click', () => pickPorts(kx5));
    $('disconnect-button').addEventListener('click', async () => {
        if (!(await mayLeaveUnit(kx5))) return;
        kx5.watch.detach();
        kx5.connection.disconnect();
        showLink('idle', 'Disconnected.');
        fillPorts(kx5);
    });
    return kx5;
}

// Connects the unit remembered or the only one there, or asks for the port.
export function findUnit(kx5) {
    const { native, ports } = kx5;
    if (!native.hasHost) {
        showLink('idle', 'Open this page in the KX-5 Editor program to reach the unit.');
        return;
    }
    fillPorts(kx5);
    const outcome = ports.autoConnect();
    if (outcome === PortOutcome.connected) return connectUnit(kx5);
    // The identity check still decides whether the port taken is a KX-5.
    const candidate = firstStartCandidate(ports.inputs());
    if (outcome === PortOutcome.chooseDevice && candidate && ports.choose(candidate)) {
        fillPorts(kx5);
        return connectUnit(kx5);
    }
    showLink(outcome === PortOutcome.deviceNotFound ? 'error' : 'idle', MESSAGES[outcome]);
    // No remembered pair and no single unit to take: ask.
    if (outcome === PortOutcome.chooseDevice) pickPorts(kx5);
}

export function showStartFailure(e) {
    showLink('error', `Start failed: ${e.message}`);
    console.error(e);
}
