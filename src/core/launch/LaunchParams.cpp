#include "launch/LaunchParams.h"
#include "logging/log.h"

#include <algorithm>
#include <cstring>

LaunchParams para;

namespace {

constexpr std::uint32_t kDefaultMediaPort = 5918;
constexpr std::size_t kKeyBytes = 8;

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

bool is_decimal_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim_blanks(std::string_view text)
{
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

constexpr std::uint32_t kMaxNumber = 0xFFFFFFFFu;

// Decimal text with blanks around it; 0 for anything else. A number above kMaxNumber gives
// kMaxNumber with `overflow` set.
std::uint32_t decimal_value(std::string_view value, bool &overflow)
{
    overflow = false;
    value = trim_blanks(value);
    if (value.empty() || !std::all_of(value.begin(), value.end(), is_decimal_digit))
        return 0;
    std::uint64_t number = 0;
    for (const char c : value) {
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > kMaxNumber) {
            overflow = true;
            return kMaxNumber;
        }
    }
    return static_cast<std::uint32_t>(number);
}

enum class Field { DesEncode, DesDecode, Ip, PortKM, PortMedia, PortV, Priv, DogID, MouseMode,
                   UserNM, UserID };

struct KeyName {
    std::string_view name;
    Field field;
};

// Order matters: an item goes to the first key its text starts with.
constexpr KeyName kKeys[] = {
    {"desEncode", Field::DesEncode}, {"desDecode", Field::DesDecode}, {"ip", Field::Ip},
    {"portKM", Field::PortKM},       {"portMedia", Field::PortMedia}, {"portV", Field::PortV},
    {"priv", Field::Priv},           {"dogID", Field::DogID},         {"mouseMode", Field::MouseMode},
    {"userNM", Field::UserNM},       {"userID", Field::UserID},
};

void apply_item(LaunchParams &params, const KeyName &key, std::string_view value)
{
    switch (key.field) {
    case Field::DesEncode: params.desEncodeKey = launch_key(value); break;
    case Field::DesDecode: params.desDecodeKey = launch_key(value); break;
    case Field::Ip: params.ip.assign(value); break;
    case Field::UserNM: params.userNM.assign(value); break;
    case Field::PortKM: params.portKM = launch_port(value); break;
    case Field::PortMedia: {
        const std::uint32_t port = launch_port(value);
        params.portMedia = port == 0 ? kDefaultMediaPort : port;
        break;
    }
    case Field::PortV: params.portV = launch_port(value); break;
    case Field::Priv: params.priv = launch_number(value); break;
    case Field::DogID: params.dogID = launch_number(value); break;
    case Field::MouseMode: params.mouseMode = launch_number(value); break;
    case Field::UserID: params.userID = launch_number(value); break;
    }
}

} // namespace

