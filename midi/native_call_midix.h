// "midix": the "midi" service several times over. The page creates numbered
// clients once, then connects, sends and switches echo ("thru") per client;
// every event carries the client number.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class MidixClient;

class NativeCall_midix final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Client,
        InEndpoints,
        InConnect,
        InDisconnect,
        OutEndpoints,
        OutConnect,
        OutDisconnect,
        Send,
        Thru,
        Panel,
    };

    // More clients than this in one "client" call are refused (each runs a
    // polling thread of its own).
    static constexpr int32_t kMaxClients = 64;

    explicit NativeCall_midix(NativeObjects* owner);
    std::string name() const override { return "midix"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    void createClients(const Args& args);
    MidixClient& clientAt(const Args& args);
};

} // namespace kx5
