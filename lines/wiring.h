// The wiring test: drives each output of a port (and of a second port at
// the other end of a cable) in turn, reads every input after each change,
// and tells which output reaches which input and what the wiring is. It
// knows no widget, no timer and no driver: it drives `Driver` and waits on
// `Clock`, so that a table can play any wiring to it.
#pragma once

#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class WiringTest
{
public:
    // In the order of the result's lines.
    enum Output { kTxd, kDtr, kRts, kOutputCount };
    enum Input { kDcd, kDsr, kCts, kRi, kInputCount };

    // What the test drives and reads.
    class Driver
    {
    public:
        virtual ~Driver() = default;
        // Makes `port` the one the other calls act on; false when it cannot
        // be opened.
        virtual bool select(int port) = 0;
        virtual void set(Output output, int level) = 0;
        // The driver's read: 1 active (or any positive value), 0 inactive,
        // negative when the port does not answer.
        virtual int read(Input input) = 0;
        enum Told { kCounted, kUntold, kGone };
        // How many times each input changed since the last call, where the
        // port can tell; kGone when the port does not answer.
        virtual Told changes(std::array<int, kInputCount> &counted) = 0;
        // Whether the port's changes arrive late (it is across a network).
        virtual bool late(int port) = 0;
    };

    class Clock
    {
    public:
        virtual ~Clock() = default;
        // Calls `then` once, `milliseconds` from now, from the event loop.
        virtual void after(int milliseconds, std::function<void()> then) = 0;
    };

    // The wait after each change, and on a port whose changes arrive late.
    static constexpr int kWait = 50;
    static constexpr int kLateWait = 1500;
    static constexpr int kRounds = 2;

    // Tests `port` alone (a plug on it, or nothing), or with `other`, 0 for
    // none, at the other end of a cable.
    WiringTest(Driver &driver, Clock &clock, int port, int other = 0);

    // Runs the test; `done` is called with the result's lines when it ends.
    void start(std::function<void(const QStringList &result)> done);
    // Ends a running test at once: no further step, no result.
    void stop();
    bool running() const { return m_running; }

private:
    // Every input of the tested ports after a step; -1 where not counted.
    struct Sample {
        std::vector<std::array<int, kInputCount>> level, changes;
    };

    void step();
    void drive(std::size_t output, int level);
    bool sample();
    void fail(int port);
    void finish(const QStringList &result);
    QStringList judge() const;
    bool follows(std::size_t input, std::size_t output, int whenActive) const;

    Driver &m_driver;
    Clock &m_clock;
    std::vector<int> m_ports;
    int m_wait = kWait;
    std::function<void(const QStringList &)> m_done;
    bool m_running = false;
    unsigned m_run = 0; // tells a stopped run's pending step from the current one's
    std::size_t m_step = 0;
    std::vector<Sample> m_samples;
};
