// The unit's slot commands: initialise a slot, and take a written slot
// (the set-IR command) followed by the unit's verdict on it.
import { _7bitize, hex8, nibble } from '../link/sysex.js';
import { UnitAddress } from '../link/product-setting.js';

// Initialises slot (0-based); done(true) when the unit echoes the command,
// done(false) after the link's time-out. Returns the wait's cancel.
export function initializeSlot(controller, slot, done) {
    const address = nibble(UnitAddress.irSlotInitialize);
    const data = hex8((slot >> 7) & 0x7f) + hex8(slot & 0x7f);
    const h = controller.headerLength;
    return controller.waitDT1(address, data, {
        isReply: (m) => m.substr(h - 2, 2) === '12' && m.substr(h, 8) === _7bitize(address),
        success: () => done(true),
        error: () => done(false),
    });
}

// Tells the unit to take slot (0-based) and asks for the slot's state
// afterwards; done(state) with 0 empty, 1 loaded, 2 invalid, or null when
// the unit did not say. The answer also reaches the parameter model.
export function takeSlot(controller, map, slot, done) {
    controller.dt1(nibble(UnitAddress.setIrData), hex8(slot));
    const status = map?.block('IRDATA%STATUS');
    if (!status) return done(null);
    controller.waitRQ1(status.absolute + slot, 1, {
        success: (data) => {
            const state = parseInt(data.substr(0, 2), 16);
            done(Number.isInteger(state) ? state : null);
        },
        error: () => done(null),
    });
}
