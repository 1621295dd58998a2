#pragma once

#include <QElapsedTimer>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>

// What the device received, for tests and scripts: the last records in memory (for the
// control interface's dump) and, when a path is given, every record appended to a file as
// one JSON object per line:
//   {"ms":1234,"time":"14:03:07.512","channel":"km","viewer":1,"type":3,"payload":"0000040000000000"}
// Dropped frames are recorded with "type":-1 and an "error". Event-loop thread only.
class c_receive_log {
public:
    static constexpr std::size_t kKept = 1000;

    c_receive_log();
    ~c_receive_log();

    // Opens the file for appending; false (logged) when it cannot be opened.
    bool open_file(const std::string &path);

    // A frame body (type byte first) received on a channel from a viewer.
    void frame(const char *channel, int viewer, const std::uint8_t *body, std::size_t length);
    // A frame or bytes that were dropped, with the reason.
    void dropped(const char *channel, int viewer, const std::string &reason);

    // The last `count` records as a JSON array on one line.
    std::string last(std::size_t count) const;

private:
    void add(std::string record);

    struct file_closer {
        void operator()(std::FILE *file) const { std::fclose(file); }
    };

    QElapsedTimer m_clock;
    std::deque<std::string> m_records;
    std::unique_ptr<std::FILE, file_closer> m_file;
};
