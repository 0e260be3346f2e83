#pragma once
// The errors of the capture component when its driver cannot be opened.

#include <stdexcept>

namespace tarvelo {

class ENoDriverException : public std::runtime_error {
public:
    ENoDriverException() : std::runtime_error("No capture driver selected") {}
};

class ENoCapWindowException : public std::runtime_error {
public:
    ENoCapWindowException() : std::runtime_error("Can not create capture window") {}
};

class ENotConnectException : public std::runtime_error {
public:
    ENotConnectException() : std::runtime_error("Can not connect capture driver with capture window") {}
};

class ENoOverlayException : public std::runtime_error {
public:
    ENoOverlayException() : std::runtime_error("Driver has no overlay mode") {}
};

}  // namespace tarvelo
