// Base of every error of the HTTP client and the network transport.
#pragma once

#include "desktop/Exception.h"

namespace vto {

class EIdException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace vto
