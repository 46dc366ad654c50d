#pragma once

// The addresses a page names (a media file, a preview, its <base>), made absolute as a browser
// does and fit to go into a request line.
//
// Plain functions over byte strings: any thread; nothing throws but std::bad_alloc.

#include <string>
#include <string_view>

namespace tarnwick {

// True for an absolute "http" or "https" address (either letter case) with a host.
bool IsWebAddress(std::string_view address);

// reference made absolute against base (an absolute web address): blanks at either end and line
// breaks inside are dropped, the fragment is left out; "//host/x" takes base's protocol, "/x"
// base's protocol, host and port, "?q" base's path, and any other relative reference is joined
// to base's directory with "." and ".." segments worked out (never above the root). An absolute
// reference stands for itself. Bytes that cannot go into a request line (control bytes, blanks,
// bytes above 0x7E, '"', '<', '>') are percent-encoded. Empty when the result would not be a web
// address (base is not one, or reference names another protocol such as "data:" or "blob:").
std::string ResolveAddress(std::string_view base, std::string_view reference);

}  // namespace tarnwick
