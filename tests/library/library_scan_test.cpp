// Scans of generated trees: what is read, what is not read again, what
// leaves, what is refused; the database files lost or damaged between runs;
// marks that survive all of it.
#include "library/library_scan.h"
#include "library/library_store.h"
#include "tests/library/library_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kx5;
using namespace kx5::test;
namespace fs = std::filesystem;

namespace {

class LibraryScanning : public LibraryTest {
  protected:
    // A readable IR whose sound is set by the cut-off.
    std::string ir(const std::string& relative, double cutoff, uint32_t rate = 48000,
                   size_t frames = 4800) {
        const std::string path = files() + "/" + relative;
        writeIr(path, pcm(rate), filterResponse(cutoff, rate, frames));
        return path;
    }

    picojson::object entry(const std::string& path) {
        const std::string json = library->entry(path);
        if (json.empty()) return {};
        return parseJson(json).get<picojson::object>();
    }

    std::vector<std::string> tagsOf(const std::string& path) {
        std::vector<std::string> out;
        auto e = entry(path);
        if (!e.count("tags")) return {"(not in the library)"};
        for (const auto& t : e["tags"].get<picojson::array>())
            out.push_back(t.get<std::string>());
        return out;
    }

    std::vector<std::string> allNames() { return names(R"({"limit":1000})"); }
};

} // namespace

TEST_F(LibraryScanning, AddedChangedMovedAndDeletedFilesAreFollowed) {
    ir("Pack A/4x12/V30 close.wav", 1000);
    const std::string far = ir("Pack A/4x12/V30 far.wav", 1500);
    const std::string blue = ir("Pack A/1x12/Blue.wav", 2500);
    const std::string green = ir("Pack B/Greenback.wav", 3000);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files()));
    auto first = scanned(1);
    EXPECT_EQ(number(first, "added"), 4);
    EXPECT_EQ(number(first, "files"), 4);
    EXPECT_EQ(number(first, "removed"), 0);
    EXPECT_EQ(number(first, "skipped"), 0);

    ir("Pack A/4x12/V30 far.wav", 800, 48000, 9600); // edited
    fs::create_directories(files() + "/Pack B/moved");
    fs::rename(blue, files() + "/Pack B/moved/Blue.wav");
    fs::remove(green);
    ir("Pack B/New one.wav", 5000);
    library->scan();
    auto second = scanned(2);
    EXPECT_EQ(number(second, "added"), 2);
    EXPECT_EQ(number(second, "changed"), 1);
    EXPECT_EQ(number(second, "removed"), 2);
    EXPECT_EQ(number(second, "unchanged"), 1);
    EXPECT_EQ(number(second, "files"), 4);
    EXPECT_EQ(allNames(), (std::vector<std::string>{"Blue.wav", "New one.wav", "V30 close.wav",
                                                    "V30 far.wav"}));
    EXPECT_TRUE(entry(blue).empty());
    EXPECT_TRUE(entry(green).empty());
    EXPECT_EQ(entry(files() + "/Pack B/moved/Blue.wav")["folder"].get<std::string>(),
              "irs/Pack B/moved");
    EXPECT_EQ(number(entry(far), "frames"), 9600);
}

TEST_F(LibraryScanning, UnchangedFilesAreNotReadAgain) {
    const std::string path = ir("same.wav", 1000);
    ir("other.wav", 3000);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files()));
    scanned(1);
    const int brightness = number(entry(path), "brightness");

    // Other bytes of the same length under the same time: a scan that read
    // the file would refuse it now.
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    writeFile(path, Bytes(size_t(before.st_size), 'x'));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    library->scan();
    auto again = scanned(2);
    EXPECT_EQ(number(again, "unchanged"), 2);
    EXPECT_EQ(number(again, "files"), 2);
    EXPECT_EQ(number(entry(path), "brightness"), brightness);

    // A new time makes it read, and refused.
    const timespec later[2] = {{before.st_atim.tv_sec + 5, 0}, {before.st_mtim.tv_sec + 5, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
    library->scan();
    auto third = scanned(3);
    EXPECT_EQ(number(third, "files"), 1);
    EXPECT_EQ(number(third, "skipped"), 1);
    EXPECT_TRUE(entry(path).empty());
}

TEST_F(LibraryScanning, FilesThatCannotBeLoadedAreSkippedWithTheirReasons) {
    ir("good.wav", 1000);
    ir("sub/deep/also good.WAV", 2000);
    fs::create_directories(files());
    std::ofstream(files() + "/text.wav") << "not audio";
    std::ofstream(files() + "/._good.wav") << "resource fork of another system";
    std::ofstream(files() + "/notes.txt") << "not a candidate";
    ASSERT_EQ(mkfifo((files() + "/pipe.wav").c_str(), 0600), 0);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files()));
    auto s = scanned(1);
    EXPECT_EQ(number(s, "files"), 2);
    EXPECT_EQ(number(s, "skipped"), 2);
    EXPECT_EQ(library->skippedJson(),
              "[{\"path\":\"" + picojson::value(files() + "/pipe.wav").serialize().substr(1) +
                  ",\"reason\":\"not a regular file\"},{\"path\":\"" +
                  picojson::value(files() + "/text.wav").serialize().substr(1) +
                  ",\"reason\":\"not an audio file this program reads (WAV, AIFF, FLAC)\"}]");
    EXPECT_EQ(allNames(), (std::vector<std::string>{"also good.WAV", "good.wav"}));
    auto folders = parseJson(library->foldersJson()).get<picojson::array>();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].get("files").get<double>(), 2);
    EXPECT_EQ(folders[0].get("skipped").get<double>(), 2);
}

