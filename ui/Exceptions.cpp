#include "ui/Exceptions.h"

#include <cstring>

namespace ui {

EInOutError EInOutError::FromErrno(int errnoValue)
{
    return EInOutError(errnoValue, std::strerror(errnoValue));
}

}  // namespace ui
