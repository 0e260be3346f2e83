#include "matrix/MatrixProtocol.h"

namespace tarvelo {

std::string SwitchCommand(int32_t monitor, int32_t camera)
{
    return std::to_string(monitor) + "Ma" + std::to_string(camera) + "#a";
}

std::string HeadCommand(HeadButton button, bool start)
{
    for (const HeadFunction& f : HeadFunctions) {
        if (f.button == button)
            return std::string{start ? '1' : '0', f.letter, 'a'};
    }
    return {};
}

std::optional<HeadFunction> HeadFunctionOfLetter(char letter)
{
    for (const HeadFunction& f : HeadFunctions) {
        if (f.letter == letter)
            return f;
    }
    return std::nullopt;
}

}  // namespace tarvelo
