#include "library/library_scan.h"

#include "library/ir_analysis.h"
#include "library/ir_file_reader.h"
#include "library/search_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace kx5 {
namespace {

struct Known {
    int64_t id = 0;
    int64_t size = 0;
    int64_t mtime = 0;
    std::string root;
    std::string content;
    bool seen = false;
};

struct Work {
    FoundFile file;
    const std::string* root = nullptr;
    const Known* known = nullptr; // the entry it replaces, if any
};

struct Analysed {
    bool done = false; // false: left out by a cancel
    std::string problem;
    std::string format;
    uint32_t rate = 0, bits = 0, channels = 0, frames = 0;
    IrSound sound;
    std::string content;
};

struct Location {
    std::string name, folder, search, sortname;
};

// name, the folder relative to the library folder's parent (so it starts
// with the library folder's own name), and the folded search texts.
Location locate(const std::string& path, const std::string& root) {
    const size_t cut = root.rfind('/');
    const std::string relative = path.substr(cut == std::string::npos ? 0 : cut + 1);
    const size_t slash = relative.rfind('/');
    Location l;
    l.name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    l.folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    const size_t dot = l.name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? l.name : l.name.substr(0, dot);
    l.search = foldForSearch(l.folder + "/" + stem);
    l.sortname = foldForSearch(stem);
    return l;
}

std::string keyText(uint64_t key) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016" PRIx64, key);
    return buf;
}

Analysed readAndAnalyse(const FoundFile& file, IrAnalyser& analyser, double maxSeconds) {
    Analysed a;
    a.done = true;
    if (!file.problem.empty()) {
        a.problem = file.problem;
        return a;
    }
    try {
        IrReadResult read = readIrFile(file.path, maxSeconds);
        if (const auto* unreadable = std::get_if<IrUnreadable>(&read)) {
            a.problem = unreadable->reason;
            return a;
        }
        const IrAudio& audio = std::get<IrAudio>(read);
        a.format = audio.format;
        a.rate = audio.sampleRate;
        a.bits = audio.bits;
        a.channels = audio.channels;
        a.frames = audio.frames;
        a.sound = analyser.analyse(audio.firstChannel.data(), audio.firstChannel.size(),
                                   audio.sampleRate);
        a.content = keyText(audio.contentKey);
    } catch (const std::exception& e) {
        a.problem = std::string("could not be read: ") + e.what();
    }
    return a;
}

unsigned readerCount(unsigned wanted) {
    if (wanted > 0) return wanted;
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

} // namespace

LibraryScan::LibraryScan(SqliteDatabase& db, const std::atomic<bool>& cancel, Progress progress,
                         ScanOptions options)
    : db_(db), cancel_(cancel), progress_(std::move(progress)), options_(options) {}

ScanSummary LibraryScan::run(const std::vector<std::string>& roots) {
    ScanSummary summary = scan(roots);
    auto count = db_.prepare("SELECT count(*), ifnull(sum(problem <> ''), 0) FROM files");
    if (count.step()) {
        summary.skipped = int(count.integer(1));
        summary.files = int(count.integer(0)) - summary.skipped;
    }
    return summary;
}

