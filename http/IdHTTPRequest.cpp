#include "http/IdHTTPRequest.h"

namespace tarnwick {

const char* MethodWord(TIdHTTPMethod method) noexcept {
    switch (method) {
        case hmHead: return "HEAD ";
        case hmGet: return "GET ";
        case hmPost: return "POST ";
        case hmOptions: return "OPTIONS ";
        case hmTrace: return "TRACE ";
        case hmPut: return "PUT ";
        case hmDelete: return "DELETE ";
        case hmConnect: return "CONNECT ";
    }
    return "GET ";
}

}  // namespace tarnwick