TEST_F(LibraryScanning, ACancelledScanKeepsWhatItReadAndTheNextOneGoesOn) {
    for (int i = 0; i < 40; ++i)
        ir("f" + std::to_string(100 + i) + ".wav", 500 + 50 * i);
    TempDir data;
    LibraryStore store(data.path());
    LibraryConnection connection(store);
    connection.db().exec("INSERT INTO user.folders(path, added) VALUES('" + files() + "', 0)");
    std::atomic<bool> cancel{false};
    ScanOptions options;
    options.batchFiles = 8;
    LibraryScan first(
        connection.db(), cancel, [&](size_t done, size_t) { cancel = cancel || done > 0; },
        options);
    const ScanSummary cut = first.run({files()});
    EXPECT_TRUE(cut.cancelled);
    EXPECT_EQ(cut.files, 8);

    cancel = false;
    LibraryScan second(connection.db(), cancel, nullptr, options);
    const ScanSummary rest = second.run({files()});
    EXPECT_FALSE(rest.cancelled);
    EXPECT_EQ(rest.unchanged, 8);
    EXPECT_EQ(rest.added, 32);
    EXPECT_EQ(rest.files, 40);
}

TEST_F(LibraryScanning, CancelStopsTheLibrarysScanAndClosingDuringAScanIsClean) {
    for (int i = 0; i < 30; ++i)
        ir("f" + std::to_string(i) + ".wav", 500 + 50 * i);
    openLibrary();
    EXPECT_FALSE(library->cancel());
    // Closing at once: the worker is stopped and joined first.
    ASSERT_TRUE(library->addFolder(files()));
    openLibrary();
    library->scan();
    events->waitFor("progress");
    library->cancel();
    auto s = scanned(1);
    library->scan();
    auto next = scanned(2);
    EXPECT_EQ(number(next, "cancelled"), 0);
    EXPECT_EQ(number(next, "files"), 30);
    EXPECT_EQ(number(next, "unchanged") + number(next, "added"), 30);
    EXPECT_EQ(number(s, "files") + number(next, "added"), 30);
}

TEST_F(LibraryScanning, ADeletedIndexIsRebuiltFromTheFoldersAndMarksSurvive) {
    const std::string tagged = ir("Pack/tagged.wav", 1000);
    ir("Pack/plain.wav", 2000);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files()));
    scanned(1);
    ASSERT_TRUE(library->setTags(tagged, {"tight", " bright ", "tight", ""}));
    ASSERT_TRUE(library->setFavourite(tagged, true));
    library.reset();
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(dataFolder() + "ir-index.sqlite" + suffix);

    openLibrary();
    // The first call opens the files and starts the scan.
    EXPECT_NE(library->foldersJson().find("irs"), std::string::npos);
    auto s = scanned(1);
    EXPECT_EQ(number(s, "added"), 2);
    EXPECT_EQ(events->count("rebuilt"), 0u);
    EXPECT_EQ(tagsOf(tagged), (std::vector<std::string>{"tight", "bright"}));
    EXPECT_EQ(number(entry(tagged), "favourite"), 1);
    EXPECT_EQ(names(R"({"favourites":true})"), std::vector<std::string>{"tagged.wav"});
}

