// The ".alb" backup file: system settings, user patches and impulse-response
// slots as JSON, the slot coefficients enciphered. Blocks are stored under
// names without the patch or slot number ("PATCH%AMP", "IRDATA%NAME"), so a
// patch or slot object can be restored into any patch or slot.
export const FORMAT_REV = '0000';
export const EXTENSION = 'alb';
export const COEF_KEY = 'IRDATA%COEF';
export const ENCOEF_KEY = 'IRDATA%ENCOEF';
const COEF_BLOCK = 'DATA';

export class BackupError extends Error {}

// The areas a backup holds: [{ section, index, area }].
export function backupAreas(setting) {
    const areas = [{ section: 'system', index: null, area: 'SYSTEM' }];
    for (let i = 0; i < setting.numOfUserPatch; i++) areas.push({ section: 'userPatch', index: i, area: `PATCH(${i + 1})` });
    for (let i = 0; i < setting.numOfIrData; i++) areas.push({ section: 'irData', index: i, area: `IRDATA(${i + 1})` });
    return areas;
}

// "PATCH(2)%AMP" -> "PATCH%AMP"; "IRDATA(3)%DATA" -> "IRDATA%COEF".
export function fileKey(blockId) {
    const [area, ...rest] = blockId.split('%');
    const plain = area.replace(/\(\d+\)$/, '');
    const name = rest.join('%');
    if (plain === 'IRDATA' && name === COEF_BLOCK) return COEF_KEY;
    return `${plain}%${name}`;
}

const isHexByte = (h) => typeof h === 'string' && /^[0-7][0-9A-Fa-f]$/.test(h);

function areaObject(map, parameter, area) {
    const out = {};
    for (const id of map.areaBlocks(area)) out[fileKey(id)] = [...parameter.paramSet[id]];
    return out;
}

// The backup as an object ready for JSON. present(section, index) says
// whether a patch or slot holds data; absent ones are stored as null.
// encrypt(hex) -> hex with the default key.
export function buildBackup({ map, parameter, setting, encrypt, present = () => true }) {
    const backup = {
        system: {},
        userPatch: [],
        irData: [],
        formatRev: FORMAT_REV,
        device: setting.product,
    };
    for (const { section, index, area } of backupAreas(setting)) {
        if (section === 'system') {
            backup.system = areaObject(map, parameter, area);
            continue;
        }
        if (!present(section, index)) {
            backup[section].push(null);
            continue;
        }
        const obj = areaObject(map, parameter, area);
        if (section === 'irData' && obj[COEF_KEY]) {
            const cipher = encrypt(obj[COEF_KEY].join(''));
            if (!cipher) throw new BackupError('the coefficients could not be enciphered');
            delete obj[COEF_KEY];
            obj[ENCOEF_KEY] = cipher;
        }
        backup[section].push(obj);
    }
    return backup;
}

// What a backup contains, for the dialog that offers it.
export function describeBackup(backup) {
    const slots = [];
    (backup.irData ?? []).forEach((s, i) => { if (s) slots.push(i + 1); });
    const patches = (backup.userPatch ?? []).filter(Boolean).length;
    return {
        system: !!backup.system,
        patches,
        slots,
        text: `system settings, ${patches} user patch${patches === 1 ? '' : 'es'}, ` +
            (slots.length ? `IR slot${slots.length === 1 ? '' : 's'} ${slots.join(', ')}` : 'no IR slots'),
    };
}

// Fits stored data to a block: missing -> initial image; shorter -> completed
// with the tail of the initial image; longer -> cut. Variable blocks keep
// their own length up to their maximum.
export function fitBlock(block, data) {
    if (!Array.isArray(data)) return [...block.initial];
    if (!data.every(isHexByte)) throw new BackupError(`block ${fileKey(block.id)} holds values that are not data bytes`);
    const bytes = data.map((h) => h.toUpperCase());
    if (block.size < 0) return bytes.slice(0, -block.size);
    const out = bytes.slice(0, block.size);
    while (out.length < block.size) out.push(block.initial[out.length]);
    return out;
}

// Parses a backup text. Returns [{ area, blocks: Map(blockId -> data) }] for
// the areas to write; decrypt(hex) -> hex with the default key. Throws
// BackupError("this file is unsupported") for anything else.
export function parseBackup(text, { map, setting, decrypt }) {
    let backup;
    try {
        backup = JSON.parse(text);
    } catch {
        throw new BackupError('this file is unsupported');
    }
    const ok = backup && typeof backup === 'object' && !Array.isArray(backup) &&
        'formatRev' in backup && backup.device === setting.product &&
        backup.system && typeof backup.system === 'object' && Array.isArray(backup.userPatch);
    if (!ok) throw new BackupError('this file is unsupported');
    if (backup.irData !== undefined && !Array.isArray(backup.irData)) throw new BackupError('this file is unsupported');

    const result = [];
    for (const { section, index, area } of backupAreas(setting)) {
        const obj = section === 'system' ? backup.system : backup[section]?.[index];
        // Sections (and patches or slots) absent from the file are skipped.
        if (obj === undefined || obj === null) continue;
        if (typeof obj !== 'object' || Array.isArray(obj)) throw new BackupError('this file is unsupported');
        const stored = { ...obj };
        if (ENCOEF_KEY in stored) {
            let plain = '';
            try {
                plain = typeof stored[ENCOEF_KEY] === 'string' ? decrypt(stored[ENCOEF_KEY]) : '';
            } catch {
                plain = '';
            }
            if (!plain || plain.length % 2 !== 0) throw new BackupError('this file is unsupported');
            stored[COEF_KEY] = plain.match(/../g);
            delete stored[ENCOEF_KEY];
        }
        const blocks = new Map();
        for (const id of map.areaBlocks(area)) blocks.set(id, fitBlock(map.block(id), stored[fileKey(id)]));
        result.push({ section, index, area, blocks });
    }
    return result;
}

// DT1 tasks that write parsed areas, at most maxBytes data bytes each.
export function restoreTasks(map, areas, maxBytes = 240) {
    const tasks = [];
    for (const { blocks } of areas) {
        for (const [id, data] of blocks) {
            const block = map.block(id);
            for (let i = 0; i < data.length; i += maxBytes) {
                tasks.push({ address: block.absolute + i, data: data.slice(i, i + maxBytes).join('') });
            }
        }
    }
    return tasks;
}