ScanSummary LibraryScan::scan(const std::vector<std::string>& roots) {
    ScanSummary summary;
    std::unordered_map<std::string, Known> known;
    {
        auto s = db_.prepare("SELECT id, path, root, size, mtime, content FROM files");
        while (s.step())
            known.emplace(s.text(1), Known{s.integer(0), s.integer(3), s.integer(4), s.text(2),
                                           s.text(5), false});
    }

    // Find every candidate; decide what is read again.
    std::vector<Work> work;
    struct Moved {
        std::string path;
        int64_t id;
        const std::string* root;
    };
    std::vector<Moved> moved; // unchanged, now under another library folder
    std::unordered_set<std::string> seenPaths;
    std::vector<FolderWalk> walks;
    walks.reserve(roots.size());
    for (const std::string& root : roots) {
        walks.push_back(walkFolder(root, isIrFileName, cancel_));
        FolderWalk& walk = walks.back();
        if (walk.cancelled) {
            summary.cancelled = true;
            return summary;
        }
        if (walk.rootMissing) summary.missing.push_back(root);
        for (const WalkProblem& p : walk.problems)
            if (p.path != root) summary.unlistable.push_back(p);
        for (FoundFile& f : walk.files) {
            if (!seenPaths.insert(f.path).second) continue;
            auto it = known.find(f.path);
            Known* k = it == known.end() ? nullptr : &it->second;
            if (k) k->seen = true;
            if (k && k->size == f.size && k->mtime == f.mtimeNs) {
                ++summary.unchanged;
                if (k->root != root) moved.push_back({f.path, k->id, &root});
                continue;
            }
            work.push_back({std::move(f), &root, k});
        }
    }
    std::sort(work.begin(), work.end(),
              [](const Work& a, const Work& b) { return a.file.path < b.file.path; });

    {
        SqliteTransaction t(db_);
        auto remove = db_.prepare("DELETE FROM files WHERE id = ?");
        for (const auto& [path, k] : known) {
            if (k.seen) continue;
            remove.bind(1, k.id).run();
            ++summary.removed;
        }
        auto reroot = db_.prepare("UPDATE files SET root = ?, folder = ?, search = ?, sortname = "
                                  "? WHERE id = ?");
        for (const Moved& m : moved) {
            const Location l = locate(m.path, *m.root);
            reroot.bind(1, *m.root)
                .bind(2, l.folder)
                .bind(3, l.search)
                .bind(4, l.sortname)
                .bind(5, m.id)
                .run();
        }
        t.commit();
    }

    auto upsert = db_.prepare(
        "INSERT INTO files(path, root, name, folder, search, sortname, size, mtime, problem, "
        "format, rate, bits, channels, frames, length, brightness, thumb, content) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18) "
        "ON CONFLICT(path) DO UPDATE SET root = ?2, name = ?3, folder = ?4, search = ?5, "
        "sortname = ?6, size = ?7, mtime = ?8, problem = ?9, format = ?10, rate = ?11, bits = "
        "?12, channels = ?13, frames = ?14, length = ?15, brightness = ?16, thumb = ?17, "
        "content = ?18");
    // An edited file keeps its tags: they move to its new content key unless
    // another file still has the old one.
    auto rekey = db_.prepare(
        "UPDATE OR IGNORE user.marks SET content = ?1, path = ?3 WHERE content = ?2 AND NOT "
        "EXISTS (SELECT 1 FROM main.files WHERE content = ?2)");

    std::vector<IrAnalyser> analysers(readerCount(options_.readers));
    const size_t total = work.size();
    size_t done = 0;
    if (progress_) progress_(0, total);
    for (size_t start = 0; start < total && !cancel_.load(); start += options_.batchFiles) {
        const size_t end = std::min(total, start + options_.batchFiles);
        std::vector<Analysed> results(end - start);
        std::atomic<size_t> next{start};
        const auto reader = [&](IrAnalyser& analyser) {
            for (size_t i; (i = next++) < end;)
                if (!cancel_.load())
                    results[i - start] =
                        readAndAnalyse(work[i].file, analyser, options_.maxSeconds);
        };
        {
            std::vector<std::jthread> helpers;
            for (size_t h = 1; h < analysers.size(); ++h)
                helpers.emplace_back(reader, std::ref(analysers[h]));
            reader(analysers[0]);
        }

        std::vector<std::pair<std::string, const Work*>> rekeys;
        SqliteTransaction t(db_);
        for (size_t i = start; i < end; ++i) {
            const Analysed& a = results[i - start];
            if (!a.done) continue;
            const Work& w = work[i];
            const Location l = locate(w.file.path, *w.root);
            upsert.bind(1, w.file.path)
                .bind(2, *w.root)
                .bind(3, l.name)
                .bind(4, l.folder)
                .bind(5, l.search)
                .bind(6, l.sortname)
                .bind(7, w.file.size)
                .bind(8, w.file.mtimeNs)
                .bind(9, a.problem)
                .bind(10, a.format)
                .bind(11, int64_t(a.rate))
                .bind(12, int64_t(a.bits))
                .bind(13, int64_t(a.channels))
                .bind(14, int64_t(a.frames))
                .bind(15, a.rate ? double(a.frames) * 1000.0 / a.rate : 0.0)
                .bind(16, a.sound.brightnessHz);
            if (a.problem.empty())
                upsert.bindBlob(17, a.sound.thumbnail.data(), sizeof a.sound.thumbnail);
            else
                upsert.bindNull(17);
            upsert.bind(18, a.content).run();
            ++done;
            if (!a.problem.empty()) continue;
            if (w.known) {
                ++summary.changed;
                if (!w.known->content.empty() && w.known->content != a.content)
                    rekeys.emplace_back(a.content, &w);
            } else {
                ++summary.added;
            }
        }
        t.commit();
        for (const auto& [content, w] : rekeys)
            rekey.bind(1, content).bind(2, w->known->content).bind(3, w->file.path).run();
        if (progress_) progress_(done, total);
    }
    summary.cancelled = cancel_.load() && done < total;
    return summary;
}

} // namespace kx5