TEST_F(LibraryScanning, ADamagedIndexIsKeptAsideReportedAndRebuilt) {
    const std::string tagged = ir("tagged.wav", 1000);
    ir("plain.wav", 2000);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files()));
    scanned(1);
    ASSERT_TRUE(library->setTags(tagged, {"kept"}));
    library.reset();
    const std::string index = dataFolder() + "ir-index.sqlite";
    {
        // The header and the first pages overwritten.
        std::fstream f(index, std::ios::in | std::ios::out | std::ios::binary);
        f.write(std::string(4096, 'x').data(), 4096);
    }

    openLibrary();
    library->foldersJson();
    const auto rebuilt = events->waitFor("rebuilt");
    ASSERT_EQ(rebuilt.size(), 5u);
    EXPECT_EQ(rebuilt[1], "index");
    EXPECT_EQ(rebuilt[2].rfind(index + ".damaged-", 0), 0u) << rebuilt[2];
    EXPECT_TRUE(fs::exists(rebuilt[2]));
    EXPECT_EQ(rebuilt[3].rfind("damaged", 0), 0u) << rebuilt[3];
    EXPECT_EQ(number(scanned(1), "files"), 2);
    EXPECT_EQ(tagsOf(tagged), std::vector<std::string>{"kept"});
}

TEST_F(LibraryScanning, ADamagedUserFileIsKeptAsideAndTheLibraryGoesOn) {
    const std::string tagged = ir("tagged.wav", 1000);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files()));
    scanned(1);
    ASSERT_TRUE(library->setTags(tagged, {"lost"}));
    library.reset();
    writeFile(dataFolder() + "ir-user.sqlite", Bytes(8192, 0x5A));
    fs::remove(dataFolder() + "ir-user.sqlite-wal");

    openLibrary();
    EXPECT_EQ(library->foldersJson(), "[]");
    const auto rebuilt = events->waitFor("rebuilt");
    ASSERT_EQ(rebuilt.size(), 5u);
    EXPECT_EQ(rebuilt[1], "user");
    EXPECT_TRUE(fs::exists(rebuilt[2]));
    EXPECT_EQ(rebuilt[4], "0");
    // The index still knows the files: adding the folder again reads nothing.
    ASSERT_TRUE(library->addFolder(files()));
    auto s = scanned(1);
    EXPECT_EQ(number(s, "unchanged"), 1);
    EXPECT_EQ(tagsOf(tagged), std::vector<std::string>{});
}

TEST_F(LibraryScanning, MarksFollowMovedRenamedEditedAndCopiedFiles) {
    const std::string original = ir("a/original.wav", 1000);
    ir("a/other.wav", 4000);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files()));
    scanned(1);
    ASSERT_TRUE(library->setTags(original, {"warm"}));
    EXPECT_FALSE(library->setTags(files() + "/a/none.wav", {"x"}));

    const std::string moved = files() + "/b/renamed.wav";
    fs::create_directories(files() + "/b");
    fs::rename(original, moved);
    fs::copy_file(moved, files() + "/a/copy.wav");
    library->scan();
    scanned(2);
    EXPECT_EQ(tagsOf(moved), std::vector<std::string>{"warm"});
    EXPECT_EQ(tagsOf(files() + "/a/copy.wav"), std::vector<std::string>{"warm"});

    // Edited in place (and the copy removed): the marks move to the new sound.
    fs::remove(files() + "/a/copy.wav");
    writeIr(moved, pcm(48000), filterResponse(1100, 48000, 6000));
    library->scan();
    scanned(3);
    EXPECT_EQ(tagsOf(moved), std::vector<std::string>{"warm"});
    EXPECT_EQ(names(R"({"text":"warm"})"), std::vector<std::string>{"renamed.wav"});
}

TEST_F(LibraryScanning, FoldersInsideOrAroundLibraryFolders) {
    ir("Pack A/one.wav", 1000);
    ir("Pack A/two.wav", 2000);
    ir("Pack B/three.wav", 3000);
    openLibrary();
    ASSERT_TRUE(library->addFolder(files() + "/Pack A/"));
    scanned(1);
    EXPECT_FALSE(library->addFolder(files() + "/Pack A/."));

    // The folder around it takes its place; its files are not read again.
    ASSERT_TRUE(library->addFolder(files()));
    auto s = scanned(2);
    EXPECT_EQ(number(s, "unchanged"), 2);
    EXPECT_EQ(number(s, "added"), 1);
    auto folders = parseJson(library->foldersJson()).get<picojson::array>();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].get("path").get<std::string>(), files());
    EXPECT_EQ(names(R"({"text":"irs/pack a/"})"), (std::vector<std::string>{"one.wav", "two.wav"}));
    EXPECT_FALSE(library->addFolder(files() + "/Pack B"));

    // A removed folder's files leave the results at once, the index with
    // the next scan.
    EXPECT_TRUE(library->removeFolder(files() + "/"));
    EXPECT_FALSE(library->removeFolder(files()));
    EXPECT_EQ(number(search("{}"), "total"), 0);
    EXPECT_EQ(number(scanned(3), "removed"), 3);

    EXPECT_THROW(library->addFolder(files() + "/nothing here"), LibraryError);
    EXPECT_THROW(library->addFolder(files() + "/Pack A/one.wav"), LibraryError);
}
