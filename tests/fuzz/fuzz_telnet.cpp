// libFuzzer target: a server's bytes through the telnet and RFC 2217 reading,
// and the same bytes as an RSCOM_COMn address. Whatever comes, nothing is
// read out of bounds, the replies stay few, and where the bytes are split
// does not change what is read.
#include "network/address.h"
#include "network/telnet.h"

#include <cstdlib>
#include <string>
#include <vector>

using namespace rscom;

namespace
{

struct Outcome {
    std::string replies;
    std::vector<uint8_t> reports;
    ComPortSession::Agreement agreement;
};

Outcome read(const uint8_t *data, size_t size, size_t split)
{
    ComPortSession session;
    session.greeting();
    Outcome out;
    session.receive(data, split, out.replies, out.reports);
    session.receive(data + split, size - split, out.replies, out.reports);
    out.agreement = session.agreement();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Outcome whole = read(data, size, size);
    const Outcome split = read(data, size, size == 0 ? 0 : data[0] % size);
    if (whole.replies != split.replies || whole.reports != split.reports ||
        whole.agreement != split.agreement)
        std::abort();
    // An answer only for a negotiation, which is as long as the answer.
    if (whole.replies.size() > size) std::abort();
    // A report takes 7 bytes at least.
    if (whole.reports.size() > size / 7) std::abort();

    const std::string text(reinterpret_cast<const char *>(data), size);
    if (const std::optional<RemoteAddress> address = parseRemoteAddress(text)) {
        if (address->host.empty() || address->port == 0) std::abort();
    }
    return 0;
}
