// Transfer speed of the editor page as shipped, against whatever unit it
// connected to: RQ1 round trips, the read of one whole slot and of the
// whole unit, a verified slot load, the verify of a loaded slot, and the
// backup of the whole unit with all 11 slots loaded (the backup session, the
// file written where ?out= says). Added to a copy of the product bundle by
// bench_transfers; reports in the document title ("transfers:{json}").
// Run on an older bundle without the verified writes, it measures the reads
// only.

const report = (what, value) => { document.title = `${what}:${JSON.stringify(value)}`; };
const out = new URL(import.meta.url).searchParams.get('out');

// The page's link: what its entry (js/main.js) started, or on an older
// bundle without that entry the window.kx5 it published.
async function pageLink() {
    try {
        const { started } = await import('./js/main.js');
        if (started) return await started;
    } catch { /* an older bundle */ }
    return null;
}

async function waitConnected() {
    const link = await pageLink();
    return new Promise((resolve) => {
        const check = () => {
            const kx5 = link ?? window.kx5;
            return kx5?.connection?.connected ? resolve(kx5) : setTimeout(check, 100);
        };
        check();
    });
}

function blockTasks(kx5, ids) {
    if (typeof kx5.parameter.readTasks === 'function') return kx5.parameter.readTasks(ids);
    // An older bundle: the same pieces from getblock.
    const tasks = [];
    for (const id of ids) {
        const { address, sizes } = kx5.parameter.getblock(id);
        let at = address;
        sizes.forEach((size) => { tasks.push({ address: at, size }); at += Math.abs(size); });
    }
    return tasks;
}

// Runs one batch read; resolves with its time in ms.
function timedRead(kx5, tasks) {
    return new Promise((resolve, reject) => {
        const t0 = performance.now();
        const observer = (state) => {
            if (typeof state === 'number') return;
            kx5.readWrite.removeObserver(observer);
            if (state === 'end') resolve(performance.now() - t0);
            else reject(new Error(String(state)));
        };
        kx5.readWrite.addObserver(observer);
        kx5.readWrite.readStart(tasks);
    });
}

// A verified write (or verify only); resolves with its time in ms.
function timedVerifiedWrite(m, kx5, messages, options) {
    return new Promise((resolve, reject) => {
        const t0 = performance.now();
        new m.VerifiedWrite({ readWrite: kx5.readWrite, gap: 8 }).run(messages, options, (result) => {
            if (result.ok) resolve(performance.now() - t0);
            else reject(new Error(`verified write: ${result.reason}`));
        });
    });
}

const slotWrite = (m, kx5, k) => m.buildWriteList(kx5.setting, k, {
    name: `Bench ${k + 1}`, file: `bench ${k + 1}.wav`,
    words: Array.from({ length: m.COEFFICIENT_WORDS }, (_, i) => (0x3c000000 + ((i * 40503 + k * 977) & 0xffff)) >>> 0),
});

async function modules() {
    try {
        const parts = await Promise.all(['./js/ir/ir-messages.js', './js/ir/slot-commands.js',
            './js/transfer/verified-write.js', './js/backup/backup-session.js', './js/backup/backup-plan.js']
            .map((path) => import(path)));
        return Object.assign({}, ...parts);
    } catch {
        return null;
    }
}

async function run() {
    const kx5 = await waitConnected();
    // Let the start-up synchronisation settle.
    await new Promise((r) => setTimeout(r, 1000));
    const result = {};
    const small = blockTasks(kx5, ['SYSTEM%COMMON']);
    const rounds = Array.from({ length: 300 }, () => small[0]);
    const rq1Ms = await timedRead(kx5, rounds);
    result.rq1PerSecond = (rounds.length * 1000) / rq1Ms;

    const slotTasks = blockTasks(kx5, ['NAME', 'SIZE', 'FILE', 'DATA'].map((p) => `IRDATA(1)%${p}`));
    result.slotRequests = slotTasks.length;
    result.slotReadMs = await timedRead(kx5, slotTasks);

    const areas = ['IRDATA', 'SYSTEM', 'PATCH(1)', 'PATCH(2)'];
    for (let k = 1; k <= kx5.setting.numOfIrData; k++) areas.push(`IRDATA(${k})`);
    const full = blockTasks(kx5, areas.flatMap((a) => kx5.map.areaBlocks(a)));
    result.backupRequests = full.length;
    result.backupReadMs = await timedRead(kx5, full);

    const m = await modules();
    if (!m) return report('transfers', result);
    // Every slot loaded (verified), then taken by the unit.
    const loads = [];
    for (let k = 0; k < kx5.setting.numOfIrData; k++) {
        loads.push(await timedVerifiedWrite(m, kx5, slotWrite(m, kx5, k), {}));
        await new Promise((resolve) => m.takeSlot(kx5.controller, kx5.map, k, resolve));
    }
    result.loadMs = loads.reduce((a, b) => a + b, 0) / loads.length;
    result.verifyMs = await timedVerifiedWrite(m, kx5, slotWrite(m, kx5, 0), { write: false });

    if (out) {
        result.backupMs = await new Promise((resolve, reject) => {
            const t0 = performance.now();
            const session = new m.BackupSession({
                native: kx5.native, map: kx5.map, parameter: kx5.parameter, readWrite: kx5.readWrite,
                controller: kx5.controller, setting: kx5.setting, isConnected: () => true,
                onEvent: (e) => {
                    if (e.type === 'saved' && e.contents.slots.length === kx5.setting.numOfIrData) resolve(performance.now() - t0);
                    else if (e.type !== 'progress') reject(new Error(`backup: ${JSON.stringify(e)}`));
                },
            });
            session.save(out, m.planBackup(kx5.parameter, kx5.setting));
        });
    }
    report('transfers', result);
}

run().catch((e) => report('failed', String(e?.message ?? e)));
