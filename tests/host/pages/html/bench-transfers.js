// Transfer speed of the editor page as shipped, against whatever unit it
// connected to: RQ1 round trips, the read of one whole slot, a full-unit
// backup read, and (where the page has them) a verified slot load and the
// backup session itself. Added to a copy of the product bundle by
// bench_transfers; reports in the document title ("transfers:{json}").
const report = (what, value) => { document.title = `${what}:${JSON.stringify(value)}`; };

function waitConnected() {
    return new Promise((resolve) => {
        const check = () => (window.kx5?.connection?.connected ? resolve(window.kx5) : setTimeout(check, 100));
        check();
    });
}

function blockTasks(kx5, ids) {
    const tasks = [];
    for (const id of ids) {
        const { address, sizes } = kx5.parameter.getblock(id);
        let at = address;
        for (const size of sizes) {
            tasks.push({ address: at, size });
            at += Math.abs(size);
        }
    }
    return tasks;
}

function areaTasks(kx5, areas) {
    return blockTasks(kx5, areas.flatMap((a) => kx5.map.areaBlocks(a)));
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

async function run() {
    const kx5 = await waitConnected();
    // Let the start-up synchronisation settle.
    await new Promise((r) => setTimeout(r, 1000));
    const out = {};
    const small = blockTasks(kx5, ['SYSTEM%COMMON']);
    const rounds = Array.from({ length: 300 }, () => small[0]);
    const rq1Ms = await timedRead(kx5, rounds);
    out.rq1PerSecond = (rounds.length * 1000) / rq1Ms;

    const slotTasks = blockTasks(kx5, ['NAME', 'SIZE', 'FILE', 'DATA'].map((p) => `IRDATA(1)%${p}`));
    out.slotRequests = slotTasks.length;
    out.slotReadMs = await timedRead(kx5, slotTasks);

    const areas = ['IRDATA', 'SYSTEM', 'PATCH(1)', 'PATCH(2)'];
    for (let k = 1; k <= kx5.setting.numOfIrData; k++) areas.push(`IRDATA(${k})`);
    const full = areaTasks(kx5, areas);
    out.backupRequests = full.length;
    out.backupReadMs = await timedRead(kx5, full);

    report('transfers', out);
}

run().catch((e) => report('failed', String(e?.message ?? e)));
