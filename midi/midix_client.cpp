#include "midi/midix_client.h"

#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"

namespace kx5 {

void MIDIXEventDelegate::inputConnectFailed(const MIDIEndpointRecord& record) {
    js_.postEvent(
        eventText({"midix", "connectfailed", std::to_string(number_), midiEndpointToJson(record)}));
}

void MIDIXEventDelegate::outputConnectFailed(const MIDIEndpointRecord& record) {
    inputConnectFailed(record);
}

void MIDIXEventDelegate::changed() {
    if (number_ == 0) js_.postEvent(eventText({"midix", "changed"}));
}

void MIDIXEventDelegate::error(int32_t code) {
    js_.postEvent(eventText({"midix", "error", std::to_string(number_), std::to_string(code)}));
}

void MIDIXEventDelegate::message(const uint8_t* bytes, size_t size, uint32_t timestamp) {
    if (thru() && client_) client_->outputPort().echo(bytes, size);
    const std::string hex = hexEncode(std::string_view(reinterpret_cast<const char*>(bytes), size));
    js_.postEvent(
        eventText({"midix", "message", std::to_string(number_), hex, std::to_string(timestamp)}));
}

MidixClient::MidixClient(JavaScriptInterface& js, std::shared_ptr<MidiDriver> driver,
                         int32_t number)
    : delegate_(std::make_unique<MIDIXEventDelegate>(js, number)),
      client_(std::make_unique<MIDIClient>(std::move(driver))) {
    delegate_->attach(client_.get());
    client_->setDelegate(delegate_.get());
    client_->inputPort().setInputDelegate(delegate_.get());
}

MidixClient::~MidixClient() {
    client_.reset();
}

} // namespace kx5
