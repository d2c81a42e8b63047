#pragma once
// The real window with its port 1 on a line given by its path: the path a
// technician's panel takes, short of the cable. Header-only; a test that
// uses it links rio_panel.

#include "panel/form1.h"
#include "serial/qt_serial_control.h"
#include "tests/support/port_maps.h"

#include <memory>
#include <string>
#include <vector>

namespace rio::test {

struct PanelOn {
    explicit PanelOn(const std::string& path)
        : form(std::make_unique<panel::Form1>(
              std::make_unique<serial::QtSerialControl>(portOneIs(QString::fromStdString(path))))) {
        form->setProcessEnd([this](int code) { exits.push_back(code); });
        form->Form_Load();
    }
    PanelOn(const PanelOn&) = delete;
    PanelOn& operator=(const PanelOn&) = delete;

    std::unique_ptr<panel::Form1> form;
    // Every exit code the window asked for; the test process goes on.
    std::vector<int> exits;
};

} // namespace rio::test
