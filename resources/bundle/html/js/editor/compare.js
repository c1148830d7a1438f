// Compare (A/B): the edited patch against the stored one. Switching sides
// writes only the bytes that differ (to the unit as DT1, when the source is
// the unit), so the pedal plays one and then the other; ending the
// comparison always brings the edited patch back. While it runs the source
// takes no edits.
import { decodeValue, isNumericCode, removeOfs } from '../params/size-codes.js';
import { applyChanges, imageChanges } from '../params/undo-history.js';
import { formatValue, shortLabel } from '../params/display.js';

export const Side = Object.freeze({ edited: 'edited', stored: 'stored' });

function valueIn(p, data) {
    const bytes = (data ?? []).slice(p.offset, p.offset + p.bytes).map((h) => parseInt(h, 16) || 0);
    if (bytes.length < p.bytes) return null;
    const v = decodeValue(p.code, bytes);
    return isNumericCode(p.code) ? removeOfs(v, p.ofs) : String(v).trimEnd();
}

const dataOf = (image, id) => (image instanceof Map ? image.get(id) : image[id]);

// The parameters whose values differ between two images of an area:
// [{ param, a, b }], in map order; a variable block (the memo) counts as
// one entry with its text.
export function differingParams(map, area, imageA, imageB) {
    const out = [];
    for (const id of map.areaBlocks(area)) {
        const block = map.block(id);
        const a = dataOf(imageA, id) ?? [];
        const b = dataOf(imageB, id) ?? [];
        if (block.size < 0) {
            if (a.join('') !== b.join('')) out.push({ param: null, block, a: null, b: null });
            continue;
        }
        for (const p of block.params) {
            const va = valueIn(p, a);
            const vb = valueIn(p, b);
            if (va !== vb) out.push({ param: p, block, a: va, b: vb });
        }
    }
    return out;
}

// One line per difference: "AMP GAIN: 60 edited, 50 stored".
export function describeDifferences(diffs, parameter = null) {
    return diffs.map(({ param, block, a, b }) => (param
        ? `${shortLabel(param)}: ${formatValue(param, a, parameter)} edited, ${formatValue(param, b, parameter)} stored`
        : `${block.name}: differs`));
}

export class Comparison {
    // source: the EditSource; area: the patch area it shows; stored: the
    // stored patch as an image of that area's block ids.
    constructor({ source, area, stored }) {
        Object.assign(this, { source, area, stored });
        const parameter = source.parameter;
        this.edited = new Map(source.map.areaBlocks(area).map((id) => [id, [...parameter.paramSet[id]]]));
        this.changes = imageChanges(this.edited, stored, source.map);
        this.diffs = differingParams(source.map, area, this.edited, stored);
        this.side = Side.edited;
        this.active = true;
        source.lockedBy = this;
    }

    get differs() {
        return this.changes.length > 0;
    }

    // Shows the other side; returns it.
    toggle() {
        if (!this.active) return this.side;
        return this.show(this.side === Side.edited ? Side.stored : Side.edited);
    }

    show(side) {
        if (!this.active || side === this.side) return this.side;
        applyChanges(this.source.parameter, this.changes, side === Side.stored ? 'after' : 'before', true);
        this.side = side;
        return side;
    }

    // Back to the edited patch, and the source takes edits again.
    end() {
        if (!this.active) return;
        this.show(Side.edited);
        this.active = false;
        if (this.source.lockedBy === this) this.source.lockedBy = null;
    }
}
