#include "modules/security/user_protection.h"

#include "modules/security/master_key_file.h"
#include "modules/security/openssl_handles.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <climits>

namespace kx5::security {
namespace {

constexpr size_t kHeaderSize = 1 + kNonceSize;

const unsigned char* bytesOf(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Feeds the version byte and the entropy as associated data.
bool addAssociatedData(EVP_CIPHER_CTX* ctx, std::string_view entropy) {
    int ignored = 0;
    const unsigned char version = kProtectionVersion;
    return EVP_CipherUpdate(ctx, nullptr, &ignored, &version, 1) == 1 &&
           (entropy.empty() || EVP_CipherUpdate(ctx, nullptr, &ignored, bytesOf(entropy),
                                                static_cast<int>(entropy.size())) == 1);
}

// The usable key, nothing when there is none; throws for a damaged one.
std::optional<MasterKey> usableKey(const KeyFileResult& file, const std::string& folder) {
    if (file.status == KeyFileStatus::Unusable)
        throw DamagedKeyFile(folder + kMasterKeyFileName, file.problem);
    return file.key;
}

} // namespace

std::optional<Bytes> UserProtection::protect(std::string_view plain,
                                             std::string_view entropy) const {
    if (folder_.empty() || plain.size() > INT_MAX / 2 || entropy.size() > INT_MAX / 2)
        return std::nullopt;
    const auto key = usableKey(loadOrCreateMasterKey(folder_), folder_);
    if (!key) return std::nullopt;

    std::array<unsigned char, kNonceSize> nonce{};
    if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) return std::nullopt;
    CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key->data(), nonce.data()) != 1 ||
        !addAssociatedData(ctx.get(), entropy))
        return std::nullopt;

    Bytes blob(kHeaderSize + plain.size() + kTagSize, '\0');
    auto* out = reinterpret_cast<unsigned char*>(blob.data());
    out[0] = kProtectionVersion;
    std::copy(nonce.begin(), nonce.end(), out + 1);
    int written = 0;
    int last = 0;
    if ((!plain.empty() && EVP_EncryptUpdate(ctx.get(), out + kHeaderSize, &written, bytesOf(plain),
                                             static_cast<int>(plain.size())) != 1) ||
        EVP_EncryptFinal_ex(ctx.get(), out + kHeaderSize + written, &last) != 1 ||
        static_cast<size_t>(written + last) != plain.size() ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize),
                            out + kHeaderSize + plain.size()) != 1)
        return std::nullopt;
    return blob;
}

std::optional<Bytes> UserProtection::unprotect(std::string_view blob,
                                               std::string_view entropy) const {
    if (folder_.empty() || blob.size() < kHeaderSize + kTagSize || blob.size() > INT_MAX / 2 ||
        entropy.size() > INT_MAX / 2 || static_cast<unsigned char>(blob[0]) != kProtectionVersion)
        return std::nullopt;
    // Reading never creates a key: nothing can have been protected without one.
    const auto key = usableKey(readMasterKey(folder_), folder_);
    if (!key) return std::nullopt;

    const std::string_view nonce = blob.substr(1, kNonceSize);
    const std::string_view cipherText =
        blob.substr(kHeaderSize, blob.size() - kHeaderSize - kTagSize);
    Bytes tag(blob.substr(blob.size() - kTagSize));
    CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key->data(), bytesOf(nonce)) !=
            1 ||
        !addAssociatedData(ctx.get(), entropy))
        return std::nullopt;

    Bytes plain(cipherText.size(), '\0');
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    int written = 0;
    int last = 0;
    const bool ok =
        (cipherText.empty() || EVP_DecryptUpdate(ctx.get(), out, &written, bytesOf(cipherText),
                                                 static_cast<int>(cipherText.size())) == 1) &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize),
                            tag.data()) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), out + written, &last) == 1;
    if (!ok) {
        // Unauthenticated plain text never leaves this function.
        OPENSSL_cleanse(plain.data(), plain.size());
        return std::nullopt;
    }
    plain.resize(static_cast<size_t>(written + last));
    return plain;
}

} // namespace kx5::security
