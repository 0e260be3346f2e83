#include "MatrixDecoder.h"

#include <cctype>
#include <cstdio>

namespace matrixsim {
namespace {

enum class Match { Full, Prefix, None };

struct Parsed {
    Match match = Match::None;
    size_t length = 0;
};

constexpr size_t MaxNumberLength = 11;  // "-2147483648"

// An optionally negative decimal number at `at`, which moves past it.
// Prefix while the text could still grow into one.
Match number(std::string_view s, size_t& at, int64_t& value)
{
    size_t start = at;
    if (at < s.size() && s[at] == '-')
        ++at;
    size_t digits = at;
    while (at < s.size() && std::isdigit(static_cast<unsigned char>(s[at])) && at - start < MaxNumberLength)
        ++at;
    if (at == s.size() && at - start < MaxNumberLength)
        return Match::Prefix;
    if (at == digits)
        return Match::None;
    value = std::stoll(std::string(s.substr(start, at - start)));
    return Match::Full;
}

Match literal(std::string_view s, size_t& at, std::string_view text)
{
    for (char c : text) {
        if (at == s.size())
            return Match::Prefix;
        if (s[at++] != c)
            return Match::None;
    }
    return Match::Full;
}

Parsed parseSwitch(std::string_view s, MatrixEvent& e)
{
    size_t at = 0;
    if (Match m = number(s, at, e.monitor); m != Match::Full)
        return {m, 0};
    if (Match m = literal(s, at, "Ma"); m != Match::Full)
        return {m, 0};
    if (Match m = number(s, at, e.camera); m != Match::Full)
        return {m, 0};
    if (Match m = literal(s, at, "#a"); m != Match::Full)
        return {m, 0};
    e.kind = MatrixEvent::Kind::Switch;
    return {Match::Full, at};
}

Parsed parseHead(std::string_view s, MatrixEvent& e)
{
    if (s[0] != '0' && s[0] != '1')
        return {};
    if (s.size() < 2)
        return {Match::Prefix, 0};
    auto function = tarvelo::HeadFunctionOfLetter(s[1]);
    if (!function)
        return {};
    if (s.size() < 3)
        return {Match::Prefix, 0};
    if (s[2] != 'a')
        return {};
    e.kind = MatrixEvent::Kind::Head;
    e.head = *function;
    e.start = s[0] == '1';
    return {Match::Full, 3};
}

}  // namespace

std::string MatrixEvent::describe() const
{
    switch (kind) {
    case Kind::Switch:
        return "camera " + std::to_string(camera) + " -> monitor " + std::to_string(monitor);
    case Kind::Head:
        return std::string(head.name) + (start ? ": start" : ": stop");
    case Kind::Raw:
        break;
    }
    std::string text = "raw:";
    for (unsigned char c : raw) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", c);
        text += hex;
    }
    return text;
}

std::vector<MatrixEvent> MatrixDecoder::feed(std::string_view bytes)
{
    pending_.append(bytes);
    std::vector<MatrixEvent> out;
    decode(out);
    return out;
}

std::vector<MatrixEvent> MatrixDecoder::flush()
{
    std::vector<MatrixEvent> out;
    raw_ += pending_;
    pending_.clear();
    flushRaw(out);
    return out;
}

void MatrixDecoder::decode(std::vector<MatrixEvent>& out)
{
    while (!pending_.empty()) {
        MatrixEvent head, sw;
        Parsed h = parseHead(pending_, head);
        Parsed s = parseSwitch(pending_, sw);
        if (h.match == Match::Full || s.match == Match::Full) {
            flushRaw(out);
            MatrixEvent& e = h.match == Match::Full ? head : sw;
            if (e.kind == MatrixEvent::Kind::Switch)
                monitors_[e.monitor] = e.camera;
            out.push_back(e);
            pending_.erase(0, h.match == Match::Full ? h.length : s.length);
        } else if (h.match == Match::Prefix || s.match == Match::Prefix) {
            break;  // wait for the rest of the command
        } else {
            raw_ += pending_[0];
            pending_.erase(0, 1);
        }
    }
    flushRaw(out);
}

void MatrixDecoder::flushRaw(std::vector<MatrixEvent>& out)
{
    if (raw_.empty())
        return;
    MatrixEvent e;
    e.raw = std::move(raw_);
    raw_.clear();
    out.push_back(std::move(e));
}

}  // namespace matrixsim
