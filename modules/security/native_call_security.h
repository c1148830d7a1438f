// "security": identifiers, MD5 digests, texts protected for the current user,
// and AES-128 / triple DES with the page's key texts.
#pragma once

#include "bridge/native_call.h"
#include "modules/security/user_protection.h"

namespace kx5 {

class NativeCall_security final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Kiv,
        Uuidgen,
        Md5,
        Encipher,
        Decipher,
        AesEncrypt,
        AesDecrypt,
        DesEncrypt,
        DesDecrypt,
    };

    // The master key of protected texts lives in the owner's data folder.
    explicit NativeCall_security(NativeObjects* owner);
    // With the folder of the master key given directly (ending in "/").
    NativeCall_security(NativeObjects* owner, std::string keyFolder);
    std::string name() const override { return "security"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    security::UserProtection protection_;
};

} // namespace kx5
