#include "win/portlist.h"

#include "core/portstatus.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <map>
#include <set>

namespace rscom
{

namespace
{

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end = text.find(separator);; end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::string upper(std::string text)
{
    for (char &c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string lower(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// "USB Serial Port (COM7)" -> "USB Serial Port"
std::string withoutName(const std::string &friendly, const std::string &name)
{
    const std::string tail = " (" + name + ")";
    if (friendly.size() > tail.size() &&
        upper(friendly.substr(friendly.size() - tail.size())) == upper(tail))
        return friendly.substr(0, friendly.size() - tail.size());
    return friendly;
}

struct UsbIds {
    std::string vendor, product, interface;
};

// From an instance ID's device part: "VID_0403&PID_6001", "VID_2341&PID_0043&MI_00",
// or a USB serial driver's "VID_0403+PID_6001+A12345A".
UsbIds usbIds(const std::string &device)
{
    UsbIds ids;
    std::string fields = device;
    for (char &c : fields) {
        if (c == '+') c = '&';
    }
    for (const std::string &field : split(upper(fields), '&')) {
        const std::string value = lower(field.substr(field.size() < 4 ? field.size() : 4));
        if (field.compare(0, 4, "VID_") == 0) ids.vendor = value;
        if (field.compare(0, 4, "PID_") == 0) ids.product = value;
        if (field.compare(0, 3, "MI_") == 0) ids.interface = field.substr(3);
    }
    return ids;
}

// Windows keeps a USB device's own serial number as the last part of its
// instance ID; where the device has none, it makes one up with '&' in it
// ("5&2C3D4E5F&0&1").
std::string serialIn(const std::vector<std::string> &parts)
{
    if (parts.size() != 3 || upper(parts[0]) != "USB") return {};
    if (parts[2].find('&') != std::string::npos) return {};
    return oneLine(parts[2]);
}

} // namespace

FoundPort describePort(const PnpPort &device)
{
    FoundPort port;
    port.name = device.name;
    port.product = oneLine(withoutName(device.friendlyName, device.name));
    port.maker = oneLine(device.maker);
    if (!port.maker.empty() && port.maker.front() == '(' && port.maker.back() == ')')
        port.maker.clear(); // "(Standard port types)": no maker
    const std::vector<std::string> &ids = device.instanceIds;
    port.bluetooth = !ids.empty() && upper(split(ids[0], '\\')[0]) == "BTHENUM";
    // Microsoft's driver for every Bluetooth link: what tells is the link.
    if (port.bluetooth) port.maker = "Bluetooth";

    // The USB device: the first one upwards. An interface of a composite
    // device (MI_nn) has the device's serial number one above it.
    UsbIds usb;
    for (size_t i = 0; i < ids.size(); ++i) {
        const std::vector<std::string> parts = split(ids[i], '\\');
        if (parts.size() != 3 || upper(parts[0]) != "USB") continue;
        usb = usbIds(parts[1]);
        if (usb.interface.empty())
            port.serial = serialIn(parts);
        else if (i + 1 < ids.size())
            port.serial = serialIn(split(ids[i + 1], '\\'));
        break;
    }
    if (!port.serial.empty() && !usb.vendor.empty() && !usb.product.empty()) {
        port.identity = "usb " + usb.vendor + ":" + usb.product + " serial " + port.serial;
        if (!usb.interface.empty()) port.identity += " interface " + usb.interface;
    } else if (!ids.empty() && !oneLine(ids[0]).empty()) {
        port.identity = "device " + oneLine(ids[0]);
    } else {
        port.identity = "port " + oneLine(device.name);
    }
    return port;
}

std::vector<FoundPort> listPorts(PortListCalls &calls)
{
    std::vector<FoundPort> ports;
    std::vector<std::string> instances;
    std::set<std::string> names;
    for (const PnpPort &device : calls.plugAndPlayPorts()) {
        if (oneLine(device.name).empty() || !names.insert(upper(device.name)).second) continue;
        ports.push_back(describePort(device));
        instances.push_back(device.instanceIds.empty() ? std::string()
                                                       : oneLine(device.instanceIds[0]));
    }
    // Ports of one device that Windows does not tell apart by a serial
    // number of their own (both halves of a dual adapter) are known by their
    // instance IDs.
    std::map<std::string, int> uses;
    for (const FoundPort &port : ports)
        ++uses[port.identity];
    for (size_t i = 0; i < ports.size(); ++i) {
        if (uses[ports[i].identity] > 1 && !instances[i].empty())
            ports[i].identity = "device " + instances[i];
    }
    for (const std::string &name : calls.serialComm()) {
        if (oneLine(name).empty() || !names.insert(upper(name)).second) continue;
        ports.push_back({name, {}, {}, {}, "port " + oneLine(name), false});
    }
    return ports;
}

namespace
{

// The COM-port device interface, and the Ports device class (COM and LPT).
const GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
const GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string utf8(const wchar_t *text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

std::string textProperty(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD property)
{
    wchar_t text[512] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, property, &type,
                                             reinterpret_cast<BYTE *>(text),
                                             sizeof text - sizeof(wchar_t), nullptr) ||
        type != REG_SZ)
        return {};
    return utf8(text);
}

// PortName in the device's own key.
std::string portNameOf(HDEVINFO set, SP_DEVINFO_DATA &info)
{
    const HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[256] = {};
    DWORD size = sizeof name - sizeof(wchar_t), type = 0;
    const LONG read =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    ::RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? utf8(name) : std::string();
}

// The device's instance ID and its parents' (a USB serial driver's device,
// the USB interface, the USB device).
std::vector<std::string> instanceIdsUp(DEVINST device)
{
    std::vector<std::string> ids;
    for (int depth = 0; depth < 4; ++depth) {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (::CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) break;
        ids.push_back(utf8(id));
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) break;
        device = parent;
    }
    return ids;
}

class SystemPortList final : public PortListCalls
{
public:
    std::vector<PnpPort> plugAndPlayPorts() override
    {
        std::vector<PnpPort> ports;
        std::set<std::string> seen;
        add(kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, ports, seen);
        add(kPortsClass, DIGCF_PRESENT, ports, seen);
        return ports;
    }

    std::vector<std::string> serialComm() override
    {
        std::vector<std::string> names;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                            KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return names;
        for (DWORD index = 0; index < 1024; ++index) {
            wchar_t value[256];
            wchar_t data[256] = {};
            DWORD valueSize = 256, dataSize = sizeof data - sizeof(wchar_t), type = 0;
            const LONG read = ::RegEnumValueW(key, index, value, &valueSize, nullptr, &type,
                                              reinterpret_cast<BYTE *>(data), &dataSize);
            if (read == ERROR_NO_MORE_ITEMS) break;
            if (read == ERROR_SUCCESS && type == REG_SZ) names.push_back(utf8(data));
        }
        ::RegCloseKey(key);
        return names;
    }

private:
    static void add(const GUID &guid, DWORD flags, std::vector<PnpPort> &ports,
                    std::set<std::string> &seen)
    {
        const HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags);
        if (set == INVALID_HANDLE_VALUE) return;
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &info); ++index) {
            PnpPort port;
            port.instanceIds = instanceIdsUp(info.DevInst);
            if (port.instanceIds.empty() || !seen.insert(port.instanceIds[0]).second) continue;
            port.name = portNameOf(set, info);
            // The Ports class holds the printer ports too.
            if (port.name.empty() || upper(port.name).compare(0, 3, "LPT") == 0) continue;
            port.friendlyName = textProperty(set, info, SPDRP_FRIENDLYNAME);
            port.maker = textProperty(set, info, SPDRP_MFG);
            ports.push_back(port);
        }
        ::SetupDiDestroyDeviceInfoList(set);
    }
};

} // namespace

PortListCalls &systemPortList()
{
    static SystemPortList calls;
    return calls;
}

} // namespace rscom
