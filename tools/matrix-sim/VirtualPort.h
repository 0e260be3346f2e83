#pragma once
// A pseudo-terminal whose port side is linked as DIR/COMn, so that the
// library opens it as serial port n with TARVELO_COMPORTS=DIR.

#include <string>

namespace matrixsim {

class VirtualPort {
public:
    VirtualPort(const std::string& dir, int number);  // throws std::runtime_error
    ~VirtualPort();

    VirtualPort(const VirtualPort&) = delete;
    VirtualPort& operator=(const VirtualPort&) = delete;

    int fd() const { return master_; }  // the matrix's end
    const std::string& link() const { return link_; }

private:
    int master_ = -1;
    int slave_ = -1;  // held open so the line stays up between the library's opens
    std::string link_;
};

}  // namespace matrixsim
