#include "modules/security/block_cipher.h"

#include "modules/security/openssl_handles.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <climits>

namespace kx5::security {
namespace {

// Key and IV are copied into buffers of this size; longer values are cut.
constexpr size_t kParameterBuffer = 64;

// A zero-filled parameter buffer that is wiped when it goes away.
class ParameterBuffer {
  public:
    explicit ParameterBuffer(std::string_view bytes) {
        const size_t n = std::min(bytes.size(), bytes_.size());
        std::copy_n(bytes.begin(), n, bytes_.begin());
    }
    ~ParameterBuffer() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }
    ParameterBuffer(const ParameterBuffer&) = delete;
    ParameterBuffer& operator=(const ParameterBuffer&) = delete;
    const unsigned char* data() const {
        return reinterpret_cast<const unsigned char*>(bytes_.data());
    }

  private:
    std::array<char, kParameterBuffer> bytes_{};
};

const EVP_CIPHER* algorithm(BlockCipher cipher) {
    switch (cipher) {
    case BlockCipher::Aes128Cbc:
        return EVP_aes_128_cbc();
    case BlockCipher::TripleDesEcb:
        return EVP_des_ede3_ecb();
    }
    return nullptr;
}

std::optional<Bytes> run(BlockCipher cipher, const CipherKey& key, std::string_view data,
                         bool encrypt) {
    if (data.empty() || data.size() > INT_MAX / 2) return std::nullopt;
    const EVP_CIPHER* evp = algorithm(cipher);
    CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!evp || !ctx) return std::nullopt;
    const ParameterBuffer keyBuffer(key.key);
    const ParameterBuffer ivBuffer(key.iv);
    // The algorithm reads its key length (16 or 24) and one IV block from
    // the zero-filled buffers; ECB reads no IV at all.
    if (EVP_CipherInit_ex(ctx.get(), evp, nullptr, keyBuffer.data(),
                          EVP_CIPHER_iv_length(evp) > 0 ? ivBuffer.data() : nullptr,
                          encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 1) != 1)
        return std::nullopt;

    Bytes out(data.size() + static_cast<size_t>(EVP_CIPHER_block_size(evp)), '\0');
    auto* outBytes = reinterpret_cast<unsigned char*>(out.data());
    int written = 0;
    int last = 0;
    if (EVP_CipherUpdate(ctx.get(), outBytes, &written,
                         reinterpret_cast<const unsigned char*>(data.data()),
                         static_cast<int>(data.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), outBytes + written, &last) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        return std::nullopt;
    }
    out.resize(static_cast<size_t>(written + last));
    return out;
}

} // namespace

CipherKey parseKeyText(std::string_view keyText) {
    const size_t slash = keyText.find('/');
    if (slash == std::string_view::npos) return {hexDecode(keyText), {}};
    return {hexDecode(keyText.substr(0, slash)), hexDecode(keyText.substr(slash + 1))};
}

std::optional<Bytes> encryptBlocks(BlockCipher cipher, const CipherKey& key,
                                   std::string_view data) {
    return run(cipher, key, data, true);
}

std::optional<Bytes> decryptBlocks(BlockCipher cipher, const CipherKey& key,
                                   std::string_view data) {
    return run(cipher, key, data, false);
}

} // namespace kx5::security
