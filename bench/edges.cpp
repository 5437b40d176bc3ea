// What EDGES costs on this machine, on virtual ports only: the CPU a held
// port takes while no line moves (the generator computes its edges when asked
// and runs nothing meanwhile), an EDGES call, and a loopback setter that
// records its edges. Then the figures of a real kernel driver, from the last
// run of the VM test, which prints them (its gadget_guest, on cdc_acm).
//
//   bench_edges [VM_CONSOLE_LOG]
#include "rscom.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace
{

double cpuMs()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

double nowUs()
{
    using namespace std::chrono;
    return static_cast<double>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 1000.0);
}

void vmFigures(const char *log)
{
    std::ifstream in(log);
    if (!in) {
        std::printf("edges, VM: no run of the VM test yet (ctest -R uart_8250_vm prints them)\n");
        return;
    }
    const auto age =
        std::filesystem::file_time_type::clock::now() - std::filesystem::last_write_time(log);
    std::printf(
        "edges, VM (cdc_acm's ttyACM0 against the serial gadget, qemu TCG; the VM test's "
        "last run, %lld min ago):\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::minutes>(age).count()));
    std::string line;
    bool any = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("bench edges: ", 0) == 0) {
            std::printf("  %s\n", line.c_str() + 13);
            any = true;
        }
    }
    if (!any) std::printf("  none: the last VM run did not reach the gadget's checks\n");
}

} // namespace

int main(int argc, char **argv)
{
    setenv("RSCOM_COM1", "generator", 1);
    setenv("RSCOM_COM2", "loopback", 1);
    for (int n = 3; n <= 5; ++n)
        setenv(("RSCOM_COM" + std::to_string(n)).c_str(), "none", 1);
    if (OPENCOM("COM2,1200,N,8,1") != 1 || OPENCOM("COM1,1200,N,8,1") != 1) {
        std::fprintf(stderr, "bench_edges: the virtual ports did not open\n");
        return 1;
    }

    const double cpu0 = cpuMs(), t0 = nowUs();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double idle = cpuMs() - cpu0, wall = (nowUs() - t0) / 1e6;
    rscom_edge edges[256];
    double t = nowUs();
    const int16_t first = EDGES(edges, 256);
    const double firstUs = nowUs() - t;
    constexpr int kCalls = 100000;
    t = nowUs();
    for (int i = 0; i < kCalls; ++i)
        EDGES(edges, 256);
    const double callUs = (nowUs() - t) / kCalls;
    std::printf("edges: CPU of two held idle virtual ports over %.1f s: %.2f ms\n", wall, idle);
    std::printf(
        "edges: generator, EDGES taking %d edges of %.1f s: %.1f us; an EDGES call: %.2f us\n",
        first, wall, firstUs, callUs);

    OPENCOM("COM2,1200,N,8,1");
    t = nowUs();
    for (int i = 0; i < kCalls; ++i) {
        DTR(static_cast<int16_t>(i & 1));
        if (i % 64 == 63) EDGES(edges, 256);
    }
    const double setterUs = (nowUs() - t) / kCalls;
    std::printf("edges: loopback, a DTR setter that records two edges (EDGES every 64): %.2f us\n",
                setterUs);
    CLOSECOM();
    OPENCOM("COM1,1200,N,8,1");
    CLOSECOM();

    if (argc > 1) vmFigures(argv[1]);
    return 0;
}
