// The media stream as the handheld client receives it, from a server that
// may send anything: the splitter cuts it into packets, tells the end
// packets apart and must end, never crash, whatever arrives. The bytes come
// in pieces of the sizes a socket might deliver them in.

#include "links.h"
#include "stream_files.h"
#include "stream_receiver.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

class BytesLink : public handheld::DataLink {
public:
    BytesLink(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    handheld::ReadResult readSome(uint8_t* buffer, size_t length, handheld::Millis) override
    {
        if (at_ == size_)
            return {handheld::ReadStatus::Closed, 0};
        const size_t piece = std::min({length, size_ - at_, size_t{1} + (at_ * 7919) % 9000});
        std::memcpy(buffer, data_ + at_, piece);
        at_ += piece;
        return {handheld::ReadStatus::Data, piece};
    }
    std::string lastError() const override { return {}; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const handheld::StreamLayout layout{(data[0] & 1) != 0, (data[0] & 2) != 0, (data[0] & 4) != 0};
    BytesLink link(data + 1, size - 1);
    handheld::StreamFiles files("", 0);
    handheld::StreamReceiver receiver(link, layout, files, handheld::Millis(1000));
    receiver.start();
    const handheld::StreamEnd end = receiver.waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    if (end == handheld::StreamEnd::Running)
        std::abort();  // every byte was there and the link closed: it must have ended
    receiver.finish();
    return 0;
}
