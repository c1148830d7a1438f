// The IR library on a large generated collection (not a test: it prints
// numbers). Generates the tree (10000 files unless told otherwise), then:
//   first scan with the files out of the page cache, rescan with nothing
//   changed, a rebuild with the files cached, searches keystroke by
//   keystroke (the library's in-memory search; LIKE and FTS5 in the
//   database for comparison), and the peak resident memory.
// Usage: library_benchmark [--files N] [--folder DIR] [--keep]
// A tree left in DIR by --keep is used again as it is.
#include "ir/fft.h"
#include "library/ir_analysis.h"
#include "library/ir_library.h"
#include "library/library_store.h"
#include "tests/library/ir_tree_generator.h"

#include <picojson.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace kx5;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long currentRssKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Drops the tree's files from the page cache, as after a restart.
void evict(const std::string& root) {
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        const int fd = open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
    }
}

class Waiter {
  public:
    IrLibrary::EventSink sink() {
        return [this](std::vector<std::string> fields) {
            std::lock_guard lock(mutex_);
            if (fields[0] == "progress") ++progressEvents;
            if (fields[0] == "scanned" || fields[0] == "scanfailed") {
                last_ = fields;
                ++ended_;
                done_.notify_all();
            }
        };
    }
    std::vector<std::string> waitEnd(int n) {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return ended_ >= n; });
        return last_;
    }
    int progressEvents = 0;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::string> last_;
    int ended_ = 0;
};

struct Stats {
    double median, p95, max;
};

Stats statsOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

// What a user types, one keystroke at a time.
std::vector<std::string> keystrokes() {
    std::vector<std::string> out;
    for (const std::string word :
         {"v30 sm57 cap", "greenback", "4x12 closed", "uberklang r121", "take 4711", "zzz"}) {
        for (size_t n = 1; n <= word.size(); ++n)
            out.push_back(word.substr(0, n));
    }
    return out;
}

// As the page asks: one page of rows.
constexpr double kPageRows = 100;

std::string queryJson(const std::string& text, const char* sort, const std::string& similar = "") {
    picojson::object o{{"text", picojson::value(text)},
                       {"sort", picojson::value(sort)},
                       {"limit", picojson::value(kPageRows)}};
    if (!similar.empty()) o["similar"] = picojson::value(similar);
    return picojson::value(o).serialize();
}

void reportScan(const char* what, double ms, const std::vector<std::string>& end) {
    std::printf("%-44s %9.0f ms  %s\n", what, ms, end.size() > 1 ? end[1].c_str() : "(no end)");
}

// The same searches done by the database for every keystroke, for
// comparison: count and first page of ids, in name order, over the table
// with LIKE on the prepared search column, or through an FTS5 trigram index
// of it (words shorter than three characters then fall back to LIKE).
Stats databaseSearches(SqliteDatabase& db, const std::vector<std::string>& typed, bool fts) {
    if (fts)
        db.exec("DROP TABLE IF EXISTS main.bench_fts;"
                "CREATE VIRTUAL TABLE main.bench_fts USING fts5(search, content='files', "
                "content_rowid='id', tokenize='trigram');"
                "INSERT INTO main.bench_fts(bench_fts) VALUES('rebuild');");
    std::vector<double> times;
    for (const std::string& text : typed) {
        std::string match, like;
        std::vector<std::string> patterns;
        for (size_t a = 0; a < text.size();) {
            const size_t b = std::min(text.find(' ', a), text.size());
            const std::string w = text.substr(a, b - a);
            a = b + 1;
            if (w.empty()) continue;
            if (fts && w.size() >= 3) {
                match += (match.empty() ? "\"" : " AND \"") + w + "\"";
            } else {
                like += " AND f.search LIKE ?";
                patterns.push_back("%" + w + "%");
            }
        }
        const std::string from =
            std::string(" FROM files f") +
            (match.empty() ? " WHERE 1"
                           : " JOIN bench_fts ON bench_fts.rowid = f.id WHERE bench_fts MATCH ?") +
            " AND f.problem = '' AND f.root IN (SELECT path FROM user.folders)" + like;
        const auto bindAll = [&](SqliteStatement& st) {
            int i = 1;
            if (!match.empty()) st.bind(i++, match);
            for (const auto& p : patterns)
                st.bind(i++, p);
        };
        const auto start = Clock::now();
        auto count = db.prepare("SELECT count(*)" + from);
        bindAll(count);
        count.step();
        auto rows = db.prepare("SELECT f.id" + from + " ORDER BY f.sortname, f.folder LIMIT 100");
        bindAll(rows);
        while (rows.step()) {
        }
        times.push_back(msSince(start));
    }
    if (fts) db.exec("DROP TABLE main.bench_fts");
    return statsOf(times);
}

