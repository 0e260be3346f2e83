/* The console through the exported interface, from a host with no Qt of
 * its own: the matrix commands the exports put on a pseudo-terminal line,
 * and the line opened again by a new console while its far end stays open.
 * Run as an ordinary user too: the line's exclusive mode must not outlive
 * the console that set it.
 *
 * usage: console_c_host LIBRARY HOST_ALL */
#define _GNU_SOURCE
#include "tarvelo.h"

#include <dlfcn.h>
#include <errno.h>
#include <iconv.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int failed;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            ++failed;                                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
        }                                                                            \
    } while (0)

/* The settings file holds GBK; this source holds UTF-8. */
static void write_settings(const char *utf8)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    char out[1024];
    char *in = (char *)utf8, *o = out;
    size_t inLeft = strlen(utf8), outLeft = sizeof out;
    CHECK(cd != (iconv_t)-1 && iconv(cd, &in, &inLeft, &o, &outLeft) != (size_t)-1);
    iconv_close(cd);
    FILE *f = fopen("Tarvelo.ini", "wb");
    fwrite(out, 1, (size_t)(o - out), f);
    fclose(f);
}

/* What arrives at the matrix's end within two seconds, up to `count` bytes. */
static void expect_line(int master, const char *wanted)
{
    char got[64] = {0};
    size_t have = 0, count = strlen(wanted);
    while (have < count) {
        struct pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            break;
        ssize_t n = read(master, got + have, count - have);
        if (n <= 0)
            break;
        have += (size_t)n;
    }
    if (strcmp(got, wanted) != 0) {
        ++failed;
        fprintf(stderr, "line: wanted \"%s\", got \"%s\"\n", wanted, got);
    }
}

static void *sym(void *lib, const char *name)
{
    void *p = dlsym(lib, name);
    if (!p) {
        fprintf(stderr, "no %s\n", name);
        exit(2);
    }
    return p;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: console_c_host LIBRARY HOST_ALL\n");
        return 2;
    }
    char dir[] = "/tmp/tarvelo-console-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0 || mkdir("ports", 0700) != 0)
        return 2;
    int master, slave;
    char name[256];
    if (openpty(&master, &slave, name, NULL, NULL) != 0)
        return 2;
    close(slave);
    if (symlink(name, "ports/COM4") != 0)
        return 2;
    char ports[300];
    snprintf(ports, sizeof ports, "%s/ports", dir);
    setenv("TARVELO_COMPORTS", ports, 1);
    setenv("TARVELO_MESSAGE_LOG", "messages.log", 1);
    write_settings("[串口]\r\n串口号=4\r\n波特率=9600\r\n数据位=8\r\n校验位=n\r\n停止位=1\r\n"
                   "[视频端口]\r\n本机=1\r\n主监视器=2\r\n");

    void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    void *host = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    if (!lib || !host) {
        fprintf(stderr, "cannot load: %s\n", dlerror());
        return 2;
    }
    bool (*init)(TarveloWindow, int32_t, TarveloModule, int32_t) = sym(lib, "Frame_Init");
    void (*execFunc)(int32_t) = sym(lib, "Frame_ExecFunc");
    bool (*freeAll)(void) = sym(lib, "Frame_FreeAll");
    void (*switchToTV)(int32_t) = sym(lib, "Video_SwitchToTV");
    void (*switchToMonitor)(int32_t) = sym(lib, "Video_SwitchToMonitor");

    CHECK(init(0, 0, host, 0));
    switchToTV(5);
    expect_line(master, "2Ma5#a");
    switchToMonitor(7);
    expect_line(master, "1Ma7#a");
    CHECK(freeAll());

    execFunc(1); /* a new console opens the line again, its far end still open */
    switchToTV(8);
    expect_line(master, "2Ma8#a");
    CHECK(freeAll());

    dlclose(lib);
    dlclose(host);
    close(master);
    unlink("ports/COM4");
    rmdir("ports");
    unlink("Tarvelo.ini");
    unlink("messages.log");
    (void)system("rm -rf CapPicture");
    if (chdir("/") == 0)
        rmdir(dir);
    if (failed)
        fprintf(stderr, "%d checks failed\n", failed);
    return failed ? 1 : 0;
}
