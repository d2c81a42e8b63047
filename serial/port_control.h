#pragma once
// The serial control of the system the programs run on: QSerialPort on Linux,
// the Win32 functions on Windows. Both take a PortMap and report a device
// that went away with portLost().

#include <QtGlobal>

#ifdef Q_OS_WIN
#include "serial/win_serial_control.h"
#else
#include "serial/qt_serial_control.h"
#endif

namespace rio::serial {

#ifdef Q_OS_WIN
using PortControl = WinSerialControl;
#else
using PortControl = QtSerialControl;
#endif

} // namespace rio::serial
