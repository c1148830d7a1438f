// Everything behind the page's "native" object, independent of any window:
// the shared device objects and the modules in their fixed order (the 21 of
// the table, then "library"). The window host and the bridge console both
// build one.
#pragma once

#include "bridge/app_paths.h"
#include "bridge/native_call.h"
#include "bridge/native_objects.h"

#include <memory>
#include <vector>

namespace kx5 {

class JavaScriptInterface;
class ControlChannel;
class IrCommands;
namespace sim {
class InProcessUnit;
}

struct HostOptions {
    std::vector<std::string> arguments; // command-line options the modules read
};

class NativeHost {
  public:
    NativeHost(JavaScriptInterface& js, AppPaths paths, const HostOptions& options = {});
    ~NativeHost();
    NativeHost(const NativeHost&) = delete;
    NativeHost& operator=(const NativeHost&) = delete;

    // The synchronous page call.
    std::string call(const std::string& callName, const Args& args) const {
        return dispatchCall(moduleTable_, callName, args);
    }
    const ModuleTable& moduleTable() const { return moduleTable_; }
    NativeObjects& objects() { return *objects_; }
    ControlChannel& control() { return *control_; }
    const AppPaths& paths() const { return paths_; }

  private:
    void createDevices();
    void connectTetherAudio();
    void attachControlCommands();
    void createModules();

    AppPaths paths_;
    HostOptions options_;
    // Outlives the MIDI client that may have it open.
    std::unique_ptr<sim::InProcessUnit> simulatedUnit_;
    std::unique_ptr<NativeObjects> objects_;
    std::unique_ptr<ControlChannel> control_;
    // "convert" and "wavstat"; destroyed before the control channel, after
    // the modules (joins a running conversion).
    std::unique_ptr<IrCommands> irCommands_;
    std::vector<std::unique_ptr<NativeCall>> modules_;
    ModuleTable moduleTable_;
};

} // namespace kx5
