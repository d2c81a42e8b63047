#pragma once
// Port numbering as the tests set it up: the machine's own serial devices
// never take part, so a test sees only the line it made.

#include "serial/port_map.h"

#include <QString>

namespace rio::test {

// Port 1 is `path`; no other device of the machine counts.
[[nodiscard]] serial::PortMap portOneIs(const QString& path);

} // namespace rio::test
