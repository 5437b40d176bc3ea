// What COMSTATUS costs. The program's probe asks about COM1 to COM5. The
// first answer for a device that is there looks through every process's
// open descriptors that this user may see, once for every serial device;
// later answers reuse that look until a program opens or closes one of the
// devices, and read only /proc/locks and the lock files. Measured here on
// this machine's own /proc, with as many extra processes as asked for, each
// holding a few descriptors on /dev/null, and with a USB adapter in a
// made-up sysfs whose device node stands in for by /dev/full: no device of
// this machine is opened.
//
//   bench_comstatus [PROCESSES]   (default 300)
#include "rscom.h"
#include "linux/system.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{

int processCount()
{
    int n = 0;
    DIR *dir = ::opendir("/proc");
    while (const dirent *entry = ::readdir(dir))
        n += entry->d_name[0] >= '1' && entry->d_name[0] <= '9';
    ::closedir(dir);
    return n;
}

// A sysfs with one USB adapter, ttyUSB0, whose node is a link to /dev/full;
// /proc is the machine's own.
std::string makeTree()
{
    char folder[] = "/tmp/rscom-bench-XXXXXX";
    const std::string root = ::mkdtemp(folder);
    const std::string usb = root + "/sys/devices/pci0000:00/usb1/1-1";
    const std::string tty = usb + "/1-1:1.0/ttyUSB0/tty/ttyUSB0";
    fs::create_directories(tty);
    fs::create_directories(root + "/sys/class/tty");
    fs::create_directories(root + "/sys/dev/char");
    fs::create_directories(root + "/dev");
    fs::create_directories(root + "/run/lock");
    std::ofstream(usb + "/idVendor") << "0403\n";
    std::ofstream(usb + "/idProduct") << "6001\n";
    std::ofstream(usb + "/product") << "FT232R USB UART\n";
    std::ofstream(usb + "/manufacturer") << "FTDI\n";
    std::ofstream(usb + "/serial") << "A12345\n";
    std::ofstream(usb + "/1-1:1.0/bInterfaceNumber") << "00\n";
    fs::create_directory_symlink(usb + "/1-1:1.0/ttyUSB0", tty + "/device");
    fs::create_directory_symlink(root + "/sys/class/tty", tty + "/subsystem");
    fs::create_directory_symlink(tty, root + "/sys/class/tty/ttyUSB0");
    fs::create_symlink("/dev/full", root + "/dev/ttyUSB0");
    fs::create_directory_symlink("/proc", root + "/proc");
    struct stat full {
    };
    ::stat("/dev/full", &full);
    fs::create_directory_symlink(tty, root + "/sys/dev/char/" +
                                          std::to_string(major(full.st_rdev)) + ":" +
                                          std::to_string(minor(full.st_rdev)));
    return root;
}

double threadMicroseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Microseconds of one round of calls; with `cpu` the CPU time this thread
// spent in them, which other work on a busy machine does not lengthen.
double timeRound(const std::vector<int> &ports, bool cpu = false)
{
    const auto start = std::chrono::steady_clock::now();
    const double startCpu = threadMicroseconds();
    for (int port : ports)
        COMSTATUS(static_cast<int16_t>(port), nullptr, 0);
    if (cpu) return threadMicroseconds() - startCpu;
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

// Median microseconds of one round of calls, each round made as a program
// makes it: a while after the last. `between` runs before each round.
double timeRounds(int rounds, const std::vector<int> &ports, void (*between)() = nullptr,
                  bool cpu = false)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        ::usleep(150000);
        if (between != nullptr) between();
        times.push_back(timeRound(ports, cpu));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Another program's open and close of the adapter (its stand-in), which
// makes the next answer look at the processes again.
void openAndClose()
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(::open("/dev/full", O_RDONLY | O_CLOEXEC));
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
}

} // namespace

int main(int argc, char **argv)
{
    const int extra = argc > 1 ? std::atoi(argv[1]) : 300;
    for (int n = 1; n <= 9; ++n)
        ::unsetenv(("RSCOM_COM" + std::to_string(n)).c_str());
    const std::string root = makeTree();
    rscom::systemPaths().root = root;
    rscom::systemPaths().stateFolder = root + "/state";

    for (int i = 0; i < 16; ++i)
        ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::vector<pid_t> children;
    for (int i = 0; i < extra; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::pause();
            ::_exit(0);
        }
        if (child > 0) children.push_back(child);
    }

    const double first = timeRound({1, 2, 3, 4, 5});
    char detail[512];
    const int code = COMSTATUS(1, detail, sizeof detail);
    std::printf("COMSTATUS cost, %d processes in /proc (each with about 20 descriptors)\n",
                processCount());
    std::printf("  COM1, a USB adapter, answers %d: %s\n", code, detail);
    const double probe = timeRounds(20, {1, 2, 3, 4, 5});
    const double all = timeRounds(20, {1, 1, 1, 1, 1});
    const double missing = timeRounds(20, {2});
    const double probeCpu = timeRounds(20, {1, 2, 3, 4, 5}, nullptr, true);
    const double changed = timeRounds(10, {1, 2, 3, 4, 5}, openAndClose);
    std::printf("  the probe's five calls (one adapter, four missing ports):\n");
    std::printf("    first probe, one look at the processes:                %.1f ms\n",
                first / 1000);
    std::printf("    later probe, nobody opened or closed a serial device:  %.2f ms "
                "(CPU %.2f ms; goal <= 2 ms)\n",
                probe / 1000, probeCpu / 1000);
    std::printf("    later probe after another program opened and closed it: %.1f ms\n",
                changed / 1000);
    std::printf("  five calls for a port that is there, later:              %.2f ms\n", all / 1000);
    std::printf("  one call for a missing port:                             %.2f ms\n",
                missing / 1000);

    for (pid_t child : children)
        ::kill(child, SIGTERM);
    for (pid_t child : children)
        ::waitpid(child, nullptr, 0);
    rscom::systemPaths() = {};
    fs::remove_all(root);
    return code == RSCOM_AVAILABLE ? 0 : 1;
}
