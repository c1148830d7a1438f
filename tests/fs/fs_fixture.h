// The "fs" module over real temporary folders, called through the bridge's
// routing as the page calls it.
#pragma once

#include "bridge/app_paths.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue_glib.h"
#include "modules/fs/native_call_fs.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kx5::fstest {

namespace stdfs = std::filesystem;

class PullOnlyInterface final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string&) override {}
    void processEvent() override {}
    void requestClose() override {}
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

using test::readFile;
using test::writeFile;

class FsModule : public ::testing::Test {
  protected:
    void SetUp() override {
        paths.appName = "fs-test";
        paths.dataFolder = root + "appdata/";
        paths.configFolder = root + "config/";
        paths.tempFolder = root + "temp/";
        stdfs::create_directories(paths.tempFolder);
        g_main_context_push_thread_default(context);
        ui = std::make_unique<GlibUiQueue>(context);
        js = std::make_unique<PullOnlyInterface>(*ui);
        objects = std::make_unique<NativeObjects>(*js, paths);
        module = std::make_unique<NativeCall_fs>(objects.get());
        module->registerIn(table);
    }

    void TearDown() override {
        module.reset();
        objects.reset();
        js.reset();
        ui.reset();
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::string call(const std::string& function, Args args = {}) {
        return dispatchCall(table, "$$fs_" + function, std::move(args));
    }

    std::vector<std::string> events() {
        std::vector<std::string> out;
        for (std::string e = js->pullEvent(); !e.empty(); e = js->pullEvent())
            out.push_back(e);
        return out;
    }

    std::string file(const std::string& name, const std::string& bytes) {
        const std::string path = root + name;
        stdfs::create_directories(stdfs::path(path).parent_path());
        writeFile(path, bytes);
        return path;
    }

    // Read-only folders a test makes do not stop its clean-up.
    test::TempDir dir;
    std::string root = dir.path();
    AppPaths paths;
    GMainContext* context = g_main_context_new();
    std::unique_ptr<GlibUiQueue> ui;
    std::unique_ptr<PullOnlyInterface> js;
    std::unique_ptr<NativeObjects> objects;
    std::unique_ptr<NativeCall_fs> module;
    ModuleTable table;
};

} // namespace kx5::fstest
