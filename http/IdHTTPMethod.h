#pragma once

namespace tarnwick {

// The request methods of the HTTP client, in their fixed order (0 to 7).
enum TIdHTTPMethod : int { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };

}  // namespace tarnwick
