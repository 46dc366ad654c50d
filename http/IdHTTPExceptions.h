#pragma once

// The exceptions of the HTTP layer. Each carries one of the fixed texts of IdHTTPMessages.h.

#include <cstdint>
#include <string>

#include "core/Exception.h"
#include "http/IdHTTPMessages.h"
#include "net/IdExceptions.h"

namespace tarnwick {

// ComposeUri of an address without protocol or host.
class EIdURIException : public EIdException {
public:
    using EIdException::EIdException;
};

// An address without a port whose protocol has no known default port. Its message is empty.
class EIdUnknownProtocol : public EIdException {
public:
    EIdUnknownProtocol() : EIdException("") {}
};

// The system could not report its time zone.
class EIdFailedToRetreiveTimeZoneInfo : public EIdException {
public:
    using EIdException::EIdException;
};

// An authentication scheme name registered twice.
class EIdAlreadyRegisteredAuthenticationMethod : public EIdException {
public:
    using EIdException::EIdException;
};

// An address that needs a secure transport ("https"), which this client does not have.
class EIdIOHandlerPropInvalid : public EIdException {
public:
    EIdIOHandlerPropInvalid() : EIdException(RSIOHandlerPropInvalid) {}
};

// The body of a part of a file ended, in good order, before the end of the range its answer
// names: a broken transfer, as a close before the end of a body of known length is.
class EIdBodyShortOfRange : public EIdConnClosedGracefully {
public:
    EIdBodyShortOfRange() : EIdConnClosedGracefully(RSHTTPBodyShortOfRange) {}
};

// A server answered with an error status, or a redirect that was not followed. The message is the
// server's status line, StatusCode its code (-1 for a status line that cannot be read), and
// ResponseBody the body of that answer (its first 64 KiB at most).
class EIdHTTPProtocolException : public EIdProtocolReplyError {
public:
    EIdHTTPProtocolException(std::int32_t statusCode, std::string statusLine,
                             std::string responseBody)
        : EIdProtocolReplyError(statusCode, std::move(statusLine)),
          responseBody_(std::move(responseBody)) {}

    std::int32_t StatusCode() const noexcept { return ReplyErrorCode(); }
    const std::string& ResponseBody() const noexcept { return responseBody_; }

private:
    std::string responseBody_;
};

}  // namespace tarnwick
