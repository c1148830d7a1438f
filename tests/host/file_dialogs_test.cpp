// The dialog calls of "fs" up to the picker: arguments, filters, the save
// extension rule, and exactly one event per call whatever the picker does.
// The picker here is a scripted stand-in; the GTK one is driven end to end.
#include "bridge/app_paths.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue_glib.h"
#include "modules/fs/file_dialogs.h"
#include "modules/fs/native_call_fs.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <deque>

using namespace kx5;

namespace {

class PullingInterface final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string&) override {}
    void processEvent() override {}
    void requestClose() override {}
};

// Answers the jobs, in the order they are shown, as told: with a path,
// not at all, or twice.
struct ScriptedPicker final : FileDialogPresenter {
    enum class Mode { Choose, Drop, Twice };
    std::deque<std::pair<Mode, std::string>> script;
    std::vector<FileDialogJob> shown;
    void answerWith(const std::string& path, Mode mode = Mode::Choose) {
        script.emplace_back(mode, path);
    }
    void show(const FileDialogJob& job, Answer answer) override {
        shown.push_back(job);
        auto [mode, path] =
            script.empty() ? std::pair{Mode::Choose, std::string()} : script.front();
        if (!script.empty()) script.pop_front();
        if (mode == Mode::Drop) return;
        answer(path);
        if (mode == Mode::Twice) answer("/second");
    }
};

struct FileDialogCalls : ::testing::Test {
    GMainContext* context = g_main_context_new();
    std::unique_ptr<GlibUiQueue> ui;
    std::unique_ptr<PullingInterface> js;
    AppPaths paths{"kx5test", "/tmp/d/", "/tmp/c/", "/tmp/t/"};
    std::unique_ptr<NativeObjects> objects;
    std::unique_ptr<NativeCall_fs> fs;
    ScriptedPicker picker;

    void SetUp() override {
        g_main_context_push_thread_default(context);
        ui = std::make_unique<GlibUiQueue>(context);
        js = std::make_unique<PullingInterface>(*ui);
        objects = std::make_unique<NativeObjects>(*js, paths);
        fs = std::make_unique<NativeCall_fs>(objects.get());
    }
    void TearDown() override {
        fs.reset();
        objects.reset();
        js.reset();
        ui.reset();
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
    std::vector<std::string> events() {
        while (g_main_context_iteration(context, FALSE)) {
        }
        std::vector<std::string> out;
        for (std::string e = js->pullEvent(); !e.empty(); e = js->pullEvent())
            out.push_back(e);
        return out;
    }
};

} // namespace

TEST(FileDialogFilters, OpenFilterTextAndItsEntries) {
    EXPECT_EQ(openFilterText("[\"wav\",\"aif\"]"), "wav/aif\f*.wav;*.aif\f");
    EXPECT_EQ(openFilterText("[\"wav\"]"), "wav\f*.wav\f");
    EXPECT_EQ(openFilterText("[]"), "");
    for (const char* bad : {"[\"wav\",5]", "\"wav\"", "{}", "", "undefined", "[\"wav\""})
        EXPECT_ANY_THROW(openFilterText(bad)) << bad;
    EXPECT_EQ(filtersFromText("wav/aif\f*.wav;*.aif\f"),
              (std::vector<FileFilter>{{"wav/aif", {"*.wav", "*.aif"}}}));
    EXPECT_TRUE(filtersFromText("").empty());
    EXPECT_EQ(filtersFromText(saveFilterText("bin")),
              (std::vector<FileFilter>{{"bin", {"*.bin"}}, {"*", {"*"}}}));
    EXPECT_EQ(filtersFromText(saveFilterText("")), (std::vector<FileFilter>{{"*", {"*"}}}));
}

TEST(FileDialogFilters, SaveExtensionRuleAndFolderSlash) {
    EXPECT_EQ(withDefaultExtension("/home/u/backup", "bin"), "/home/u/backup.bin");
    EXPECT_EQ(withDefaultExtension("/home/u/backup.txt", "bin"), "/home/u/backup.txt");
    EXPECT_EQ(withDefaultExtension("/home/u/backup.", "bin"), "/home/u/backup.bin");
    EXPECT_EQ(withDefaultExtension("/home/u.d/backup", "bin"), "/home/u.d/backup.bin");
    EXPECT_EQ(withDefaultExtension("/home/u/.profile", "bin"), "/home/u/.profile.bin");
    EXPECT_EQ(withDefaultExtension("/home/u/backup", ""), "/home/u/backup");
    EXPECT_EQ(withDefaultExtension("", "bin"), "");
    EXPECT_EQ(folderWithSlash("/"), "/");
    EXPECT_EQ(folderWithSlash("/media/d"), "/media/d/");
    EXPECT_EQ(folderWithSlash("/media/d/"), "/media/d/");
}

