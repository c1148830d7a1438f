// The connection sequence that decides whether the unit may be edited, and
// the orderly disconnection.
import { IDENTITY_REQUEST } from './midi-controller.js';
import { CommunicationMode, UnitAddress } from './product-setting.js';
import { dt1Message, hex8, nibble } from './sysex.js';

// Family bytes an identity reply must carry for this model: the model
// identifier's third and second bytes, or for a 00-prefixed identifier its
// last byte and the number of model bytes less one.
export function identityFamily(modelId) {
    const bytes = modelId.match(/../g) ?? [];
    if (bytes[0] === '00') return bytes[bytes.length - 1] + hex8(bytes.length - 1);
    return (bytes[2] ?? '') + (bytes[1] ?? '');
}

// F0 7E <device> 06 02 <maker> <family 2 bytes> ...; the device byte is not
// compared.
export function isIdentityReply(message, setting) {
    return message.startsWith('F07E') &&
        message.substr(6, 10) === '0602' + setting.manufacturerId + identityFamily(setting.modelId);
}

export const Outcome = Object.freeze({
    connected: 'connected',
    wrongDevice: 'wrongDevice',
    firmwareTooOld: 'firmwareTooOld',
    applicationTooOld: 'applicationTooOld',
    communicationError: 'communicationError',
    factoryResetMode: 'factoryResetMode',
    runningMode: 'runningMode',
    cancelled: 'cancelled',
});

export class UnitConnection {
    // ports: object with disconnect() (closes the MIDI pair and forgets it).
    // synchronize: async function run before the link counts as connected.
    constructor({ controller, setting, ports, synchronize = async () => {} }) {
        this.controller = controller;
        this.setting = setting;
        this.ports = ports;
        this.synchronize = synchronize;
        this.cancelWait = null;
        this.connected = false;
        this.identity = null;
    }

    // Runs the sequence. Resolves with { outcome, ... }; a communication error
    // carries retry() (start again) and disconnect().
    connect() {
        return new Promise((resolve) => {
            const step = (fn) => (...a) => { this.cancelWait = null; fn(...a); };
            const fail = (outcome, extra = {}) => {
                this.disconnect();
                resolve({ outcome, ...extra });
            };
            const commError = () => resolve({
                outcome: Outcome.communicationError,
                retry: () => this.connect(),
                disconnect: () => this.disconnect(),
            });
            const c = this.controller;
            this.cancelWait = c.waitMessage(IDENTITY_REQUEST, {
                isReply: (m) => isIdentityReply(m, this.setting),
                success: step((reply) => {
                    // What tells this unit from another one when it comes back.
                    this.identity = reply;
                    this.setting.deviceId = reply.substr(4, 2);
                    this.cancelWait = c.waitRQ1(nibble(UnitAddress.communicationLevel), 1, {
                        success: step((data) => {
                            const level = parseInt(data.substr(0, 2), 16);
                            const ours = this.setting.communicationLevel;
                            if (level < ours) return fail(Outcome.firmwareTooOld, { level });
                            if (level > ours) return fail(Outcome.applicationTooOld, { level });
                            c.dt1(nibble(UnitAddress.communicationMode), CommunicationMode.on);
                            this.cancelWait = c.waitRQ1(nibble(UnitAddress.runningMode), 1, {
                                success: step((mode) => {
                                    mode = mode.substr(0, 2);
                                    if (mode === '01') {
                                        this.connected = true;
                                        Promise.resolve(this.synchronize()).then(
                                            () => resolve({ outcome: Outcome.connected }),
                                            () => commError());
                                        return;
                                    }
                                    // 00 and the factory-reset value 04 both mean the
                                    // unit is in its factory-reset mode.
                                    if (mode === '00' || mode === '04') {
                                        return fail(Outcome.factoryResetMode, { mode });
                                    }
                                    fail(Outcome.runningMode, { mode });
                                }),
                                error: step(commError),
                            });
                        }),
                        error: step(commError),
                    });
                }),
                error: step(() => fail(Outcome.wrongDevice)),
            });
        });
    }

    cancel() {
        if (this.cancelWait) this.cancelWait();
        this.cancelWait = null;
    }

    // Editing mode off, then the ports are closed and forgotten. The mode-off
    // message goes out at once so that closing the output cannot lose it.
    disconnect() {
        this.cancel();
        this.connected = false;
        const c = this.controller;
        c.clear();
        c.sendNow(dt1Message(this.setting, nibble(UnitAddress.communicationMode),
            CommunicationMode.off));
        this.ports?.disconnect();
    }
}
