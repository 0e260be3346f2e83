#pragma once
// Serial lines for tests: a pseudo-terminal whose port side is linked as
// COMn in a private ports directory named by TARVELO_COMPORTS.

#include <chrono>
#include <string>

namespace tarvelo::test {

class PortsDir {
public:
    PortsDir();   // creates the directory and points TARVELO_COMPORTS at it
    ~PortsDir();  // removes both
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class PseudoTerminal {
public:
    PseudoTerminal(const PortsDir& dir, int number);  // links DIR/COM<number>
    ~PseudoTerminal();

    int master() const { return master_; }
    const std::string& portName() const { return portName_; }

    // Waits until `count` bytes came from the port side, or the time is up.
    std::string read(size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
    // Whatever arrives within `quiet` of silence.
    std::string drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
    void write(const std::string& bytes);
    void closeMaster();

private:
    int master_ = -1;
    std::string portName_;
    std::string link_;
};

}  // namespace tarvelo::test
