// The benchmark's port driver: every port is a virtual port with the test
// plug (RTS -> CTS, DTR -> DSR and DCD, TxD -> RI), and every DCD() call is
// timed. The monitor reads DCD once per tick, so the times are its ticks.
//
// With BENCH_TICKS_FILE set, the times go to that file as they happen (a
// shared mapping, so they survive the program being killed), in the layout of
// tickfile.h. Ports mapped to "none" by RSCOM_COMn do not open; any other
// mapping opens the virtual port: this driver never touches a device.
#include "tickfile.h"

#include <rscom.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace
{

struct Lines {
    int16_t txd = 0, dtr = 0, rts = 0;
};

std::mutex g_lock;
std::array<Lines, 256> g_ports;
int g_current = 0; // 0: no current port

class Recorder
{
public:
    Recorder()
    {
        const char *path = std::getenv("BENCH_TICKS_FILE");
        if (path == nullptr || *path == '\0') return;
        const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return;
        const std::size_t bytes = TickFile::bytes(TickFile::kCapacity);
        if (::ftruncate(fd, static_cast<off_t>(bytes)) == 0) {
            void *map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map != MAP_FAILED) {
                m_file = static_cast<TickFile::Header *>(map);
                m_file->capacity = TickFile::kCapacity;
            }
        }
        ::close(fd);
    }

    void stamp()
    {
        if (m_file == nullptr) return;
        const std::uint64_t n = m_file->count;
        if (n >= m_file->capacity) return;
        TickFile::times(m_file)[n] = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count();
        // The count is written last: a reader never sees a time not yet set.
        __atomic_store_n(&m_file->count, n + 1, __ATOMIC_RELEASE);
    }

private:
    TickFile::Header *m_file = nullptr;
};

Recorder &recorder()
{
    static Recorder r;
    return r;
}

int portOf(const char *settings)
{
    if (settings == nullptr || std::strncmp(settings, "COM", 3) != 0) return 0;
    char *end = nullptr;
    const long port = std::strtol(settings + 3, &end, 10);
    if (end == settings + 3 || *end != ',' || port < 1 || port > 255) return 0;
    return static_cast<int>(port);
}

bool mappedToNone(int port)
{
    const std::string name = "RSCOM_COM" + std::to_string(port);
    const char *target = std::getenv(name.c_str());
    return target != nullptr && std::strcmp(target, "none") == 0;
}

Lines *current()
{
    return g_current != 0 ? &g_ports[static_cast<std::size_t>(g_current)] : nullptr;
}

int16_t active(int16_t level)
{
    return level != 0 ? 1 : 0;
}

int16_t read(int16_t Lines::*line)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    const Lines *port = current();
    return port != nullptr ? port->*line : -1;
}

void set(int16_t Lines::*line, int16_t level)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    if (Lines *port = current()) port->*line = active(level);
}

} // namespace

extern "C" {

RSCOM_API int16_t RSCOM_CALL OPENCOM(const char *settings)
{
    const int port = portOf(settings);
    if (port == 0 || mappedToNone(port)) return 0;
    const std::lock_guard<std::mutex> guard(g_lock);
    g_current = port;
    return 1;
}

RSCOM_API void RSCOM_CALL TXD(int16_t level)
{
    set(&Lines::txd, level);
}
RSCOM_API void RSCOM_CALL DTR(int16_t level)
{
    set(&Lines::dtr, level);
}
RSCOM_API void RSCOM_CALL RTS(int16_t level)
{
    set(&Lines::rts, level);
}

RSCOM_API int16_t RSCOM_CALL DCD(void)
{
    recorder().stamp();
    return read(&Lines::dtr);
}
RSCOM_API int16_t RSCOM_CALL DSR(void)
{
    return read(&Lines::dtr);
}
RSCOM_API int16_t RSCOM_CALL CTS(void)
{
    return read(&Lines::rts);
}
RSCOM_API int16_t RSCOM_CALL RI(void)
{
    return read(&Lines::txd);
}

RSCOM_API void RSCOM_CALL CLOSECOM(void)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_current = 0;
}

} // extern "C"
