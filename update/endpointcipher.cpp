#include "update/endpointcipher.h"

#include <cstdint>
#include <openssl/evp.h>
#include <vector>

namespace {

constexpr size_t kBlock = 16;

// The key never stands in the program as a whole: it is unfolded from a seed when needed.
void BuildKey(unsigned char key[32])
{
    uint32_t state = 0x6b8b4567u;
    for (int i = 0; i < 32; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        key[i] = static_cast<unsigned char>((state >> 11) ^ (0x5cu + 7u * static_cast<unsigned>(i)));
    }
}

// One pass of AES-256-CBC over whole blocks, without padding. false on any failure.
bool Run(bool encipher, const std::vector<unsigned char> &in, std::vector<unsigned char> &out)
{
    unsigned char key[32];
    BuildKey(key);
    const unsigned char iv[kBlock] = {};
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) {
        return false;
    }
    out.assign(in.size() + kBlock, 0);
    int written = 0;
    int tail = 0;
    bool ok = EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv, encipher ? 1 : 0) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
              EVP_CipherUpdate(ctx, out.data(), &written, in.data(), static_cast<int>(in.size())) == 1 &&
              EVP_CipherFinal_ex(ctx, out.data() + written, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    for (unsigned char &k : key) {
        k = 0;
    }
    out.resize(ok ? static_cast<size_t>(written + tail) : 0);
    return ok;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

int EncipherEndpoint(const std::string &plain, size_t hexDigits, std::string &hex)
{
    const size_t bytes = hexDigits / 2;
    // Whole blocks of two digits a byte only: anything else has no room for a text and its NUL.
    if (hexDigits % 2 != 0 || bytes < kBlock || bytes % kBlock != 0 ||
        plain.size() > EndpointCapacity(hexDigits) || plain.find('\0') != std::string::npos) {
        return -1;
    }
    std::vector<unsigned char> in(bytes, 0);
    std::copy(plain.begin(), plain.end(), in.begin());
    std::vector<unsigned char> out;
    if (!Run(true, in, out) || out.size() != bytes) {
        return -1;
    }
    static const char digits[] = "0123456789abcdef";
    hex.clear();
    for (unsigned char b : out) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return 0;
}

int DecipherEndpoint(const char *hex, std::string &plain)
{
    plain.clear();
    std::vector<unsigned char> in;
    for (const char *p = hex; p != nullptr && *p != '\0'; p += 2) {
        int high = HexValue(p[0]);
        int low = p[1] == '\0' ? -1 : HexValue(p[1]);
        if (high < 0 || low < 0) {
            return -1;
        }
        in.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    std::vector<unsigned char> out;
    if (in.empty() || in.size() % kBlock != 0 || !Run(false, in, out)) {
        return -1;
    }
    for (unsigned char b : out) {
        if (b == 0) {
            break;
        }
        plain.push_back(static_cast<char>(b));
    }
    return 0;
}
