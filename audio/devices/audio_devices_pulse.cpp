#include "audio/devices/audio_devices.h"

#include "audio/engines/pulse_connection.h"

#include <pulse/pulseaudio.h>

namespace kx5 {
namespace {

struct Listing {
    PulseConnection* connection;
    std::string defaultSink, defaultSource;
    std::vector<AudioDeviceEntry> entries;
};

AudioDeviceEntry entryOf(const char* name, const char* description,
                         const pa_sample_spec& sampleFormat) {
    AudioDeviceEntry e;
    e.uid = name ? name : "";
    e.name = description && *description ? description : e.uid;
    e.sampleRate = static_cast<int32_t>(sampleFormat.rate);
    e.channels = sampleFormat.channels;
    e.bitDepth = pa_sample_spec_valid(&sampleFormat)
                     ? static_cast<int32_t>(pa_sample_size(&sampleFormat) * 8)
                     : 0;
    return e;
}

void onServer(pa_context*, const pa_server_info* info, void* userdata) {
    auto* l = static_cast<Listing*>(userdata);
    if (info) {
        l->defaultSink = info->default_sink_name ? info->default_sink_name : "";
        l->defaultSource = info->default_source_name ? info->default_source_name : "";
    }
    l->connection->signal();
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* l = static_cast<Listing*>(userdata);
    if (eol == 0 && info)
        l->entries.push_back(entryOf(info->name, info->description, info->sample_spec));
    else
        l->connection->signal();
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* l = static_cast<Listing*>(userdata);
    if (eol == 0 && info)
        l->entries.push_back(entryOf(info->name, info->description, info->sample_spec));
    else
        l->connection->signal();
}

} // namespace

std::vector<AudioDeviceEntry> enumerateAudioDevices(AudioDirection direction) {
    auto connection = PulseConnection::connect("kx5-device-list");
    if (!connection) return {};
    Listing listing{connection.get(), {}, {}, {}};
    PulseConnection::Lock lock(*connection);
    pa_context* ctx = connection->context();
    if (!connection->waitOperation(pa_context_get_server_info(ctx, onServer, &listing))) return {};
    const bool render = direction == AudioDirection::Render;
    const std::string& current = render ? listing.defaultSink : listing.defaultSource;
    if (current.empty()) return {};
    pa_operation* op = render ? pa_context_get_sink_info_list(ctx, onSink, &listing)
                              : pa_context_get_source_info_list(ctx, onSource, &listing);
    if (!connection->waitOperation(op)) return {};
    for (auto& e : listing.entries)
        e.current = e.uid == current;
    return std::move(listing.entries);
}

std::string findWaveDevice(AudioDirection direction, const std::string& uid) {
    if (uid.empty()) return {};
    for (const auto& e : enumerateAudioDevices(direction))
        if (e.uid == uid) return uid;
    return {};
}

} // namespace kx5
