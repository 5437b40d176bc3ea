// The serial ports Windows has now: the devices SetupAPI lists (the COM-port
// interface and the Ports class), and the ports that only
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM lists (virtual port pairs, some
// multi-port cards). Found without opening any of them.
#pragma once

#include <string>
#include <vector>

namespace rscom
{

// What SetupAPI tells of one port device, in UTF-8.
struct PnpPort {
    std::string name;         // PortName in the device's key: "COM7"
    std::string friendlyName; // "USB Serial Port (COM7)"
    std::string maker;        // SPDRP_MFG: "FTDI"
    // The device's instance ID, then its parent's and so on upwards:
    // "FTDIBUS\VID_0403+PID_6001+A12345A\0000", "USB\VID_0403&PID_6001\A12345"
    std::vector<std::string> instanceIds;
};

// The calls that find the ports. Tests play a machine through them;
// systemPortList() asks Windows.
class PortListCalls
{
public:
    virtual ~PortListCalls() = default;
    // Every present device of the COM-port interface (GUID_DEVINTERFACE_COMPORT)
    // and of the Ports class, once each, printer ports left out.
    virtual std::vector<PnpPort> plugAndPlayPorts() = 0;
    // The port names SERIALCOMM holds: "COM1", "CNCA0".
    virtual std::vector<std::string> serialComm() = 0;
};

PortListCalls &systemPortList();

// A port as the driver knows it.
struct FoundPort {
    std::string name; // "COM7"
    std::string product, maker, serial;
    // What it is known by across replugging and restarts: its USB serial
    // number where it has one ("usb 0403:6001 serial A12345"), else its
    // device instance ID ("device USB\VID_1A86&PID_7523\5&2C3D4E5F&0&1"),
    // else its name ("port CNCA0").
    std::string identity;
    bool bluetooth = false; // on a Bluetooth link (enumerator BTHENUM)
};

// One device as the driver knows it: the friendly name without " (COM7)",
// no maker where Windows names none ("(Standard port types)"), and the
// serial number where Windows took it from the USB device.
FoundPort describePort(const PnpPort &device);

// Every port Windows has now: SetupAPI's, then those only SERIALCOMM lists.
std::vector<FoundPort> listPorts(PortListCalls &calls);

} // namespace rscom
