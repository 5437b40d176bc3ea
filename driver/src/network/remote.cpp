// A port on another machine, reached over telnet with the Com Port Control
// Option (RFC 2217). A thread per held port sleeps on its connection, reads
// the server's modem-state reports and throws its data away, and connects
// again about once a second while the connection is down. The setters send
// from the caller's thread without waiting for an answer; the readers answer
// from the last report.
#include "core/diagnostics.h"
#include "network/address.h"
#include "network/socket.h"
#include "network/telnet.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace rscom
{

namespace
{

using Clock = std::chrono::steady_clock;

// How long a connection may take: looking up the name, connecting and the
// server's agreement to the option.
constexpr std::chrono::seconds kAgreementTime{2};
// From one try to connect to the next, while the connection is down.
constexpr std::chrono::seconds kRetryPeriod{1};
// How often a look-up that is still going looks whether it is still wanted.
constexpr std::chrono::milliseconds kLookUpCheck{20};

// The server's addresses by `deadline`, or none. A name is looked up on a
// thread of its own, as the system's look-up cannot be given a time limit:
// when the deadline passes (or `stopped` says so) it is left to end by
// itself, and holds nothing but its answer.
std::vector<Endpoint> lookUpBy(const RemoteAddress &address, Deadline deadline,
                               const std::function<bool()> &stopped, std::string &error)
{
    if (address.numeric) return lookUp(address.host, address.port, true, error);
    struct Answer {
        std::mutex lock;
        std::condition_variable done;
        bool ready = false;
        std::vector<Endpoint> endpoints;
        std::string error;
    };
    auto answer = std::make_shared<Answer>();
    std::thread([answer, address] {
        std::string words;
        std::vector<Endpoint> endpoints = lookUp(address.host, address.port, false, words);
        const std::lock_guard<std::mutex> guard(answer->lock);
        answer->endpoints = std::move(endpoints);
        answer->error = std::move(words);
        answer->ready = true;
        answer->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> guard(answer->lock);
    while (!answer->ready && Clock::now() < deadline && !stopped())
        answer->done.wait_until(guard, std::min(deadline, Clock::now() + kLookUpCheck));
    if (!answer->ready) {
        error = "the name was not found in time";
        return {};
    }
    error = answer->error;
    return answer->endpoints;
}

class RemotePort final : public Device
{
public:
    RemotePort(std::string path, RemoteAddress address, std::unique_ptr<Socket> socket)
        : m_path(std::move(path)), m_address(std::move(address)), m_socket(std::move(socket))
    {
    }

    ~RemotePort() override
    {
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_socket->wake();
        if (m_thread.joinable()) m_thread.join();
    }

    // Connects, and waits for the server's agreement, 2 s at most.
    bool start()
    {
        m_thread = std::thread([this] { run(); });
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait(guard, [this] { return m_phase != Phase::Opening; });
        if (m_phase == Phase::Failed) explain(m_failure);
        return m_phase == Phase::Up;
    }

    bool configure(const Settings &settings) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_settings = settings;
        sendLocked(settingsCommands(settings));
        return true;
    }

    bool setOutput(Output line, bool active) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_outputs[static_cast<size_t>(line)] = active;
        sendLocked(outputCommand(line, active));
        return true;
    }

    int readInput(Input line) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_phase != Phase::Up || !m_report) return kAway;
        return reportLevel(*m_report, line) ? 1 : 0;
    }

    void recordEdges(const std::shared_ptr<EdgeRecord> &record) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_record = record;
    }

    EdgeState updateEdges() override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        return m_phase == Phase::Up && m_report ? EdgeState::Told : EdgeState::Away;
    }

