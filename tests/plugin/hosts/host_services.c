/* A host module for the tests: which services it exports is chosen at
 * compile time. Frame_GetWorkPath answers $TARVELO_TEST_WORK_PATH, or a null
 * pointer when that is unset; Frame_HaveRight answers $TARVELO_TEST_RIGHT. */
#include <stdint.h>
#include <stdlib.h>

#define SERVICE __attribute__((visibility("default")))

#ifdef EXPORT_SERVICES
SERVICE void Frame_ExecSqlCmd(void) {}
#ifdef MAIN_FORM_HANDLE_NAME
SERVICE void Frame_GetMainFormHandle(void) {}
#else
SERVICE void Frame_GetMainHandle(void) {}
#endif
SERVICE int32_t Frame_HaveRight(int32_t right)
{
    const char *answer = getenv("TARVELO_TEST_RIGHT");
    (void)right;
    return answer ? (int32_t)atoi(answer) : 1;
}
SERVICE void Frame_GetImageByID(void) {}
SERVICE void Frame_AddSystemLog(void) {}
SERVICE const char *Frame_GetWorkPath(void)
{
    return getenv("TARVELO_TEST_WORK_PATH");
}
#else
SERVICE int host_without_services(void) { return 0; }
#endif
