/* win32-host: a host program as the monitoring system's is, with no Qt of
 * its own. It makes its main window, exports the six host services from
 * its own executable, loads Tarvelo.dll with LoadLibrary and runs its own
 * GetMessage/DispatchMessage loop, in which the steps given on its command
 * line run one after the other:
 *
 *   win32-host [-l LIBRARY] STEP...
 *
 *   load, unload[=mapped]         LoadLibrary / FreeLibrary (an export loads it first);
 *                                 unload fails when the library stays mapped,
 *                                 unload=mapped says so and goes on
 *   exit                          returns from main at once, without Frame_FreeAll
 *                                 or FreeLibrary, as a host that crashes out or
 *                                 forgets them
 *   misalign                      the exports after it are called with the stack
 *                                 4 bytes off 16, as by a host whose compiler
 *                                 keeps only 4 (i686; x86-64's convention has none)
 *   Frame_Init[=self|none|null]   host module: this program, one without the
 *                                 services (kernel32), or none
 *   Frame_SetAdoString=TEXT  Frame_SetParam=OPERATOR[,EXTRA]  Frame_ExecFunc=N
 *   Frame_FreeChild  Frame_FreeAll  Video_SwitchToTV=N  Video_SwitchToMonitor=N
 *   Video_CapturePicture
 *   now:EXPORT[=...]  calls the export even inside another call (a modal
 *                   window's loop), as a host timer would
 *   wait=MS         lets the loop run
 *   await=TITLE     until a window of this process has that title
 *   awaitfile=PATH  until that file exists (another program's go-ahead)
 *   close=TITLE     asks that window to close (as its close box does)
 *   windows         prints each visible window of ours: title, place, owner
 *   enabled         prints whether the host's main window takes input
 *   memory          prints the most memory the process has held (its peak
 *                   working set and committed bytes), in MB
 *   dpi             prints the thread's DPI awareness (0 unaware, 1 system,
 *                   2 per monitor, -1 unknown)
 *   shot=FILE.bmp   the whole screen, 24 bits
 *   key=COMBO       a key as the user presses it, to the active window:
 *                   [ctrl+][shift+][alt+]KEY, KEY a letter, a digit, or one of
 *                   enter tab esc space up down left right home end back del
 *   type=TEXT       the characters of TEXT, as typed
 *   press=TITLE,X,Y, release=TITLE,X,Y
 *                   the left mouse button down or up at X,Y of that window's
 *                   client area (a negative X counts from its right edge)
 *
 * Text arguments are turned into code page 936, as a Chinese host's are.
 * An export may open a modal window; the steps after it run inside it.
 * Each result is printed; a step that cannot be done ends the run with 1. */
#include "tarvelo.h"

#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#define STEP_LIMIT_MS 10000
#define TICK_MS 20

typedef bool(TARVELO_API *init_t)(TarveloWindow, int32_t, TarveloModule, int32_t);
typedef void(TARVELO_API *text_t)(const char *);
typedef void(TARVELO_API *two_texts_t)(const char *, const char *);
typedef void(TARVELO_API *number_t)(int32_t);
typedef void(TARVELO_API *plain_t)(void);
typedef bool(TARVELO_API *answer_t)(void);
typedef void (*any_function_t)(void); /* what a function pointer is cast through */

static const wchar_t *library_path = L"Tarvelo.dll";
static HMODULE library;
static HWND main_window;
static wchar_t **steps;
static int step_count, next_step, call_depth, leave_loaded;
static DWORD wait_until, step_started;
static char work_path[MAX_PATH * 2];

/* The six services. Only Frame_HaveRight and Frame_GetWorkPath are called. */
__declspec(dllexport) void Frame_ExecSqlCmd(void) {}
__declspec(dllexport) void Frame_GetMainHandle(void) {}
__declspec(dllexport) void Frame_GetImageByID(void) {}
__declspec(dllexport) void Frame_AddSystemLog(void) {}
__declspec(dllexport) int32_t TARVELO_API Frame_HaveRight(int32_t right)
{
    return right == 5 ? 1 : 0;
}
__declspec(dllexport) const char *Frame_GetWorkPath(void)
{
    return work_path;
}

static void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

