// Manually advanced time and timers for the link's 10 ms machinery.
export class FakeClock {
    constructor() {
        this.t = 0;
        this.timers = new Map();
        this.nextId = 1;
    }

    now() { return this.t; }

    setInterval(fn, ms) { return this.add(fn, ms, true); }
    setTimeout(fn, ms) { return this.add(fn, ms, false); }
    clearInterval(id) { this.timers.delete(id); }
    clearTimeout(id) { this.timers.delete(id); }

    add(fn, ms, repeat) {
        const id = this.nextId++;
        this.timers.set(id, { fn, at: this.t + Math.max(ms, 0), every: Math.max(ms, 1), repeat });
        return id;
    }

    // Runs every timer due up to now + ms, in time order.
    advance(ms) {
        const end = this.t + ms;
        for (;;) {
            let next = null;
            for (const [id, t] of this.timers) {
                if (t.at <= end && (!next || t.at < next[1].at || (t.at === next[1].at && id < next[0]))) next = [id, t];
            }
            if (!next) break;
            const [id, timer] = next;
            this.t = Math.max(this.t, timer.at);
            if (timer.repeat) timer.at += timer.every;
            else this.timers.delete(id);
            timer.fn();
        }
        this.t = end;
    }

    // Advances in steps until pred() holds or limit ms have passed.
    until(pred, limit = 60000, step = 10) {
        for (let waited = 0; waited <= limit; waited += step) {
            if (pred()) return true;
            this.advance(step);
        }
        return pred();
    }
}
