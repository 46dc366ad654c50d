#pragma once

// The exceptions of the HTTP layer. Each carries one of the fixed texts of IdHTTPMessages.h.

#include "core/Exception.h"

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

}  // namespace tarnwick
