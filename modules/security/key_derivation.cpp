#include "modules/security/key_derivation.h"

#include "modules/security/builtin_passphrase.h"
#include "modules/security/digest.h"

namespace kx5::security {

std::optional<Bytes> deriveKeyMaterial(std::string_view passphrase, std::string_view salt) {
    Bytes fullSalt;
    if (!salt.empty()) {
        fullSalt.assign(salt.substr(0, kSaltSize));
        fullSalt.resize(kSaltSize, '\0');
    }
    const auto d1 = md5({passphrase, fullSalt});
    if (!d1) return std::nullopt;
    const auto d2 = md5({*d1, passphrase, fullSalt});
    if (!d2) return std::nullopt;
    return *d2 + *d1;
}

std::string keyText(const Bytes& material) {
    const std::string_view m(material);
    return hexEncode(m.substr(16, 16)) + "/" + hexEncode(m.substr(0, 16));
}

std::string defaultKeyText() {
    const auto material = deriveKeyMaterial(builtInPassphrase(), {});
    return material ? keyText(*material) : std::string();
}

std::optional<Bytes> protectionEntropy() {
    return deriveKeyMaterial(builtInPassphrase(), {});
}

} // namespace kx5::security