std::string decode_launch_text(std::string_view argument)
{
    char buffer[kLaunchTextBuffer] = {};
    if (argument.size() > kLaunchTextBuffer - 1) {
        TLOG_WARN << "launch text of " << argument.size() << " bytes cut to "
                  << kLaunchTextBuffer - 1 << " bytes";
        argument = argument.substr(0, kLaunchTextBuffer - 1);
    }
    std::memcpy(buffer, argument.data(), argument.size());

    // In place: the write position never passes the read position.
    std::size_t out = 0;
    for (std::size_t in = 0; in < argument.size(); ++in, ++out) {
        if (buffer[in] == '%' && in + 2 < argument.size() &&
            hex_digit(buffer[in + 1]) >= 0 && hex_digit(buffer[in + 2]) >= 0) {
            buffer[out] = static_cast<char>(hex_digit(buffer[in + 1]) * 16 + hex_digit(buffer[in + 2]));
            in += 2;
        } else {
            buffer[out] = buffer[in];
        }
    }
    buffer[out] = '\0';

    // The buffer is read as a C string, so a decoded "%00" ends the text.
    std::string text(buffer);
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

bool is_serial_bridge_text(std::string_view decoded)
{
    return decoded.find("portCOM") != std::string_view::npos;
}

std::vector<std::string_view> launch_items(std::string_view decoded)
{
    std::vector<std::string_view> items;
    const std::size_t open = decoded.find('{');
    const std::size_t close = decoded.rfind('}');
    if (open == std::string_view::npos || close == std::string_view::npos || close <= open)
        return items;
    std::string_view body = decoded.substr(open + 1, close - open - 1);
    while (!body.empty()) {
        const std::size_t comma = body.find(',');
        const std::string_view piece = body.substr(0, comma);
        if (!piece.empty())
            items.push_back(piece);
        if (comma == std::string_view::npos)
            break;
        body.remove_prefix(comma + 1);
    }
    return items;
}

std::string_view launch_item_value(std::string_view item)
{
    const std::size_t colon = item.find(':');
    return colon == std::string_view::npos ? item : item.substr(colon + 1);
}

std::uint32_t launch_number(std::string_view value)
{
    bool overflow = false;
    const std::uint32_t number = decimal_value(value, overflow);
    return overflow ? 0 : number;
}

std::uint32_t launch_port(std::string_view value)
{
    bool overflow = false;
    const std::uint32_t number = decimal_value(value, overflow);
    return overflow ? kMaxNumber : number;
}

DesKey launch_key(std::string_view value)
{
    std::string digits;
    digits.reserve(value.size());
    for (const char c : value) {
        if (!is_blank(c) && c != ';')
            digits.push_back(c);
    }
    // One stray character would otherwise end the reading early and leave a key made of
    // the bytes before it, or of none: a weak or publicly known key.
    if (digits.size() != 2 * kKeyBytes ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return hex_digit(c) >= 0; }))
        return DesKey{};
    DesKey key;
    for (std::size_t i = 0; i < kKeyBytes; ++i) {
        const int byte = hex_digit(digits[2 * i]) * 16 + hex_digit(digits[2 * i + 1]);
        key.key[i] = static_cast<std::uint8_t>(byte);
    }
    key.length = kKeyBytes;
    return key;
}

LaunchParams parse_launch_params(std::string_view decoded)
{
    LaunchParams params;
    params.mouseMode = 0;
    for (const std::string_view item : launch_items(decoded)) {
        const auto key = std::find_if(std::begin(kKeys), std::end(kKeys), [item](const KeyName &k) {
            return item.substr(0, k.name.size()) == k.name;
        });
        if (key != std::end(kKeys))
            apply_item(params, *key, launch_item_value(item));
    }
    return params;
}

QString launch_window_title(const LaunchParams &params)
{
    return QStringLiteral("Tessaract V2.1 2018.10.26 - Login User: %1 DongleID:%2 IP: %3")
        .arg(QString::fromStdString(params.userNM))
        .arg(static_cast<qulonglong>(params.dogID) + 1)
        .arg(QString::fromStdString(params.ip));
}

std::vector<std::string> launch_params_problems(const LaunchParams &params)
{
    constexpr std::uint32_t kMaxPort = 65535;
    std::vector<std::string> problems;
    // An absent key would leave the cipher with all-zero bytes, a key anyone knows.
    if (!params.desEncodeKey.present())
        problems.emplace_back("desEncode: the key is missing or is not 16 hexadecimal digits");
    if (!params.desDecodeKey.present())
        problems.emplace_back("desDecode: the key is missing or is not 16 hexadecimal digits");
    // Ports are 16 bits on the wire: a larger number would silently connect elsewhere.
    if (params.portKM == 0 || params.portKM > kMaxPort)
        problems.emplace_back("portKM: the port is missing or outside 1 to 65535");
    if (params.portV == 0 || params.portV > kMaxPort)
        problems.emplace_back("portV: the port is missing or outside 1 to 65535");
    if (params.portMedia > kMaxPort)
        problems.emplace_back("portMedia: the port is outside 1 to 65535");
    return problems;
}
