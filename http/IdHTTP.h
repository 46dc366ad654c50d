#pragma once

// The HTTP client component the program creates for each fetch. Everything it offers is
// TIdCustomHTTP's.

#include "http/IdCustomHTTP.h"

namespace tarnwick {

class TIdHTTP : public TIdCustomHTTP {
public:
    using TIdCustomHTTP::TIdCustomHTTP;
};

}  // namespace tarnwick
