#pragma once

#include "tools/key_mouse/keyboard_layout.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <string>

// The simulator's settings, from its command line.
struct c_sim_options {
    // Ports on 127.0.0.1; 0 = pick a free one (the launch text names the one picked).
    std::uint16_t portVideo = 5900;
    std::uint16_t portKM = 5901;
    std::uint16_t portMedia = 5918;
    int controlPort = -1;         // -1 none, 0 pick
    bool controlStdin = true;

    int width = 1920;
    int height = 1080;
    int fps = 30;
    int gopSeconds = 2;
    int encoderThreads = 1;
    std::uint32_t fragment = 65536; // most H.264 bytes per video frame; 0 = never split
    unsigned cipherEvery = 0;       // cipher the head of every Nth video frame; 0 = never

    std::array<std::uint8_t, 8> desEncode{}; // the device enciphers what it sends with this
    std::array<std::uint8_t, 8> desDecode{}; // and deciphers what it receives with this
    std::uint32_t userID = 7;
    std::string userName = "admin";
    std::uint32_t mouseMode = 0;
    std::uint32_t dogID = 0;
    std::uint32_t priv = 1;
    keyboard_layout_id layout = keyboard_layout_id::us; // the remote computer's keyboard layout

    QString launchProgram;  // --launch: the viewer to start with the launch text
    QString logJsonPath;    // --log-json: JSON lines of every received frame
    int statsSeconds = 0;   // --stats: print figures every N seconds (0 = off)
    bool verbose = false;   // log lines on standard output too
    QString logDir;         // where log files go (empty: the logger's default)

    // A device for in-process use (tests, benchmarks): free ports on loopback, no control
    // on standard input, a small picture at a low rate unless told otherwise.
    static c_sim_options in_process(int width = 320, int height = 240, int fps = 5);

    // The launch text a viewer needs, for these settings and the ports actually bound.
    std::string launch_text(std::uint16_t video, std::uint16_t km, std::uint16_t media) const;
};

// Fills `options` from the arguments (program name first). Keys not given on the command line
// are fresh random ones. False when the device must not run, with the text to print in
// `error`: `answered` is set when --help or --version was asked (the text is the usage or
// "tessaract-sim VERSION", for standard output, exit 0); otherwise it is an error for standard
// error (exit 2), followed by the usage when the command line itself is malformed (an unknown
// option, a missing value, a stray argument). No text ends in a newline.
bool parse_sim_options(const QStringList &arguments, c_sim_options &options, QString &error,
                       bool &answered);

// Sixteen hexadecimal digits to 8 key bytes; false for anything else.
bool parse_des_key(const QString &text, std::array<std::uint8_t, 8> &key);
