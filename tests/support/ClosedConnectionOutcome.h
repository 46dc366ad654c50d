#pragma once

// How a read that the user's close interrupted ended: empty for one of the three failures of a
// closed connection, otherwise a short text of what happened instead (a quiet return, the peer's
// graceful close, or another exception's message).

#include <exception>
#include <string>

#include "net/IdExceptions.h"

namespace tarnwick::testing {

template <class Call>
std::string ClosedConnectionOutcome(Call&& call) {
    try {
        call();
    } catch (const EIdNotConnected&) {
        return "";
    } catch (const EIdClosedSocket&) {
        return "";
    } catch (const EIdReadTimeout&) {
        return "";
    } catch (const EIdConnClosedGracefully&) {
        return "EIdConnClosedGracefully";
    } catch (const std::exception& e) {
        return e.what();
    }
    return "returned normally";
}

}  // namespace tarnwick::testing
