#include "job/fetch/FragmentKeys.h"

#include <openssl/evp.h>

#include <limits>
#include <memory>
#include <optional>

#include "core/Exception.h"
#include "net/IdExceptions.h"

namespace tarnwick {

namespace {

constexpr std::string_view kUndecryptableText =
    "A part of the video could not be decrypted with its key.";

using TCipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

}  // namespace

TAesKey AesKeyOf(std::string_view key) {
    TAesKey out{};
    if (key.size() != out.size())
        throw EIdException("The key of the encrypted video is " + std::to_string(key.size()) +
                           " bytes long, not 16.");
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(key[i]);
    return out;
}

std::string DecryptAes128Cbc(std::string_view data, const TAesKey& key,
                             const std::array<std::uint8_t, 16>& iv) {
    constexpr std::size_t kLongest = std::numeric_limits<int>::max() - 16;
    if (data.empty() || data.size() % 16 != 0 || data.size() > kLongest)
        throw EIdException(std::string(kUndecryptableText));
    TCipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context) throw std::bad_alloc();
    // The padding is taken off by the final step, which fails when it is not PKCS7's.
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1)
        throw EIdException(std::string(kUndecryptableText));
    std::string plain(data.size() + 16, '\0');
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    int length = 0, last = 0;
    if (EVP_DecryptUpdate(context.get(), out, &length,
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size())) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out + length, &last) != 1)
        throw EIdException(std::string(kUndecryptableText));
    plain.resize(static_cast<std::size_t>(length + last));
    return plain;
}

TFragmentKeys::TFragmentKeys(const TIdAbortSignal& stop)
    : stop_(stop), wake_(stop.OnAbort([this] {
          std::lock_guard lock(mutex_);
          changed_.notify_all();
      })) {}

TAesKey TFragmentKeys::Get(const std::string& address, const std::function<std::string()>& fetch) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return stop_.Aborted() || keys_.contains(address) || !fetching_.contains(address);
        });
        if (stop_.Aborted()) throw EIdNotConnected();
        if (const auto found = keys_.find(address); found != keys_.end()) return found->second;
        fetching_.insert(address);
    }
    // The others wait for this fetch, or take it over when it fails.
    std::optional<TAesKey> key;
    try {
        key = AesKeyOf(fetch());
    } catch (...) {
        std::lock_guard lock(mutex_);
        fetching_.erase(address);
        changed_.notify_all();
        throw;
    }
    std::lock_guard lock(mutex_);
    fetching_.erase(address);
    keys_.emplace(address, *key);
    changed_.notify_all();
    return *key;
}

}  // namespace tarnwick
