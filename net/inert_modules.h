// Modules the page's common interface expects but that have no device or
// service behind them on this platform: fixed answers, and a fixed event
// where the page waits for one.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_ble final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        ScanStart,
        ScanStop,
        Connect,
        Disconnect,
        Discover,
        Properties,
        Notify,
        Read,
        Write,
        WriteWithoutResponse,
    };

    explicit NativeCall_ble(NativeObjects* owner);
    std::string name() const override { return "ble"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

class NativeCall_barcode final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Read,
    };

    explicit NativeCall_barcode(NativeObjects* owner);
    std::string name() const override { return "barcode"; }

  protected:
    void invoke(int32_t, const Args&, CallResult&) override {}
};

class NativeCall_notification final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Token,
        Badge,
    };

    explicit NativeCall_notification(NativeObjects* owner);
    std::string name() const override { return "notification"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

class NativeCall_recognizer final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Start,
        Stop,
    };

    explicit NativeCall_recognizer(NativeObjects* owner);
    std::string name() const override { return "recognizer"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

class NativeCall_tgif final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Buffer,
        Param,
        Send,
        Thru,
    };

    explicit NativeCall_tgif(NativeObjects* owner);
    std::string name() const override { return "tgif"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

class NativeCall_store final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Inert,
        Purchased,
        Restore,
    };

    explicit NativeCall_store(NativeObjects* owner);
    std::string name() const override { return "store"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
