#pragma once

#include "protocol/frame.h"
#include "tools/socket/byte_source.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Helpers shared by the fuzz targets.
namespace fuzz {

// Creates the process's QCoreApplication once (QObjects with timers and queued calls want
// one); headless, no platform plugin. Call from LLVMFuzzerInitialize.
void ensure_application();

// Stops the program with a message when a property the target checks does not hold:
// libFuzzer records the input as a crash.
[[noreturn]] void fail(const char *what);
#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond))                                                                     \
            ::fuzz::fail(#cond " (" __FILE__ ":" FUZZ_STR(__LINE__) ")");                \
    } while (0)
#define FUZZ_STR(x) FUZZ_STR2(x)
#define FUZZ_STR2(x) #x

// A folder of this process for the files a target writes (removed at exit). Under
// $TMPDIR; the script points that at memory-backed storage.
const QString &scratch_dir();

// Replaces the file `name` in the scratch folder by `bytes`; returns its path.
QString write_scratch_file(const char *name, const std::uint8_t *bytes, std::size_t size);

// The byte stream of a channel, from memory: at most `chunk` bytes per read (so a frame
// arrives in pieces), the stream ends after the last byte. Never blocks.
class memory_source : public byte_source {
public:
    memory_source(const std::uint8_t *data, std::size_t size, int chunk)
        : m_data(data), m_size(size), m_chunk(chunk > 0 ? chunk : 1) {}

    int wait_readable(int) override { return 1; }
    int read_some(std::uint8_t *buffer, int length) override;

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    int m_chunk;
};

// How a stream target reads its input: byte 0 chooses the read size and the receive
// buffer, the rest is the stream as the device would send it.
struct stream_options {
    int chunk;             // bytes per read: 1..127, or everything at once
    bool smallBuffer;      // a receive buffer of kSmallBuffer bytes instead of the full one
    static constexpr std::uint32_t kSmallBuffer = 600;

    static stream_options from(std::uint8_t selector);
};

using frame_sink = std::function<void(const frame_header &, std::uint8_t *body, std::uint32_t)>;

// Reads a stream target's input (options byte, then the stream) with the receive threads'
// frame reader into a buffer of exactly the receive thread's size (or the small one) and
// hands every frame to `deliver`, as a receive thread's handle_frame gets it.
void split_stream(const std::uint8_t *data, std::size_t size, const frame_sink &deliver);

} // namespace fuzz