/* Output is UTF-8 whatever the console's code page. */
static const char *utf8(const wchar_t *text)
{
    static char bytes[4][1024];
    static int next;
    char *out = bytes[next++ % 4];
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 1024, NULL, NULL))
        out[0] = 0;
    return out;
}

static void fail(const char *why)
{
    say("step %d (%s) failed: %s", next_step + 1, utf8(steps[next_step]), why);
    fflush(stdout);
    ExitProcess(1);
}

static char *gbk(const wchar_t *text)
{
    int n = WideCharToMultiByte(936, 0, text, -1, NULL, 0, NULL, NULL);
    char *bytes = malloc(n > 0 ? (size_t)n : 1);
    if (n <= 0 || !WideCharToMultiByte(936, 0, text, -1, bytes, n, NULL, NULL))
        bytes[0] = 0;
    return bytes;
}

static any_function_t export_named(const char *name)
{
    if (!library) {
        library = LoadLibraryW(library_path);
        if (!library)
            fail("the library does not load");
    }
    any_function_t f = (any_function_t)GetProcAddress(library, name);
    if (!f)
        fail("the library lacks that export");
    return f;
}

struct found_window {
    const wchar_t *title;
    HWND window;
};

static BOOL CALLBACK match_title(HWND window, LPARAM data)
{
    struct found_window *found = (struct found_window *)data;
    DWORD process = 0;
    wchar_t title[256];
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || window == main_window)
        return TRUE;
    GetWindowTextW(window, title, 256);
    if (wcscmp(title, found->title) == 0) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

static HWND window_titled(const wchar_t *title)
{
    struct found_window found = {title, NULL};
    EnumWindows(match_title, (LPARAM)&found);
    return found.window;
}

static BOOL CALLBACK print_window(HWND window, LPARAM unused)
{
    (void)unused;
    DWORD process = 0;
    wchar_t title[256];
    RECT place;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || window == main_window)
        return TRUE;
    GetWindowTextW(window, title, 256);
    GetWindowRect(window, &place);
    HWND owner = GetWindow(window, GW_OWNER);
    say("window \"%s\" at %ld,%ld size %ldx%ld owner %s", utf8(title), place.left, place.top, place.right - place.left,
        place.bottom - place.top, owner == main_window ? "host" : owner ? "other" : "none");
    return TRUE;
}

static int write_screen(const wchar_t *file)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    int stride = (width * 3 + 3) & ~3;
    BITMAPINFO info = {0};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *bits = NULL;
    HDC screen = GetDC(NULL), memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    BITMAPFILEHEADER head = {0};
    head.bfType = 0x4D42;
    head.bfOffBits = sizeof head + sizeof info.bmiHeader;
    head.bfSize = head.bfOffBits + (DWORD)(stride * height);
    FILE *out = _wfopen(file, L"wb");
    int ok = out && fwrite(&head, sizeof head, 1, out) == 1 &&
             fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             fwrite(bits, (size_t)stride, (size_t)height, out) == (size_t)height;
    if (out)
        ok = fclose(out) == 0 && ok;
    SelectObject(memory, old);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return ok;
}

static void add_key(INPUT *inputs, int *count, WORD vk, wchar_t unicode, int up)
{
    INPUT *in = &inputs[(*count)++];
    memset(in, 0, sizeof *in);
    in->type = INPUT_KEYBOARD;
    in->ki.wVk = vk;
    in->ki.wScan = unicode;
    in->ki.dwFlags = (unicode ? KEYEVENTF_UNICODE : 0) | (up ? KEYEVENTF_KEYUP : 0);
}

static WORD virtual_key(const wchar_t *name)
{
    static const struct { const wchar_t *name; WORD vk; } named[] = {
        {L"enter", VK_RETURN}, {L"tab", VK_TAB}, {L"esc", VK_ESCAPE}, {L"space", VK_SPACE}, {L"up", VK_UP},
        {L"down", VK_DOWN},    {L"left", VK_LEFT}, {L"right", VK_RIGHT}, {L"home", VK_HOME}, {L"end", VK_END},
        {L"back", VK_BACK},    {L"del", VK_DELETE}};
    for (size_t i = 0; i < sizeof named / sizeof *named; ++i)
        if (wcscmp(name, named[i].name) == 0)
            return named[i].vk;
    if (wcslen(name) == 1 && iswalnum(name[0]))
        return (WORD)towupper(name[0]);
    return 0;
}