private:
    enum class Phase { Opening, Up, Down, Failed };

    bool stopped()
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        return m_stop;
    }

    // A command that the connection cannot take ends it: the thread connects
    // again and sends the state as it then is.
    void sendLocked(const std::string &bytes)
    {
        if (m_phase != Phase::Up || m_socket->send(bytes)) return;
        m_broken = true;
        m_socket->wake();
    }

    void run()
    {
        bool opening = true;
        while (!stopped()) {
            const Clock::time_point begun = Clock::now();
            std::string failure;
            if (connectOnce(begun + kAgreementTime, opening, failure)) {
                opening = false;
                failure = serve();
            }
            m_socket->disconnect();
            {
                const std::lock_guard<std::mutex> guard(m_lock);
                if (opening) {
                    m_phase = Phase::Failed;
                    m_failure = failure;
                    m_changed.notify_all();
                    return;
                }
                if (m_phase == Phase::Up && !m_stop) {
                    // Told once, when it goes; the tries to connect again are not.
                    const About about(0, m_path);
                    explain("the connection is lost (" + failure +
                            "); its reads give -1 until it is back");
                }
                m_phase = Phase::Down;
                m_report.reset();
                m_broken = false;
            }
            m_socket->pause(begun + kRetryPeriod);
        }
    }

    // Connects and waits for the server's agreement by `deadline`; then the
    // port is up, with its state sent again after a lost connection.
    bool connectOnce(Deadline deadline, bool opening, std::string &failure)
    {
        std::vector<Endpoint> endpoints = lookUpBy(
            m_address, deadline, [this] { return stopped(); }, failure);
        if (endpoints.empty() || !m_socket->connect(endpoints, deadline, failure)) return false;
        m_session = ComPortSession();
        if (!m_socket->send(m_session.greeting())) {
            failure = "the server closed the connection";
            return false;
        }
        while (m_session.agreement() == ComPortSession::Agreement::Pending) {
            if (!receive(deadline, failure)) return false;
            if (stopped()) return false;
            if (Clock::now() >= deadline &&
                m_session.agreement() == ComPortSession::Agreement::Pending) {
                failure = "the server did not agree to the Com Port Control Option in time";
                return false;
            }
        }
        if (m_session.agreement() == ComPortSession::Agreement::Refused) {
            failure = "the server refused the Com Port Control Option";
            return false;
        }
        const std::lock_guard<std::mutex> guard(m_lock);
        m_phase = Phase::Up;
        // The mask first, so that the server reports every change from now
        // on. After a lost connection the settings and the outputs as last
        // set follow at once, with no change between.
        std::string state = reportRequest();
        if (!opening) {
            state = settingsCommands(m_settings) + state;
            for (Output line : {Output::Txd, Output::Dtr, Output::Rts})
                state += outputCommand(line, m_outputs[static_cast<size_t>(line)]);
        }
        sendLocked(state);
        m_changed.notify_all();
        return true;
    }

    // Reads the server until the connection ends or the port is closed; why
    // it ended.
    std::string serve()
    {
        std::string failure;
        while (!stopped()) {
            if (!receive(Deadline::max(), failure)) return failure;
            const std::lock_guard<std::mutex> guard(m_lock);
            if (m_broken) return "the server takes no more commands";
            if (m_session.agreement() != ComPortSession::Agreement::Agreed)
                return "the server withdrew the Com Port Control Option";
        }
        return "closed";
    }

    // Waits for the server's bytes until `deadline` and reads them: its
    // reports go to the lines and the record, timed on arrival; false when
    // the connection ended.
    bool receive(Deadline deadline, std::string &failure)
    {
        uint8_t buffer[4096];
        const long n = m_socket->receive(buffer, sizeof buffer, deadline);
        if (n < 0) {
            failure = "the server closed the connection";
            return false;
        }
        if (n == 0) return true;
        const int64_t time = edgeClock();
        std::string replies;
        std::vector<uint8_t> reports;
        m_session.receive(buffer, static_cast<size_t>(n), replies, reports);
        if (!replies.empty() && !m_socket->send(replies)) {
            failure = "the server takes no answers";
            return false;
        }
        const std::lock_guard<std::mutex> guard(m_lock);
        for (uint8_t report : reports)
            take(report, time);
        return true;
    }

    // The first report of a connection sets the levels; each one after it
    // tells the changes since the one before.
    void take(uint8_t report, int64_t time)
    {
        if (m_report && m_record) {
            const std::array<int, 4> changes = reportChanges(*m_report, report);
            for (Input line : kInputs) {
                const int n = changes[static_cast<size_t>(line)];
                if (n > 0) m_record->add(line, n, reportLevel(report, line), time);
            }
        }
        m_report = report;
    }

    const std::string m_path; // the address as given
    const RemoteAddress m_address;
    const std::unique_ptr<Socket> m_socket;
    ComPortSession m_session; // the thread's alone

    std::mutex m_lock; // everything below
    std::condition_variable m_changed;
    Phase m_phase = Phase::Opening;
    std::string m_failure;
    bool m_stop = false;
    bool m_broken = false;
    std::optional<uint8_t> m_report;
    Settings m_settings;
    std::array<bool, 3> m_outputs{};
    std::shared_ptr<EdgeRecord> m_record;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<Device> openRemote(const Target &target)
{
    const std::optional<RemoteAddress> address = parseRemoteAddress(target.path);
    if (!address) {
        explain("not a valid rfc2217 address");
        return nullptr;
    }
    std::unique_ptr<Socket> socket = Socket::create();
    if (!socket) {
        explain("no socket for the connection");
        return nullptr;
    }
    auto port = std::make_unique<RemotePort>(target.path, *address, std::move(socket));
    if (!port->start()) return nullptr;
    return port;
}

} // namespace rscom