// The curve's transform: the conversion's own engine against FFTW, at the
// size a half second at 48 kHz needs.
void compareTransforms() {
    constexpr int kLog2 = 15;
    constexpr int kRounds = 200;
    std::vector<double> signal(size_t(1) << kLog2);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = std::sin(double(i) * 0.01) * std::exp(-double(i) * 1e-4);
    CFFT engine;
    engine.init(kLog2, false, true);
    std::vector<double> w;
    auto start = Clock::now();
    for (int r = 0; r < kRounds; ++r) {
        w = signal;
        engine.transformReal(w.data());
    }
    const double own = msSince(start) / kRounds;
    IrAnalyser analyser;
    const std::vector<float> samples(signal.begin(), signal.end());
    analyser.analyse(samples.data(), samples.size(), 48000); // plans once
    start = Clock::now();
    for (int r = 0; r < kRounds; ++r)
        analyser.analyse(samples.data(), samples.size(), 48000);
    const double fftw = msSince(start) / kRounds;
    std::printf("%-44s %9.3f ms CFFT real transform, %.3f ms the whole curve with FFTW\n",
                "transform of 32768 samples", own, fftw);
}

} // namespace

int main(int argc, char** argv) {
    size_t count = 10000;
    std::string folder;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--files" && i + 1 < argc)
            count = size_t(std::atol(argv[++i]));
        else if (a == "--folder" && i + 1 < argc)
            folder = argv[++i];
        else if (a == "--keep")
            keep = true;
        else {
            std::fprintf(stderr, "usage: %s [--files N] [--folder DIR] [--keep]\n", argv[0]);
            return 2;
        }
    }
    if (folder.empty()) {
        std::string pattern = (fs::temp_directory_path() / "kx5-library-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return 1;
        folder = pattern;
    }
    const std::string tree = folder + "/IR collection";
    const std::string data = folder + "/data/";
    std::printf("IR library benchmark: %zu files in %s, %u cores\n", count, tree.c_str(),
                std::thread::hardware_concurrency());
    compareTransforms();

    auto start = Clock::now();
    if (fs::exists(tree)) {
        // A tree kept from an earlier run (--keep) is used again.
        std::printf("%-44s\n", "using the tree already there");
        fs::remove_all(data);
    } else {
        const auto generated = kx5::test::generateIrTree(tree, count);
        std::printf("%-44s %9.0f ms  %zu files (%zu unreadable), %.0f MB\n", "generating the tree",
                    msSince(start), generated.files, generated.unreadable, generated.bytes / 1e6);
    }
    evict(tree);

    Waiter waiter;
    const long rssBefore = currentRssKiB();
    {
        IrLibrary library(data, waiter.sink());
        start = Clock::now();
        library.addFolder(tree);
        const auto first = waiter.waitEnd(1);
        reportScan("first scan (files not in the page cache)", msSince(start), first);
        const long afterScan = currentRssKiB();

        start = Clock::now();
        library.scan();
        reportScan("rescan, nothing changed", msSince(start), waiter.waitEnd(2));
        std::printf("%-44s %9d\n", "progress events of both scans", waiter.progressEvents);

        const auto typed = keystrokes();
        std::string reference;
        {
            // As when the page shows the end of a scan: the first search
            // loads the in-memory index.
            const auto t = Clock::now();
            const auto page = library.search(SearchQuery::fromJson(queryJson("v30 sm57", "name")));
            std::printf("%-44s %9.1f ms\n", "first search after the scan (loads the index)",
                        msSince(t));
            picojson::value v;
            picojson::parse(v, page);
            reference = v.get("rows").get(0).get("path").to_str();
        }
        for (const char* sort : {"name", "brightness", "similar"}) {
            std::vector<double> times;
            for (const std::string& text : typed) {
                const SearchQuery q = SearchQuery::fromJson(queryJson(text, sort, reference));
                const auto t = Clock::now();
                const std::string result = library.search(q);
                times.push_back(msSince(t));
            }
            const Stats s = statsOf(times);
            std::printf("search per keystroke, sort %-17s median %5.2f ms, p95 %5.2f, max %5.2f "
                        "(%zu keystrokes, %.0f rows)\n",
                        sort, s.median, s.p95, s.max, typed.size(), kPageRows);
        }
        std::printf("%-44s %9ld KiB before, %ld after the first scan, %ld after the searches\n",
                    "resident memory", rssBefore, afterScan, currentRssKiB());
        {
            LibraryStore store(data);
            LibraryConnection connection(store);
            for (const bool fts : {false, true}) {
                const Stats s = databaseSearches(connection.db(), typed, fts);
                std::printf("for comparison, in the database: %-12s median %5.2f ms, p95 %5.2f, "
                            "max %5.2f (ids only)\n",
                            fts ? "FTS5 trigram" : "LIKE", s.median, s.p95, s.max);
            }
        }
        std::printf("%-44s %9ld KiB (the generator and the comparisons included)\n", "peak RSS",
                    peakRssKiB());
    }
    std::printf("%-44s %9.1f MB\n", "index on disk",
                double(fs::file_size(data + "ir-index.sqlite")) / 1e6);

    // A rebuild: the index deleted, the files still cached.
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(data + "ir-index.sqlite" + suffix);
    {
        Waiter again;
        IrLibrary library(data, again.sink());
        start = Clock::now();
        library.foldersJson();
        reportScan("scan after the index was deleted (cached)", msSince(start), again.waitEnd(1));
    }
    if (!keep) fs::remove_all(folder);
    return 0;
}
