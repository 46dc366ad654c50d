#pragma once

// The AES-128 keys of encrypted fragments: each key address fetched once for the whole stream
// (by whichever connection needs it first, the others waiting for it), and the decryption of a
// fragment with its key and IV (CBC, the PKCS7 padding removed).

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "http/IdAbortSignal.h"

namespace tarnwick {

using TAesKey = std::array<std::uint8_t, 16>;

// Throws EIdException naming the size when key is not exactly 16 bytes.
TAesKey AesKeyOf(std::string_view key);

// data decrypted with key and iv, without its padding. Throws EIdException when data is no
// whole number of blocks or its padding is wrong (the key or IV is not the one it was made with).
std::string DecryptAes128Cbc(std::string_view data, const TAesKey& key,
                             const std::array<std::uint8_t, 16>& iv);

class TFragmentKeys {
public:
    // stop ends every wait for a key (with EIdNotConnected); it must outlive this object.
    explicit TFragmentKeys(const TIdAbortSignal& stop);
    TFragmentKeys(const TFragmentKeys&) = delete;
    TFragmentKeys& operator=(const TFragmentKeys&) = delete;

    // The key at address: fetched by fetch (the key file's bytes, checked by AesKeyOf) the first
    // time it is asked for; a caller that comes while another fetches it waits. What fetch
    // throws goes to its caller, and the next caller fetches again.
    TAesKey Get(const std::string& address, const std::function<std::string()>& fetch);

private:
    const TIdAbortSignal& stop_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, TAesKey> keys_;
    std::set<std::string> fetching_;
    TIdAbortSignal::TRegistration wake_;  // last: registered once the rest is there
};

}  // namespace tarnwick
