/* A host with no Qt of its own: loads libtarvelo.so with dlopen, as a real
 * host does, and calls every export. Message boxes are recorded through
 * TARVELO_MESSAGE_LOG, since nobody can close them here.
 *
 * usage: c_host LIBRARY HOST_ALL HOST_NONE HOST_FORMHANDLE MESSAGE_LOG */
#include "tarvelo.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int passed, failed;

#define CHECK(cond)                                                     \
    do {                                                                \
        if (cond) {                                                     \
            ++passed;                                                   \
        } else {                                                        \
            ++failed;                                                   \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                               \
    } while (0)

struct exports {
    void *lib;
    bool (*init)(TarveloWindow, int32_t, TarveloModule, int32_t);
    void (*setAdoString)(const char *);
    void (*setParam)(const char *, const char *);
    void (*execFunc)(int32_t);
    void (*freeChild)(void);
    bool (*freeAll)(void);
    void (*switchToTV)(int32_t);
    void (*switchToMonitor)(int32_t);
    void (*capturePicture)(void);
};

static void *must_sym(void *lib, const char *name)
{
    void *p = dlsym(lib, name);
    CHECK(p != NULL);
    return p;
}

static struct exports load(const char *path)
{
    struct exports e;
    memset(&e, 0, sizeof e);
    e.lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!e.lib) {
        fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        exit(2);
    }
    *(void **)&e.init = must_sym(e.lib, "Frame_Init");
    *(void **)&e.setAdoString = must_sym(e.lib, "Frame_SetAdoString");
    *(void **)&e.setParam = must_sym(e.lib, "Frame_SetParam");
    *(void **)&e.execFunc = must_sym(e.lib, "Frame_ExecFunc");
    *(void **)&e.freeChild = must_sym(e.lib, "Frame_FreeChild");
    *(void **)&e.freeAll = must_sym(e.lib, "Frame_FreeAll");
    *(void **)&e.switchToTV = must_sym(e.lib, "Video_SwitchToTV");
    *(void **)&e.switchToMonitor = must_sym(e.lib, "Video_SwitchToMonitor");
    *(void **)&e.capturePicture = must_sym(e.lib, "Video_CapturePicture");
    return e;
}

static void *open_module(const char *path)
{
    void *m = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!m) {
        fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        exit(2);
    }
    return m;
}

/* Lines the library wrote to the message log since the last call. */
static int read_messages(const char *log, char lines[][256], int max)
{
    FILE *f = fopen(log, "r");
    int n = 0;
    if (!f)
        return 0;
    while (n < max && fgets(lines[n], 256, f)) {
        lines[n][strcspn(lines[n], "\n")] = 0;
        ++n;
    }
    fclose(f);
    remove(log);
    return n;
}

static void call_every_export(struct exports *e)
{
    /* GBK for "张三" and a string that is not valid GBK. */
    e->setAdoString("Provider=SQLite;Data Source=test.db");
    e->setAdoString(NULL);
    e->setParam("\xD5\xC5\xC8\xFD", "extra");
    e->setParam(NULL, NULL);
    e->setParam("\xFF\x81", "\x81");
    e->execFunc(0);
    e->execFunc(1);
    e->execFunc(2);
    e->execFunc(3);
    e->execFunc(4);
    e->execFunc(-1);
    e->switchToTV(5);
    e->switchToMonitor(12);
    e->capturePicture();
    e->freeChild();
    CHECK(e->freeAll() == true);
    CHECK(e->freeAll() == true);
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: c_host LIBRARY HOST_ALL HOST_NONE HOST_FORMHANDLE MESSAGE_LOG\n");
        return 2;
    }
    const char *log = argv[5];
    char lines[16][256];
    setenv("TARVELO_MESSAGE_LOG", log, 1);
    remove(log);
    void *hostAll = open_module(argv[2]);
    void *hostNone = open_module(argv[3]);
    void *hostFormHandle = open_module(argv[4]);

    for (int round = 0; round < 2; ++round) {
        struct exports e = load(argv[1]);

        setenv("TARVELO_TEST_WORK_PATH", "/srv/cctv", 1);
        CHECK(e.init(0, 0, hostAll, 0) == true);
        CHECK(read_messages(log, lines, 16) == 0);

        unsetenv("TARVELO_TEST_WORK_PATH"); /* Frame_GetWorkPath answers NULL */
        CHECK(e.init(0, 0, hostAll, 0) == true);
        CHECK(read_messages(log, lines, 16) == 0);

        CHECK(e.init(0, 0, hostNone, 0) == false);
        CHECK(read_messages(log, lines, 16) == 6);
        CHECK(strcmp(lines[0], "没有发现主程序中的Frame_ExecSqlCmd函数") == 0);
        CHECK(strcmp(lines[1], "没有发现主程序中的Frame_GetMainFormHandle函数") == 0);
        CHECK(strcmp(lines[2], "没有发现主程序中的Frame_HaveRight函数") == 0);
        CHECK(strcmp(lines[3], "没有发现主程序中的Frame_GetImageByID函数") == 0);
        CHECK(strcmp(lines[4], "没有发现主程序中的Frame_AddSystemLog函数") == 0);
        CHECK(strcmp(lines[5], "没有发现主程序中的Frame_GetWorkPath函数") == 0);

        CHECK(e.init(0, 0, hostFormHandle, 0) == false);
        CHECK(read_messages(log, lines, 16) == 1);
        CHECK(strcmp(lines[0], "没有发现主程序中的Frame_GetMainFormHandle函数") == 0);

        CHECK(e.init(0, 0, NULL, 0) == false);
        CHECK(read_messages(log, lines, 16) == 6);

        CHECK(e.init(0x1234, 0, hostAll, 0) == true);
        call_every_export(&e);
        /* The picture query has no connection string to read from. */
        CHECK(read_messages(log, lines, 16) == 1);
        CHECK(strcmp(lines[0], "cannot use the connection string: no connection string was given") == 0);
        CHECK(dlclose(e.lib) == 0);
    }

    dlclose(hostFormHandle);
    dlclose(hostNone);
    dlclose(hostAll);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
