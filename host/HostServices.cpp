#include "HostServices.h"

#include "framework/GbkText.h"
#include "tarvelo.h"

#include <cstdio>
#include <string>

namespace host {
namespace {

ServiceAnswers answers;
std::string workPathGbk;

}  // namespace

void setServiceAnswers(const ServiceAnswers& a)
{
    answers = a;
    workPathGbk = tarvelo::toGbk(a.workPath);
}

}  // namespace host

// Exported from the program by name; the library finds them with dlsym
// (GetProcAddress on Windows) on the module handle it is given.
#ifdef _WIN32
#define HOST_SERVICE extern "C" __declspec(dllexport)
#else
#define HOST_SERVICE extern "C" __attribute__((visibility("default")))
#endif

HOST_SERVICE int32_t TARVELO_API Frame_HaveRight(int32_t right)
{
    std::printf("host: Frame_HaveRight(%d) -> %d\n", right, host::answers.right);
    std::fflush(stdout);
    return host::answers.right;
}

HOST_SERVICE const char* Frame_GetWorkPath(void)
{
    std::printf("host: Frame_GetWorkPath() -> %s\n",
                host::answers.nullWorkPath ? "(null)" : host::answers.workPath.toUtf8().constData());
    std::fflush(stdout);
    return host::answers.nullWorkPath ? nullptr : host::workPathGbk.c_str();
}

// Looked up by the library and never called; a real host has its own.
HOST_SERVICE void Frame_ExecSqlCmd(void) {}
HOST_SERVICE void Frame_GetMainHandle(void) {}
HOST_SERVICE void Frame_GetImageByID(void) {}
HOST_SERVICE void Frame_AddSystemLog(void) {}
