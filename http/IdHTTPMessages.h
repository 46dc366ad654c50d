#pragma once

// The fixed message texts of the HTTP layer, in one place so that tests can assert them exactly.

namespace tarnwick {

// Addresses
inline constexpr const char* RSURIProtocolFieldIsEmpty = "Protocol field is empty";
inline constexpr const char* RSURIHostFieldIsEmpty = "Host field is empty";

// Internet dates
inline constexpr const char* RSFailedTimeZoneInfo =
    "Failed attempting to retrieve time zone information.";

// Authentication schemes (%s: the class name already registered)
inline constexpr const char* RSAlreadyRegisteredAuthenticationMethod =
    "This authentication method is already registered with class name %s.";

// Base64
inline constexpr const char* RSUnevenSizeInEncode = "Uneven size in Encode.";
inline constexpr const char* RSUnevenSizeInDecodeToStream = "Uneven size in DecodeToStream.";

}  // namespace tarnwick
