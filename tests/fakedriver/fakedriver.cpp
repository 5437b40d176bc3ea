// A scriptable stand-in for the port driver: answers as the test says and
// records every call. Built with the original entries only, and as
// variants that have COMSTATUS or EDGES as well. Built as librscom.so.1
// (rscom.dll) in a folder of its own, found by the program's binding through
// the library search path (on Windows: beside the program).
//
// With FAKE_DRIVER_LOG set to a file's name, every call is also appended to
// that file at once, after the milliseconds since the driver was loaded
// ("1234 DCD"): for checks of the whole program from outside.
#include <rscom.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#define FAKE_API extern "C" RSCOM_API

namespace
{

struct State {
    std::array<int16_t, 256> openResult{}; // by port number
    std::array<int16_t, 256> status{};     // COMSTATUS's result, by port number
    std::array<std::string, 256> detail;   // and its detail
    int16_t dcd = 0, dsr = 0, cts = 0, ri = 0;
    // The EDGES variant's script: one step a tick (a DCD read), each with
    // the inputs from then on, the edges it brings and what EDGES answers
    // when it has none left.
    struct Step {
        int16_t dcd, dsr, cts, ri;
        std::vector<rscom_edge> edges;
        int16_t result;
    };
    std::deque<Step> script;
    std::deque<rscom_edge> pending;
    int16_t edgesResult = 0;
    std::string log;
    std::string snapshot;
    State()
    {
        openResult.fill(1);
        status.fill(1);
    }
};

std::mutex g_lock;
State g_state;

const auto g_loaded = std::chrono::steady_clock::now();

std::FILE *logFile()
{
    static std::FILE *file = [] {
        const char *name = std::getenv("FAKE_DRIVER_LOG");
        return name != nullptr && *name != '\0' ? std::fopen(name, "ab") : nullptr;
    }();
    return file;
}

void record(const std::string &call)
{
    g_state.log += call;
    g_state.log += '\n';
    if (std::FILE *file = logFile()) {
        const auto since = std::chrono::steady_clock::now() - g_loaded;
        std::fprintf(file, "%lld %s\n",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(since).count()),
                     call.c_str());
        std::fflush(file);
    }
}

[[maybe_unused]] int portOf(const char *settings)
{
    if (settings == nullptr || std::strncmp(settings, "COM", 3) != 0) return 0;
    const int port = std::atoi(settings + 3);
    return port > 0 && port < 256 ? port : 0;
}

int16_t read(const char *name, int16_t State::*line)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    record(name);
    if (line == &State::dcd && !g_state.script.empty()) {
        State::Step &step = g_state.script.front();
        g_state.dcd = step.dcd;
        g_state.dsr = step.dsr;
        g_state.cts = step.cts;
        g_state.ri = step.ri;
        g_state.pending.insert(g_state.pending.end(), step.edges.begin(), step.edges.end());
        g_state.edgesResult = step.result;
        g_state.script.pop_front();
    }
    return line != nullptr ? g_state.*line : 0;
}

void set(const char *name, int16_t level)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    record(std::string(name) + " " + std::to_string(level));
}

} // namespace

// The script.
FAKE_API void fake_reset()
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_state = State{};
}

FAKE_API void fake_set_open_result(int port, int16_t result)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_state.openResult[static_cast<size_t>(port)] = result;
}

FAKE_API void fake_set_inputs(int16_t dcd, int16_t dsr, int16_t cts, int16_t ri)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_state.dcd = dcd;
    g_state.dsr = dsr;
    g_state.cts = cts;
    g_state.ri = ri;
}

// What COMSTATUS answers for `port` (the variant that has it).
FAKE_API void fake_set_status(int port, int16_t result, const char *detail)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_state.status[static_cast<size_t>(port)] = result;
    g_state.detail[static_cast<size_t>(port)] = detail != nullptr ? detail : "";
}

// The next tick (DCD read) takes these inputs, brings `n` edges and makes
// EDGES answer `result` once they are taken (0, -1, -2).
FAKE_API void fake_script_tick(int16_t dcd, int16_t dsr, int16_t cts, int16_t ri,
                               const rscom_edge *edges, int n, int16_t result)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_state.script.push_back(State::Step{
        dcd, dsr, cts, ri, std::vector<rscom_edge>(edges, edges + std::max(n, 0)), result});
}

// How many scripted ticks are left.
FAKE_API int fake_script_left()
{
    const std::lock_guard<std::mutex> guard(g_lock);
    return static_cast<int>(g_state.script.size());
}

// Every call so far, one a line: "OPENCOM COM1,1200,N,8,1", "DTR 1", "DCD".
FAKE_API const char *fake_log()
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_state.snapshot = g_state.log;
    return g_state.snapshot.c_str();
}

FAKE_API void fake_clear_log()
{
    const std::lock_guard<std::mutex> guard(g_lock);
    g_state.log.clear();
}

// The driver's entries.
#ifndef FAKE_WITHOUT_OPENCOM
int16_t RSCOM_CALL OPENCOM(const char *settings)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    record(std::string("OPENCOM ") + (settings != nullptr ? settings : "(null)"));
    return g_state.openResult[static_cast<size_t>(portOf(settings))];
}
#endif

void RSCOM_CALL TXD(int16_t level)
{
    set("TXD", level);
}
void RSCOM_CALL DTR(int16_t level)
{
    set("DTR", level);
}
void RSCOM_CALL RTS(int16_t level)
{
    set("RTS", level);
}
int16_t RSCOM_CALL DCD(void)
{
    return read("DCD", &State::dcd);
}
int16_t RSCOM_CALL DSR(void)
{
    return read("DSR", &State::dsr);
}
int16_t RSCOM_CALL CTS(void)
{
    return read("CTS", &State::cts);
}
#ifndef FAKE_WITHOUT_RI
int16_t RSCOM_CALL RI(void)
{
    return read("RI", &State::ri);
}
#endif
void RSCOM_CALL CLOSECOM(void)
{
    read("CLOSECOM", nullptr);
}

#ifdef FAKE_WITH_COMSTATUS
int16_t RSCOM_CALL COMSTATUS(int16_t port, char *detail, int16_t size)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    record("COMSTATUS " + std::to_string(port));
    if (port < 0 || port > 255) return 0;
    const std::string &text = g_state.detail[static_cast<size_t>(port)];
    if (detail != nullptr && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
        text.copy(detail, n);
        detail[n] = '\0';
    }
    return g_state.status[static_cast<size_t>(port)];
}
#endif

#ifdef FAKE_WITH_EDGES
int16_t RSCOM_CALL EDGES(rscom_edge *edges, int16_t max)
{
    const std::lock_guard<std::mutex> guard(g_lock);
    record("EDGES");
    if (g_state.pending.empty()) return g_state.edgesResult;
    if (edges == nullptr || max <= 0) return 0;
    int16_t n = 0;
    while (n < max && !g_state.pending.empty()) {
        edges[n++] = g_state.pending.front();
        g_state.pending.pop_front();
    }
    return n;
}
#endif
