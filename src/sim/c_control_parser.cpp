#include "c_control_parser.h"

#include <charconv>
#include <map>

namespace {

using verb = control_command::verb;
using channel = control_command::channel;

constexpr std::uint32_t kMaxSendBytes = 65536;

std::vector<std::string_view> split_words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// Decimal, or hexadecimal after "0x"; within [low, high].
bool number(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint32_t &out)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool channel_of(std::string_view word, channel &out)
{
    static const std::map<std::string_view, channel> names = {
        {"km", channel::km}, {"video", channel::video}, {"media", channel::media}};
    const auto it = names.find(word);
    if (it == names.end())
        return false;
    out = it->second;
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool hex_bytes(const std::vector<std::string_view> &words, std::size_t from,
               std::vector<std::uint8_t> &out)
{
    std::string digits;
    for (std::size_t i = from; i < words.size(); ++i)
        digits += words[i];
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() / 2 > kMaxSendBytes)
        return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = hex_digit(digits[i]);
        const int low = hex_digit(digits[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

bool pattern_of(std::string_view word, c_media_session::pattern &out)
{
    if (word == "lba") {
        out.lba = true;
        return true;
    }
    std::uint32_t fill = 0;
    if (word.size() != 2 || hex_digit(word[0]) < 0 || hex_digit(word[1]) < 0)
        return false;
    number("0x" + std::string(word), 0, 255, fill);
    out.fill = static_cast<std::uint8_t>(fill);
    return true;
}

struct verb_info {
    verb what;
    std::size_t minWords; // including the verb
    std::size_t maxWords;
    const char *usage;
};

const std::map<std::string_view, verb_info> &verbs()
{
    static const std::map<std::string_view, verb_info> table = {
        {"help", {verb::help, 1, 1, "help"}},
        {"status", {verb::status, 1, 1, "status"}},
        {"viewers", {verb::viewers, 1, 1, "viewers"}},
        {"send", {verb::send, 4, 4096, "send CH ID HEX..."}},
        {"priv", {verb::priv, 4, 4, "priv ID TYPE VALUE"}},
        {"led", {verb::led, 2, 2, "led BITS"}},
        {"ack", {verb::ack, 4, 5, "ack TYPE TARGET RESULT [ID]"}},
        {"close", {verb::close, 3, 3, "close CH ID"}},
        {"garbage", {verb::garbage, 4, 4, "garbage CH ID N"}},
        {"flood", {verb::flood, 5, 4096, "flood CH ID N HEX..."}},
        {"oversize", {verb::oversize, 3, 3, "oversize CH ID"}},
        {"malformed", {verb::malformed, 4, 4, "malformed CH ID checksum|short|cipher|header"}},
        {"keyframe", {verb::keyframe, 1, 1, "keyframe"}},
        {"console", {verb::console, 1, 1, "console"}},
        {"clear", {verb::clear, 1, 1, "clear"}},
        {"pointer", {verb::pointer, 1, 1, "pointer"}},
        {"read", {verb::read, 3, 3, "read S N"}},
        {"write", {verb::write, 4, 4, "write S N PATTERN"}},
        {"nothing", {verb::nothing, 1, 1, "nothing"}},
        {"refuse-next", {verb::refuse_next, 1, 1, "refuse-next"}},
        {"ffff", {verb::ffff, 1, 1, "ffff"}},
        {"silent", {verb::silent, 2, 2, "silent T"}},
        {"media", {verb::media, 1, 1, "media"}},
        {"sector", {verb::sector, 2, 2, "sector S"}},
        {"dump", {verb::dump, 1, 2, "dump [N]"}},
        {"stats", {verb::stats, 1, 1, "stats"}},
        {"screenshot", {verb::screenshot, 2, 2, "screenshot PATH"}},
        {"quit", {verb::quit, 1, 1, "quit"}},
        {"stall", {verb::stall, 3, 3, "stall CH ID"}},
        {"resume", {verb::resume, 3, 3, "resume CH ID"}},
        {"next", {verb::next, 3, 3, "next CH close|mute|normal"}},
        {"login", {verb::login, 3, 3, "login CH accept|refuse"}},
        {"listen", {verb::listen, 1, 1, "listen"}},
        {"unlisten", {verb::unlisten, 1, 1, "unlisten"}},
        {"layout", {verb::layout, 2, 2, "layout us|uk|de|fr"}},
    };
    return table;
}

bool parse_connection(const std::vector<std::string_view> &w, control_command &out)
{
    std::uint32_t id = 0;
    if (!channel_of(w[1], out.where) || !number(w[2], 1, 1000000, id))
        return false;
    out.viewer = static_cast<int>(id);
    return true;
}

bool parse_arrival(std::string_view word, control_command::arrival &out)
{
    using arrival = control_command::arrival;
    static const std::map<std::string_view, arrival> names = {
        {"normal", arrival::normal}, {"close", arrival::close}, {"mute", arrival::mute}};
    const auto it = names.find(word);
    if (it == names.end())
        return false;
    out = it->second;
    return true;
}

bool parse_defect(std::string_view word, control_command::defect &out)
{
    using defect = control_command::defect;
    static const std::map<std::string_view, defect> names = {
        {"checksum", defect::checksum}, {"short", defect::short_body},
        {"cipher", defect::cipher}, {"header", defect::header}};
    const auto it = names.find(word);
    if (it == names.end())
        return false;
    out = it->second;
    return true;
}

// The arguments after the verb; false when one is out of its range.
bool parse_arguments(const std::vector<std::string_view> &w, control_command &c)
{
    std::uint32_t id = 0;
    switch (c.what) {
    case verb::send: return parse_connection(w, c) && hex_bytes(w, 3, c.bytes);
    case verb::priv:
        c.where = channel::km;
        if (!number(w[1], 1, 1000000, id))
            return false;
        c.viewer = static_cast<int>(id);
        return number(w[2], 20, 23, c.first) && number(w[3], 0, 255, c.second);
    case verb::led: return number(w[1], 0, 7, c.first);
    case verb::ack:
        c.where = channel::video;
        if (w.size() == 5 && !number(w[4], 1, 1000000, id))
            return false;
        c.viewer = static_cast<int>(id);
        return number(w[1], 30, 32, c.first) && number(w[2], 0, 255, c.second) &&
               number(w[3], 0, 255, c.third);
    case verb::close:
    case verb::stall:
    case verb::resume:
    case verb::oversize: return parse_connection(w, c);
    case verb::next: return channel_of(w[1], c.where) && parse_arrival(w[2], c.fate);
    case verb::login:
        c.refuse = w[2] == "refuse";
        return channel_of(w[1], c.where) && (c.refuse || w[2] == "accept");
    case verb::garbage: return parse_connection(w, c) && number(w[3], 1, kMaxSendBytes, c.first);
    case verb::flood:
        return parse_connection(w, c) && number(w[3], 1, 100000, c.first) && hex_bytes(w, 4, c.bytes);
    case verb::malformed: return parse_connection(w, c) && parse_defect(w[3], c.flaw);
    case verb::read: return number(w[1], 0, 0xFFFFFFFF, c.first) && number(w[2], 1, 65535, c.second);
    case verb::write:
        return number(w[1], 0, 0xFFFFFFFF, c.first) && number(w[2], 1, 65535, c.second) &&
               pattern_of(w[3], c.fill);
    case verb::silent: return number(w[1], 0, 600000, c.first);
    case verb::sector: return number(w[1], 0, 0xFFFFFFFF, c.first);
    case verb::screenshot: c.path = std::string(w[1]); return true;
    case verb::layout: {
        const auto layout = keyboard_layout_named(w[1]);
        c.layout = layout.value_or(keyboard_layout_id::us);
        return layout.has_value();
    }
    case verb::dump:
        c.first = 50;
        return w.size() == 1 || number(w[1], 1, 1000, c.first);
    default: return true;
    }
}

} // namespace

bool parse_control_line(std::string_view line, control_command &out, std::string &error)
{
    out = control_command{};
    const auto words = split_words(line);
    if (words.empty() || words[0][0] == '#')
        return true; // verb::none
    const auto it = verbs().find(words[0]);
    if (it == verbs().end()) {
        error = "unknown command \"" + std::string(words[0]) + "\" (try help)";
        return false;
    }
    const verb_info &info = it->second;
    out.what = info.what;
    if (words.size() < info.minWords || words.size() > info.maxWords ||
        !parse_arguments(words, out)) {
        error = std::string("usage: ") + info.usage;
        out.what = verb::none;
        return false;
    }
    return true;
}

const char *channel_name(control_command::channel where)
{
    switch (where) {
    case channel::km: return "km";
    case channel::video: return "video";
    case channel::media: return "media";
    }
    return "?";
}

const char *control_help_text()
{
    return "commands: status | viewers | send CH ID HEX | priv ID TYPE VALUE | led BITS | "
           "ack TYPE TARGET RESULT [ID] | close CH ID | garbage CH ID N | flood CH ID N HEX | "
           "oversize CH ID | "
           "malformed CH ID checksum|short|cipher|header | keyframe | console | clear | "
           "pointer | read S N | write S N 00..FF|lba | nothing | refuse-next | ffff | "
           "silent T | media | sector S | dump [N] | stats | screenshot PATH | stall CH ID | "
           "resume CH ID | next CH close|mute|normal | login CH accept|refuse | unlisten | "
           "listen | layout us|uk|de|fr | quit  (CH = km|video|media)";
}
