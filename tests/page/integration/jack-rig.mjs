// Starts a private JACK server (dummy backend), the simulated unit and the
// MIDI pipe on it, and stops them again by PID.
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, openSync, readFileSync, rmSync, unlinkSync, writeSync, closeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

// A child process whose output lines can be awaited.
export class Child {
    constructor(command, args, env) {
        this.lines = [];
        this.waiters = [];
        this.proc = spawn(command, args, { env, stdio: ['pipe', 'pipe', 'pipe'] });
        this.exited = new Promise((resolve) => this.proc.on('exit', (code, signal) => resolve({ code, signal })));
        this.stderr = '';
        this.proc.stderr.on('data', (d) => { this.stderr += d; });
        createInterface({ input: this.proc.stdout }).on('line', (line) => {
            this.lines.push(line);
            this.onLine?.(line);
            this.waiters = this.waiters.filter((w) => !w(line));
        });
    }

    // Resolves with the first line (seen or coming) that matches.
    waitFor(pattern, ms = 15000, what = String(pattern)) {
        const seen = this.lines.find((l) => pattern.test(l));
        if (seen) return Promise.resolve(seen);
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => reject(new Error(`no "${what}" from ${this.proc.spawnfile}: ${this.stderr}`)), ms);
            this.waiters.push((line) => {
                if (!pattern.test(line)) return false;
                clearTimeout(timer);
                resolve(line);
                return true;
            });
        });
    }

    running() {
        return this.proc.exitCode === null && this.proc.signalCode === null;
    }

    // Ends the process (by closing its input when asked, else by signal) and
    // kills it when it has not ended after a grace period.
    async stop({ closeInput = false, graceMs = 5000 } = {}) {
        if (this.running()) {
            if (closeInput) this.proc.stdin.end();
            else this.proc.kill('SIGTERM');
        }
        const timer = setTimeout(() => { if (this.running()) this.proc.kill('SIGKILL'); }, graceMs);
        const result = await this.exited;
        clearTimeout(timer);
        return result;
    }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// JACK keeps at most 8 server names in a registry shared by the machine and
// frees a dead server's entry only when a server of that name starts again.
// So the page tests reuse two names; a lock file holding the owner's PID
// keeps two runs apart, and the lock of a dead owner is taken over.
const SERVER_NAMES = ['kx5page-0', 'kx5page-1'];

function alive(pid) {
    try {
        process.kill(pid, 0);
        return true;
    } catch (e) {
        return e.code === 'EPERM';
    }
}

function lockServerName() {
    for (let attempt = 0; attempt < 2; attempt++) {
        for (const name of SERVER_NAMES) {
            const path = join(tmpdir(), `${name}.jackd-lock`);
            try {
                const fd = openSync(path, 'wx');
                writeSync(fd, String(process.pid));
                closeSync(fd);
                return { name, release: () => rmSync(path, { force: true }) };
            } catch (e) {
                if (e.code !== 'EEXIST') throw e;
                const owner = Number(readFileSync(path, 'utf8'));
                if (!owner || !alive(owner)) {
                    try { unlinkSync(path); } catch { /* another run took it first */ }
                }
            }
        }
    }
    throw new Error('every JACK server name of the page tests is in use');
}

export async function startJackRig({ sim, pipe, simArgs = [] }) {
    const dir = mkdtempSync(join(tmpdir(), 'kx5-jack-'));
    const lock = lockServerName();
    const server = lock.name;
    const env = { ...process.env, JACK_DEFAULT_SERVER: server, JACK_NO_AUDIO_RESERVATION: '1' };
    const rig = { dir, env, server, children: [], dump: join(dir, 'dump.json') };
    rig.stop = async () => {
        // The pipe leaves its JACK client cleanly at the end of its input.
        await rig.pipe?.stop({ closeInput: true });
        for (const c of [...rig.children].reverse()) await c.stop();
        rmSync(dir, { recursive: true, force: true });
        lock.release();
    };
    try {
        // Synchronous mode: a client that is late on a busy machine delays the
        // cycle instead of losing its MIDI events.
        rig.jackd = new Child('jackd', ['--no-realtime', '-S', '-t', '5000', '-n', server,
            '-d', 'dummy', '-r', '48000', '-p', '512'], env);
        rig.children.push(rig.jackd);
        // The server is up once a client can list its ports.
        for (let i = 0; ; i++) {
            try {
                execFileSync('jack_lsp', { env, stdio: 'ignore' });
                break;
            } catch {
                if (i > 100 || !rig.jackd.running()) throw new Error(`jackd did not start: ${rig.jackd.stderr}`);
                await sleep(100);
            }
        }
        rig.sim = new Child(sim, ['--api', 'jack', '--name', 'KX-5 Sim', '--dump', rig.dump, ...simArgs], env);
        rig.children.push(rig.sim);
        await rig.sim.waitFor(/^ready/);
        rig.pipe = new Child(pipe, ['--api', 'jack', '--name', 'Page Link'], env);
        rig.children.push(rig.pipe);
        await rig.pipe.waitFor(/^ready/);
        execFileSync('jack_connect', ['Page Link:out', 'KX-5 Sim:in'], { env });
        execFileSync('jack_connect', ['KX-5 Sim:out', 'Page Link:in'], { env });
    } catch (e) {
        await rig.stop();
        throw e;
    }
    return rig;
}

// The page's "native" object as far as the link needs it, over the pipe.
export function pipeNative(pipe) {
    const native = {
        midi: {
            events: {},
            send(hex) { pipe.proc.stdin.write(hex + '\n'); },
        },
        app: { stored: '', storage(t) { if (t === undefined) return this.stored; this.stored = t; } },
    };
    pipe.onLine = (line) => {
        const [hex, ms] = line.split(' ');
        if (!/^[0-9A-F]+$/.test(hex)) return;
        // Events reach the page from a zero-delay timer.
        setTimeout(() => native.midi.events.message?.(hex, ms), 0);
    };
    return native;
}
