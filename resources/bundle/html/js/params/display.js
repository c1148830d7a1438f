// Values as people read them: list entries by their label, numbers with the
// unit the address map gives them ("+3 dB", "350 ms", "2.0 s"), a slot
// number by the slot's name; parameters by their block and name ("PATCH AMP
// GAIN", "user patch 2 AMP GAIN").
import { isNumericCode } from './size-codes.js';

const MINUS = '\u2212';

// "x0.1s": the number counts tenths of a second.
const SCALED = /^x([0-9.]+)\s*(\S+)$/;

const trimText = (v) => String(v).trimEnd();

// The name of the area a "refers" parameter picks (IRDATA(3) for 3), when
// the model holds one.
function referredName(parameter, p, value) {
    if (!p.refers || !parameter) return null;
    const name = parameter.map.block(`${p.refers}(${value})%NAME`)?.params[0];
    return name ? trimText(parameter.get(name.id)) : null;
}

// One value of parameter p as text. parameter (optional) resolves slot
// names for parameters that refer to a slot.
export function formatValue(p, value, parameter = null) {
    if (!p) return String(value);
    if (!isNumericCode(p.code)) return `"${trimText(value)}"`;
    const v = Number(value);
    if (p.values?.length) {
        const label = p.values[v - (p.min ?? 0)];
        if (label !== undefined) return label;
    }
    if (p.refers) {
        const name = referredName(parameter, p, v);
        if (name === null) return String(v);
        return `${v}: ${name || '(no name)'}`;
    }
    const unit = p.unit ?? '';
    const scaled = SCALED.exec(unit);
    if (scaled) {
        const factor = Number(scaled[1]);
        const decimals = Math.max(0, -Math.floor(Math.log10(factor)));
        return `${(v * factor).toFixed(decimals)} ${scaled[2]}`;
    }
    // A range around zero reads as a signed number.
    const signed = (p.min ?? 0) < 0 ? (v > 0 ? `+${v}` : v < 0 ? `${MINUS}${-v}` : '0') : String(v);
    if (!unit || unit === 'bytes') return signed;
    return unit === '%' ? `${signed} %` : `${signed} ${unit}`;
}

// The smallest change a stored number can show: a parameter stored at half
// its value (ofs [offset, 0.5]) moves in steps of 2.
export function valueStep(p) {
    const factor = Array.isArray(p?.ofs) ? Number(p.ofs[1]) : 1;
    return factor > 0 && factor < 1 ? Math.round(1 / factor) : 1;
}

// The area of a block id in words: "PATCH", "user patch 2", "SYSTEM",
// "slot 3".
export function areaLabel(area) {
    const patch = /^PATCH\((\d+)\)$/.exec(area);
    if (patch) return `user patch ${patch[1]}`;
    const slot = /^IRDATA\((\d+)\)$/.exec(area);
    if (slot) return `slot ${slot[1]}`;
    return area;
}

// "PATCH AMP GAIN"; a block's only parameter named like the block is said
// once ("slot 3 NAME").
export function paramLabel(p) {
    const [area, block] = p.block.split('%');
    const name = p.name === block ? '' : ` ${p.name}`;
    return `${areaLabel(area)} ${block}${name}`;
}

// "AMP GAIN" within a known area.
export function shortLabel(p) {
    const block = p.block.split('%')[1];
    return p.name === block ? block : `${block} ${p.name}`;
}
