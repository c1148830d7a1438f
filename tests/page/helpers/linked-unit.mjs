// The page's link and parameter model wired to a ScriptedUnit on a fake
// clock: where most page tests start.
import { AddressMap, loadAddressMapDefinition } from '../../../resources/bundle/html/js/params/address-map.js';
import { Parameter } from '../../../resources/bundle/html/js/params/parameter.js';
import { ReadWriteLogic } from '../../../resources/bundle/html/js/params/read-write-logic.js';
import { MIDIController } from '../../../resources/bundle/html/js/link/midi-controller.js';
import { createProductSetting } from '../../../resources/bundle/html/js/link/product-setting.js';
import { FakeClock } from './fake-clock.mjs';
import { ScriptedUnit, makeNative } from './scripted-unit.mjs';

export const definition = await loadAddressMapDefinition();
export const map = new AddressMap(definition);

export function linkedUnit() {
    const clock = new FakeClock();
    const native = makeNative();
    const setting = createProductSetting(definition);
    const controller = new MIDIController({ native, setting, clock });
    controller.start();
    const unit = new ScriptedUnit({ native, clock, setting });
    const parameter = new Parameter({ map, controller });
    const readWrite = new ReadWriteLogic({ controller, clock });
    return { clock, native, setting, controller, unit, parameter, readWrite };
}
