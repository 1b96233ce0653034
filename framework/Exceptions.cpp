#include "framework/Exceptions.h"

#include <cstring>

namespace fw {

EInOutError EInOutError::FromErrno(int errnoValue)
{
    return EInOutError(errnoValue, std::strerror(errnoValue));
}

}  // namespace fw
