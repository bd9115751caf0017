// Opens the input as the wrapper attachment of signed mail and writes every
// file inside it to nowhere. Inputs that are no signed message are expected;
// crashes, hangs and unbounded memory are what the fuzzer looks for.

#include "mailhost/smime/SignedMessage.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using namespace parcelon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto source = std::make_shared<pst::MemorySource>(std::vector<std::uint8_t>(data, data + size), QStringLiteral("wrapper"));
    const auto message = smime::SignedMessage::open(source);
    if (!message)
        return 0;
    std::uint64_t written = 0;
    for (std::size_t i = 0; i < message->count(); ++i) {
        (void)message->fileName(i);
        (void)message->write(i, [&written](pst::Bytes bytes) -> pst::Result<void> {
            written += bytes.size();
            return {};
        });
    }
    return 0;
}