/* Modifiers down, the key down and up, modifiers up. */
static int press_combo(const wchar_t *combo)
{
    static const struct { const wchar_t *prefix; WORD vk; } modifiers[] = {
        {L"ctrl+", VK_CONTROL}, {L"shift+", VK_SHIFT}, {L"alt+", VK_MENU}};
    INPUT inputs[16];
    WORD held[3];
    int count = 0, holding = 0;
    for (int again = 1; again;) {
        again = 0;
        for (size_t i = 0; i < 3; ++i) {
            size_t n = wcslen(modifiers[i].prefix);
            if (wcsncmp(combo, modifiers[i].prefix, n) == 0) {
                held[holding++] = modifiers[i].vk;
                add_key(inputs, &count, modifiers[i].vk, 0, 0);
                combo += n;
                again = 1;
            }
        }
    }
    WORD vk = virtual_key(combo);
    if (!vk)
        return 0;
    add_key(inputs, &count, vk, 0, 0);
    add_key(inputs, &count, vk, 0, 1);
    while (holding > 0)
        add_key(inputs, &count, held[--holding], 0, 1);
    return SendInput((UINT)count, inputs, sizeof *inputs) == (UINT)count;
}

static int type_text(const wchar_t *text)
{
    for (; *text; ++text) {
        INPUT inputs[2];
        int count = 0;
        add_key(inputs, &count, 0, *text, 0);
        add_key(inputs, &count, 0, *text, 1);
        if (SendInput(2, inputs, sizeof *inputs) != 2)
            return 0;
    }
    return 1;
}

/* "TITLE,X,Y": the point on the screen, false when there is no such window. */
static int window_point(const wchar_t *argument, POINT *point)
{
    wchar_t title[256];
    const wchar_t *comma = wcschr(argument, L',');
    if (!comma || comma - argument >= 256)
        return 0;
    wcsncpy(title, argument, (size_t)(comma - argument));
    title[comma - argument] = 0;
    HWND window = window_titled(title);
    RECT client;
    if (!window || !GetClientRect(window, &client))
        return 0;
    int x = _wtoi(comma + 1), y = 0;
    const wchar_t *second = wcschr(comma + 1, L',');
    if (second)
        y = _wtoi(second + 1);
    point->x = x < 0 ? client.right + x : x;
    point->y = y;
    return ClientToScreen(window, point);
}

static int mouse_button(const wchar_t *argument, int down)
{
    POINT point;
    if (!window_point(argument, &point))
        return 0;
    SetCursorPos(point.x, point.y);
    INPUT in;
    memset(&in, 0, sizeof in);
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    return SendInput(1, &in, sizeof in) == 1;
}

static TarveloModule host_module(const wchar_t *which)
{
    if (!which || wcscmp(which, L"self") == 0)
        return GetModuleHandleW(NULL);
    if (wcscmp(which, L"none") == 0)
        return GetModuleHandleW(L"kernel32.dll");
    return NULL;
}

/* Looked up at run time: these came with Windows 10. */
static int dpi_awareness(void)
{
    typedef void *(WINAPI * context_t)(void);
    typedef int(WINAPI * awareness_t)(void *);
    HMODULE user = GetModuleHandleW(L"user32.dll");
    context_t context = (context_t)(any_function_t)GetProcAddress(user, "GetThreadDpiAwarenessContext");
    awareness_t awareness = (awareness_t)(any_function_t)GetProcAddress(user, "GetAwarenessFromDpiAwarenessContext");
    return context && awareness ? awareness(context()) : -1;
}

struct export_call {
    const char *name;
    const wchar_t *argument;
    any_function_t function;
};

