#pragma once
// Splits the byte stream of a matrix line into the commands the matrix
// understands, and keeps which camera each monitor shows.

#include "matrix/MatrixProtocol.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace matrixsim {

struct MatrixEvent {
    enum class Kind { Switch, Head, Raw };
    Kind kind = Kind::Raw;
    int64_t monitor = 0;
    int64_t camera = 0;
    tarvelo::HeadFunction head{};
    bool start = false;
    std::string raw;  // bytes that are no command

    std::string describe() const;  // "camera 12 -> monitor 1", "zoom in: start", "raw: 41 42"
};

class MatrixDecoder {
public:
    std::vector<MatrixEvent> feed(std::string_view bytes);

    // Bytes still waiting to become a command, given up on: they come out raw.
    std::vector<MatrixEvent> flush();

    bool pending() const { return !pending_.empty(); }
    const std::map<int64_t, int64_t>& monitors() const { return monitors_; }

private:
    void decode(std::vector<MatrixEvent>& out);
    void flushRaw(std::vector<MatrixEvent>& out);

    std::string pending_;
    std::string raw_;
    std::map<int64_t, int64_t> monitors_;
};

}  // namespace matrixsim
