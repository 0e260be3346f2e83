#pragma once
// The six services a host program exports for the library, with the answers
// this stand-in host gives.

#include <QString>
#include <cstdint>

namespace host {

struct ServiceAnswers {
    int32_t right = 1;           // what Frame_HaveRight answers
    QString workPath;            // what Frame_GetWorkPath answers
    bool nullWorkPath = false;   // answer a null pointer instead
};

void setServiceAnswers(const ServiceAnswers& answers);

}  // namespace host