static void __attribute__((noinline)) run_export(void *data)
{
    const struct export_call *call = data;
    any_function_t f = call->function;
    const char *name = call->name;
    const wchar_t *argument = call->argument;
    if (strcmp(name, "Frame_Init") == 0) {
        bool found = ((init_t)f)((TarveloWindow)main_window, 0, host_module(argument), 0);
        say("Frame_Init: %d", found);
    } else if (strcmp(name, "Frame_SetAdoString") == 0) {
        char *text = gbk(argument ? argument : L"");
        ((text_t)f)(text);
        free(text);
    } else if (strcmp(name, "Frame_SetParam") == 0) {
        const wchar_t *comma = argument ? wcschr(argument, L',') : NULL;
        wchar_t operator_name[256] = L"";
        if (argument)
            wcsncpy(operator_name, argument, comma ? (size_t)(comma - argument) : 255);
        char *first = gbk(operator_name), *second = gbk(comma ? comma + 1 : L"");
        ((two_texts_t)f)(first, second);
        free(first);
        free(second);
    } else if (strcmp(name, "Frame_FreeAll") == 0) {
        say("Frame_FreeAll: %d", ((answer_t)f)());
    } else if (argument) {
        ((number_t)f)((int32_t)_wtoi(argument));
    } else {
        ((plain_t)f)();
    }
}

#if defined(__i386__)
static int misaligned_calls;

/* Calls run(data) with the stack pointer 4 bytes off the 16 that GCC keeps
 * at a call; run, compiled as if it were aligned, passes the offset on to
 * the export it calls. */
static void call_misaligned(void (*run)(void *), void *data)
{
    __asm__ volatile("movl %%esp, %%esi\n\t"
                     "andl $-16, %%esp\n\t"
                     "subl $8, %%esp\n\t"
                     "pushl %1\n\t"
                     "call *%0\n\t"
                     "movl %%esi, %%esp"
                     :
                     : "b"(run), "D"(data)
                     : "esi", "eax", "ecx", "edx", "memory", "cc");
}
#endif

/* The exports. Each is called with the step counted as running, so that
 * steps coming from a modal loop inside it know they are nested. */
static void call_export(const char *name, const wchar_t *argument)
{
    struct export_call call = {name, argument, export_named(name)};
    ++next_step;
    ++call_depth;
#if defined(__i386__)
    if (misaligned_calls)
        call_misaligned(run_export, &call);
    else
#endif
        run_export(&call);
    --call_depth;
    say("%s returned", name);
}

static const char *const export_names[] = {"Frame_Init",       "Frame_SetAdoString", "Frame_SetParam",
                                           "Frame_ExecFunc",   "Frame_FreeChild",    "Frame_FreeAll",
                                           "Video_SwitchToTV", "Video_SwitchToMonitor", "Video_CapturePicture"};

/* Inside a call (a modal window's loop, or the library processing its
 * messages) only the steps that look and close run; the others wait for
 * the call to return. */
static int wait_for_call(void)
{
    if (GetTickCount() - step_started > STEP_LIMIT_MS)
        fail("the call before it did not return");
    return 1;
}

