#pragma once
// The ASCII commands of the video matrix. A command has no framing: no
// start or end character, no line end, no checksum, no address.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvelo {

// Camera C to monitor M: M "Ma" C "#a", numbers in plain decimal.
std::string SwitchCommand(int32_t monitor, int32_t camera);

enum class HeadButton { Up, Down, Left, Right, ZoomIn, ZoomOut, FocusIn, FocusOut, ApertureIn, ApertureOut };

struct HeadFunction {
    HeadButton button;
    char letter;       // the function letter on the line
    const char* name;  // what the movement is called
};

inline constexpr std::array<HeadFunction, 10> HeadFunctions{{
    {HeadButton::Up, 'U', "tilt up"},
    {HeadButton::Down, 'D', "tilt down"},
    {HeadButton::Left, 'L', "pan left"},
    {HeadButton::Right, 'R', "pan right"},
    {HeadButton::ZoomIn, 'T', "zoom in"},
    {HeadButton::ZoomOut, 'W', "zoom out"},
    {HeadButton::FocusIn, 'N', "focus in"},
    {HeadButton::FocusOut, 'F', "focus out"},
    {HeadButton::ApertureIn, 'O', "aperture in"},
    {HeadButton::ApertureOut, 'C', "aperture out"},
}};

// "1" start or "0" stop, the function letter, "a": "1Ua", "0Ua", ...
std::string HeadCommand(HeadButton button, bool start);

std::optional<HeadFunction> HeadFunctionOfLetter(char letter);

}  // namespace tarvelo
