#pragma once
// The serial layer's logging category, "rio.serial". Warnings are on by
// default and name the device, what failed and why; the detail of opening
// and closing is behind qCDebug, switched on with
// QT_LOGGING_RULES="rio.serial.debug=true" (or "rio.*.debug=true").

#include <QLoggingCategory>

namespace rio::serial {

Q_DECLARE_LOGGING_CATEGORY(lcSerial)

} // namespace rio::serial