TEST_F(FileDialogCalls, EachCallReturnsAtOnceAndItsJobAnswersWithOneEvent) {
    FileDialogPresenterScope scope(picker);
    picker.answerWith("/data/ir.wav");
    EXPECT_EQ(fs->call("openfilename", {"[\"wav\",\"aif\"]", "/data"}), "v");
    EXPECT_TRUE(picker.shown.empty()); // not inside the call
    EXPECT_EQ(events(), (std::vector<std::string>{"fs\fopenfilename\f/data/ir.wav"}));
    ASSERT_EQ(picker.shown.size(), 1u);
    EXPECT_EQ(picker.shown[0].kind, FileDialogKind::Open);
    EXPECT_EQ(picker.shown[0].initialFolder, "/data");
    EXPECT_EQ(picker.shown[0].filters, (std::vector<FileFilter>{{"wav/aif", {"*.wav", "*.aif"}}}));

    picker.answerWith("/media/usb");
    EXPECT_EQ(fs->call("choosefolder", {"/media"}), "v");
    picker.answerWith("/");
    EXPECT_EQ(fs->call("choosefolder", {}), "v");
    picker.answerWith("/m/clip.m4a");
    EXPECT_EQ(fs->call("openmediafile", {"/m"}), "v");
    picker.answerWith("/home/u/backup.bin");
    EXPECT_EQ(fs->call("savefilename", {"backup", "bin"}), "v");
    EXPECT_EQ(events(),
              (std::vector<std::string>{"fs\fchoosefolder\f/media/usb/", "fs\fchoosefolder\f/",
                                        "fs\fopenfilename\f/m/clip.m4a",
                                        "fs\fsavefilename\f/home/u/backup.bin"}));
    EXPECT_TRUE(picker.shown[3].filters.empty());
    EXPECT_EQ(picker.shown[4].kind, FileDialogKind::Save);
    EXPECT_EQ(picker.shown[4].proposedName, "backup");
    EXPECT_EQ(picker.shown[4].extension, "bin");
}

TEST_F(FileDialogCalls, CancelDroppedAnswersDoubleAnswersAndNoPickerAllGiveExactlyOneEvent) {
    {
        FileDialogPresenterScope scope(picker);
        picker.answerWith("");
        fs->call("savefilename", {});
        picker.answerWith("", ScriptedPicker::Mode::Drop);
        fs->call("choosefolder", {"/x"});
        picker.answerWith("/first", ScriptedPicker::Mode::Twice);
        fs->call("openfilename", {});
        EXPECT_EQ(events(), (std::vector<std::string>{"fs\fsavefilename\f", "fs\fchoosefolder\f",
                                                      "fs\fopenfilename\f/first"}));
    }
    // Without a picker (the console) the job ends as cancelled.
    EXPECT_EQ(fs->call("openmediafile", {}), "v");
    EXPECT_EQ(events(), (std::vector<std::string>{"fs\fopenfilename\f"}));
}

TEST_F(FileDialogCalls, AMalformedFilterFailsTheCallAndQueuesNothing) {
    FileDialogPresenterScope scope(picker);
    EXPECT_EQ(fs->call("openfilename", {"[\"wav\",5]"}), "esystem exception");
    EXPECT_EQ(fs->call("openfilename", {"wav"}), "esystem exception");
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(picker.shown.empty());
    // An empty list is fine: every file.
    EXPECT_EQ(fs->call("openfilename", {"[]"}), "v");
    EXPECT_EQ(events().size(), 1u);
    EXPECT_TRUE(picker.shown.at(0).filters.empty());
}

TEST_F(FileDialogCalls, JobsStillQueuedAtShutdownEndAsCancelled) {
    FileDialogPresenterScope scope(picker);
    fs->call("choosefolder", {});
    ui->close(); // the loop never ran the job
    EXPECT_EQ(js->pullEvent(), "fs\fchoosefolder\f");
    EXPECT_EQ(js->pullEvent(), "");
    EXPECT_TRUE(picker.shown.empty());
}
