// The registry a module test runs against: a private folder, an event sink
// and the shared objects.
#pragma once

#include "bridge/app_paths.h"
#include "bridge/native_objects.h"
#include "tests/net/support/event_sink.h"
#include "tests/support/temp_dir.h"

#include <filesystem>

namespace kx5::test {

struct NetTestHost {
    TempDir dir;
    EventSink js;
    AppPaths paths;
    NativeObjects objects;

    NetTestHost() : paths(pathsIn(dir)), objects(js, paths) {}

    static AppPaths pathsIn(const TempDir& d) {
        AppPaths p;
        p.appName = "kx5-net-test";
        p.dataFolder = d.file("data/");
        p.configFolder = d.file("config/");
        p.tempFolder = d.file("temp/");
        return p;
    }
};

} // namespace kx5::test
