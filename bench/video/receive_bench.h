#pragma once

#include "test_streams.h"

#include <QSize>

#include <array>
#include <cstdint>
#include <vector>

// One stream through the viewer's receive path, or through the floor (decode and colour
// conversion alone), and what came out.
struct path_figures {
    bool complete = false;     // every picture arrived and was taken by the display
    int pictures = 0;          // decoded
    int shown = 0;             // painted
    int dropped = 0;           // decoded but never painted
    int maxWaiting = 0;        // most pictures waiting for the display at once
    double picturesPerSecond = 0;
    double cpuMsPerPicture = 0;     // process CPU (getrusage) minus the sender thread's clock
    double receiveCpuMsPerPicture = 0; // the receive thread's own clock
    double guiCpuMsPerPicture = 0;     // the GUI thread's own clock
    double renderCpuMsPerPicture = 0;  // of which rendering the canvas and setting the pixmap
    double paintCpuMsPerPicture = 0;   // of which the label's paintEvent
    double p50Ms = 0;
    double p99Ms = 0;
};

using inbound_key = std::array<std::uint8_t, 8>;

// The type-6 frames of every picture as the device sends them (fragments of at most
// 65,536 data bytes, every 8th frame's head ciphered under `key`), one buffer per picture.
std::vector<std::vector<std::uint8_t>> frame_pictures(const test_stream &stream,
                                                      const inbound_key &key);

// Sends `count` pictures (the stream round and round; it starts with a key frame) over a
// loopback socket, at `fps` or unpaced (0), to the viewer's video session, shown in a label
// that covers `area`.
// The figures leave out the first `warmUp` pictures (the session's start: decoder, picture
// pool and canvases allocate then). GUI thread; runs its own event loop until the last
// picture has been painted (bounded).
path_figures run_viewer(const std::vector<std::vector<std::uint8_t>> &wire, int warmUp,
                        int count, int fps, QSize area, const inbound_key &key);

// The floors of one stream, measured in one pass on the calling thread: libavcodec decoding
// (one thread, low delay) and a cached BGRA conversion into a reused buffer (`floor`), and
// the same followed by one fast scale of the picture (nearest pixel, as the window's label
// paints it) into a backing-store image of `display` size (`display`: the floor of showing
// it). `count` pictures at `fps` (sleeping between pictures as the viewer waits for the next
// one) or back to back (0); the first `warmUp` are left out. CPU is the thread's clock, the
// scale's share timed on its own; latency runs from having a picture's bytes to having its
// BGRA pixels, or its scaled pixels.
struct floor_figures {
    path_figures floor;
    path_figures display;
};
floor_figures run_floors(const test_stream &stream, int warmUp, int count, int fps, QSize display);
