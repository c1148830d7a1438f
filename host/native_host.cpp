#include "host/native_host.h"

#include "audio/modules/audio_objects.h"
#include "audio/modules/native_call_audio.h"
#include "audio/modules/native_call_player.h"
#include "audio/modules/native_call_recorder.h"
#include "audio/modules/native_call_sampler.h"
#include "audio/players/audio_player.h"
#include "audio/players/audio_recorder.h"
#include "audition/native_call_audition.h"
#include "bridge/javascript_interface.h"
#include "ir/ir_commands.h"
#include "irfile/native_call_irfile.h"
#include "library/native_call_library.h"
#include "midi/midi_client.h"
#include "midi/midi_system.h"
#include "midi/native_call_midi.h"
#include "midi/native_call_midix.h"
#include "modules/app/control_channel.h"
#include "modules/app/native_call_app.h"
#include "modules/fs/native_call_fs.h"
#include "modules/security/native_call_security.h"
#include "modules/util/native_call_util.h"
#include "net/inert_modules.h"
#include "net/native_call_http.h"
#include "net/native_call_netservice.h"
#include "net/native_call_sh.h"
#include "net/native_call_tcpip.h"
#include "net/native_call_tether.h"
#include "net/net_objects.h"
#include "net/tether_connection.h"
#include "sim/in_process_unit.h"

#include <cstdlib>

namespace kx5 {

NativeHost::NativeHost(JavaScriptInterface& js, AppPaths paths, const HostOptions& options)
    : paths_(std::move(paths)), options_(options) {
    objects_ = std::make_unique<NativeObjects>(js, paths_);
    createDevices();
    control_ = std::make_unique<ControlChannel>(js, defaultControlTable());
    attachControlCommands();
    createModules();
}

NativeHost::~NativeHost() {
    // Modules go first, in key order, then the command handlers, then the
    // shared objects.
    for (auto& [key, module] : moduleTable_) {
        for (auto& owned : modules_)
            if (owned.get() == module) owned.reset();
    }
    modules_.clear();
    irCommands_.reset();
    control_.reset();
    objects_.reset();
}

// The shared device objects, in their fixed creation order: MIDI client,
// audio device, player, recorder, Tether discovery and connection, HTTP,
// delegates, then the audio units.
void NativeHost::createDevices() {
    const MidiApi midiApi = midiApiFrom(options_.arguments, std::getenv("KX5_MIDI_API"));
    objects_->midiClient =
        createSharedMidiClient(*objects_, makeProgramMidiDriver(midiApi, paths_.appName));
    // The simulated KX-5 on the MIDI layer's simulated bus ("--no-simulated-unit"
    // turns it off).
    simulatedUnit_ = sim::startInProcessUnit(options_.arguments);
    createAudioDeviceObjects(*objects_);
    createNetDeviceObjects(*objects_, options_.arguments);
    connectTetherAudio();
    createAudioDelegates(*objects_);
    createAudioUnits(*objects_);
}

// The Tether connection's audio streams become the player's and the
// recorder's network streams. The connection goes before the player and the
// recorder: they let go of its streams first.
void NativeHost::connectTetherAudio() {
    NativeObjects& o = *objects_;
    if (!o.tetherConnection) return;
    if (o.audioPlayer) o.audioPlayer->setNetworkOutput(&o.tetherConnection->outputStream());
    if (o.audioRecorder) o.audioRecorder->setNetworkInput(&o.tetherConnection->inputStream());
    o.tetherConnection->setStreamRelease(
        [player = std::weak_ptr<AudioPlayer>(o.audioPlayer),
         recorder = std::weak_ptr<AudioRecorder>(o.audioRecorder)] {
            if (auto p = player.lock()) p->setNetworkOutput(nullptr);
            if (auto r = recorder.lock()) r->setNetworkInput(nullptr);
        });
}

// Handlers of the control table's "convert" and "wavstat" entries.
void NativeHost::attachControlCommands() {
    // The conversion worker's end is the synchronous completion signal.
    irCommands_ =
        std::make_unique<IrCommands>(paths_.tempFolder, [this] { control_->signalDone(0); });
    IrCommands* ir = irCommands_.get();
    control_->setHandlers(0, {"convert",
                              [ir](const picojson::object& args, picojson::object& result) {
                                  return ir->convert(args, result);
                              },
                              [ir](picojson::object& result) { return ir->convertDone(result); }});
    control_->setHandlers(1, {"wavstat",
                              [ir](const picojson::object& args, picojson::object& result) {
                                  return ir->wavstat(args, result);
                              },
                              {}});
}

void NativeHost::createModules() {
    NativeObjects* o = objects_.get();
    auto add = [&](std::unique_ptr<NativeCall> m) {
        m->registerIn(moduleTable_);
        modules_.push_back(std::move(m));
    };
    add(std::make_unique<NativeCall_app>(o, *control_));
    add(std::make_unique<NativeCall_midi>(o));
    add(std::make_unique<NativeCall_midix>(o));
    add(std::make_unique<NativeCall_tgif>(o));
    add(std::make_unique<NativeCall_audio>(o));
    add(std::make_unique<NativeCall_player>(o));
    add(std::make_unique<NativeCall_recorder>(o));
    add(std::make_unique<NativeCall_sampler>(o));
    add(std::make_unique<NativeCall_tether>(o));
    add(std::make_unique<NativeCall_http>(o));
    add(std::make_unique<NativeCall_tcpip>(o));
    add(std::make_unique<NativeCall_netservice>(o));
    add(std::make_unique<NativeCall_fs>(o));
    add(std::make_unique<NativeCall_security>(o));
    add(std::make_unique<NativeCall_ble>(o));
    add(std::make_unique<NativeCall_store>(o));
    add(std::make_unique<NativeCall_notification>(o));
    add(std::make_unique<NativeCall_recognizer>(o));
    add(std::make_unique<NativeCall_barcode>(o));
    add(std::make_unique<NativeCall_sh>(o));
    add(std::make_unique<NativeCall_util>(o));
    add(std::make_unique<NativeCall_library>(o));
    add(std::make_unique<NativeCall_irfile>(o));
    add(std::make_unique<NativeCall_audition>(o));
}

} // namespace kx5
