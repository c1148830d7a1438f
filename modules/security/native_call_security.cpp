#include "modules/security/native_call_security.h"

#include "bridge/app_paths.h"
#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/native_objects.h"
#include "modules/security/block_cipher.h"
#include "modules/security/builtin_passphrase.h"
#include "modules/security/digest.h"
#include "modules/security/identifier.h"
#include "modules/security/key_derivation.h"

namespace kx5 {
namespace {

using namespace security;

std::string hexOrEmpty(const std::optional<Bytes>& bytes) {
    return bytes ? hexEncode(*bytes) : std::string();
}

// Hex text never holds a slash of either kind, so any slash marks a path
// (absolute paths here start with "/").
bool isFilePath(const std::string& arg) {
    return arg.find_first_of("/\\") != std::string::npos;
}

std::string digest(const std::string& arg) {
    return hexOrEmpty(isFilePath(arg) ? md5OfFile(arg) : md5(hexDecode(arg)));
}

// An absent or empty key text means the default key.
std::string cipher(int32_t id, const Args& args) {
    const std::string given = optional(args, 1);
    const std::string keyText = !given.empty() ? given : defaultKeyText();
    if (keyText.empty()) return {};
    const CipherKey key = parseKeyText(keyText);
    const Bytes data = hexDecode(optional(args, 0));
    switch (id) {
    case NativeCall_security::AesEncrypt:
        return hexOrEmpty(encryptBlocks(BlockCipher::Aes128Cbc, key, data));
    case NativeCall_security::AesDecrypt:
        return hexOrEmpty(decryptBlocks(BlockCipher::Aes128Cbc, key, data));
    case NativeCall_security::DesEncrypt:
        return hexOrEmpty(encryptBlocks(BlockCipher::TripleDesEcb, key, data));
    case NativeCall_security::DesDecrypt:
        return hexOrEmpty(decryptBlocks(BlockCipher::TripleDesEcb, key, data));
    default:
        return {};
    }
}

} // namespace

NativeCall_security::NativeCall_security(NativeObjects* owner)
    : NativeCall_security(owner, owner ? owner->paths.dataFolder : std::string()) {}

NativeCall_security::NativeCall_security(NativeObjects* owner, std::string keyFolder)
    : NativeCall(owner), protection_(std::move(keyFolder)) {
    addFunctions({{"kiv", Kiv},
                  {"uuidgen", Uuidgen},
                  {"md5", Md5},
                  {"encipher", Encipher},
                  {"decipher", Decipher},
                  {"aesencrypt", AesEncrypt},
                  {"aesdecrypt", AesDecrypt},
                  {"desencrypt", DesEncrypt},
                  {"desdecrypt", DesDecrypt}});
}

void NativeCall_security::invoke(int32_t id, const Args& args, CallResult& result) {
    // Every failure answers the empty text, a missing argument included; a
    // damaged key file answers its own failure.
    const std::string arg = optional(args, 0);
    switch (id) {
    case Kiv: {
        const auto material = deriveKeyMaterial(builtInPassphrase(), hexDecode(arg));
        result.setString(material ? keyText(*material) : std::string());
        break;
    }
    case Uuidgen:
        result.setString(makeIdentifier());
        break;
    case Md5:
        result.setString(digest(arg));
        break;
    case Encipher: {
        const auto entropy = protectionEntropy();
        try {
            result.setString(entropy ? hexOrEmpty(protection_.protect(toUtf8(arg), *entropy))
                                     : std::string());
        } catch (const DamagedKeyFile& e) {
            throw NativeException("the key file " + e.path() + " is damaged (" + e.problem() +
                                  "): every text protected with it is lost, and nothing is "
                                  "protected until it is moved away");
        }
        break;
    }
    case Decipher: {
        const auto entropy = protectionEntropy();
        try {
            const auto plain =
                entropy ? protection_.unprotect(hexDecode(arg), *entropy) : std::nullopt;
            result.setString(plain ? fromUtf8(*plain) : std::string());
        } catch (const DamagedKeyFile& e) {
            throw NativeException("the key file " + e.path() + " is damaged (" + e.problem() +
                                  "): the text protected with it is lost");
        }
        break;
    }
    case AesEncrypt:
    case AesDecrypt:
    case DesEncrypt:
    case DesDecrypt:
        result.setString(cipher(id, args));
        break;
    default:
        break;
    }
}

} // namespace kx5
