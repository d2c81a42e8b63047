#include "tests/support/port_maps.h"

#include <vector>

namespace rio::test {

serial::PortMap portOneIs(const QString& path) {
    serial::PortMap ports([] { return std::vector<serial::PresentDevice>{}; });
    ports.addOverride({1, path});
    return ports;
}

} // namespace rio::test
