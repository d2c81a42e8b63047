// The serial layer's logging category; see log.h.
#include "serial/log.h"

namespace rio::serial {

Q_LOGGING_CATEGORY(lcSerial, "rio.serial", QtWarningMsg)

} // namespace rio::serial