/* Runs the next step, or finds it must wait; false when the run is over. */
static int run_next_step(void)
{
    if (GetTickCount() < wait_until)
        return 1;
    if (next_step >= step_count) {
        return call_depth > 0 ? wait_for_call() : 0;
    }
    wchar_t name[64];
    const wchar_t *step = steps[next_step], *equals = wcschr(step, L'=');
    int nested = wcsncmp(step, L"now:", 4) == 0;
    if (nested)
        step += 4;
    const wchar_t *argument = equals ? equals + 1 : NULL;
    size_t length = equals ? (size_t)(equals - step) : wcslen(step);
    wcsncpy(name, step, length < 63 ? length : 63);
    name[length < 63 ? length : 63] = 0;
    for (size_t i = 0; i < sizeof export_names / sizeof *export_names; ++i) {
        wchar_t wide[64];
        MultiByteToWideChar(CP_ACP, 0, export_names[i], -1, wide, 64);
        if (wcscmp(name, wide) == 0) {
            if (call_depth > 0 && !nested)
                return wait_for_call();
            step_started = GetTickCount();
            call_export(export_names[i], argument);
            return 1;
        }
    }
    if (wcscmp(name, L"wait") == 0) {
        wait_until = GetTickCount() + (DWORD)_wtoi(argument ? argument : L"0");
    } else if (call_depth > 0 && (wcscmp(name, L"load") == 0 || wcscmp(name, L"unload") == 0)) {
        return wait_for_call();
    } else if (wcscmp(name, L"load") == 0) {
        export_named("Frame_Init");
    } else if (wcscmp(name, L"unload") == 0) {
        wchar_t path[MAX_PATH];
        if (!library || !FreeLibrary(library))
            fail("the library was not loaded");
        int mapped = GetModuleFileNameW(library, path, MAX_PATH) != 0;
        if (mapped && !(argument && wcscmp(argument, L"mapped") == 0))
            fail("the library stays mapped after FreeLibrary");
        library = NULL;
        say(mapped ? "freed, still mapped" : "unloaded");
    } else if (wcscmp(name, L"misalign") == 0) {
#if defined(__i386__)
        misaligned_calls = 1;
        say("exports are called with the stack 4 bytes off");
#else
        say("x86-64 keeps the stack aligned at every call: nothing to misalign");
#endif
    } else if (wcscmp(name, L"await") == 0 || wcscmp(name, L"close") == 0) {
        HWND window = window_titled(argument ? argument : L"");
        if (!window) {
            if (GetTickCount() - step_started > STEP_LIMIT_MS)
                fail("no such window");
            return 1;
        }
        if (name[0] == L'c')
            PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (wcscmp(name, L"awaitfile") == 0) {
        if (GetFileAttributesW(argument ? argument : L"") == INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount() - step_started > STEP_LIMIT_MS)
                fail("no such file");
            return 1;
        }
    } else if (wcscmp(name, L"exit") == 0) {
        if (call_depth > 0)
            return wait_for_call();
        leave_loaded = 1;
        next_step = step_count;
        say("leaving with the library loaded");
        return 0;
    } else if (wcscmp(name, L"enabled") == 0) {
        say("host window enabled: %d", IsWindowEnabled(main_window) ? 1 : 0);
    } else if (wcscmp(name, L"memory") == 0) {
        PROCESS_MEMORY_COUNTERS counters;
        ZeroMemory(&counters, sizeof counters);
        counters.cb = sizeof counters;
        if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
            fail("the process's memory cannot be read");
        say("peak memory: %lu MB working set, %lu MB committed", (unsigned long)(counters.PeakWorkingSetSize >> 20),
            (unsigned long)(counters.PeakPagefileUsage >> 20));
    } else if (wcscmp(name, L"dpi") == 0) {
        say("dpi awareness: %d", dpi_awareness());
    } else if (wcscmp(name, L"windows") == 0) {
        EnumWindows(print_window, 0);
    } else if (wcscmp(name, L"key") == 0) {
        if (!press_combo(argument ? argument : L""))
            fail("no such key");
    } else if (wcscmp(name, L"type") == 0) {
        if (!type_text(argument ? argument : L""))
            fail("the keys were not taken");
    } else if (wcscmp(name, L"press") == 0 || wcscmp(name, L"release") == 0) {
        if (!mouse_button(argument ? argument : L"", name[0] == L'p')) {
            if (GetTickCount() - step_started > STEP_LIMIT_MS)
                fail("no such window");
            return 1;
        }
    } else if (wcscmp(name, L"shot") == 0) {
        if (!write_screen(argument ? argument : L"shot.bmp"))
            fail("the screen could not be written");
    } else {
        fail("unknown step");
    }
    ++next_step;
    step_started = GetTickCount();
    return 1;
}

static LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_TIMER) {
        if (!run_next_step() && call_depth == 0)
            PostQuitMessage(0);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

int wmain(int argc, wchar_t **argv)
{
    int first = 1;
    if (argc > 2 && wcscmp(argv[1], L"-l") == 0) {
        library_path = argv[2];
        first = 3;
    }
    steps = argv + first;
    step_count = argc - first;
    GetCurrentDirectoryA(sizeof work_path, work_path);

    WNDCLASSW kind = {0};
    kind.lpfnWndProc = main_window_proc;
    kind.hInstance = GetModuleHandleW(NULL);
    kind.hCursor = LoadCursor(NULL, IDC_ARROW);
    kind.hbrBackground = (HBRUSH)(COLOR_APPWORKSPACE + 1);
    kind.lpszClassName = L"Win32HostMain";
    RegisterClassW(&kind);
    main_window = CreateWindowW(L"Win32HostMain", L"win32-host", WS_OVERLAPPEDWINDOW, 0, 0, 1024, 740, NULL, NULL,
                                kind.hInstance, NULL);
    ShowWindow(main_window, SW_SHOWNORMAL);
    step_started = GetTickCount();
    SetTimer(main_window, 1, TICK_MS, NULL);

    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (library && !leave_loaded)
        FreeLibrary(library);
    say("host done");
    return 0;
}
