/* Tarvelo: the video plug-in library of a camera-monitoring workstation.
 *
 * The host loads libtarvelo.so (Tarvelo.dll on Windows), calls Frame_Init once
 * with its application window and its module, then drives the library through
 * the nine functions below. All text is zero-terminated GBK (code page 936).
 * Every function must be called on the host's user-interface thread.
 */
#ifndef TARVELO_H
#define TARVELO_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TARVELO_API __stdcall
#else
#define TARVELO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A native window id: an X11 window on Linux, an HWND on Windows, 0 for none. */
typedef uintptr_t TarveloWindow;

/* The host module: a dlopen() handle (an HMODULE on Windows). */
typedef void *TarveloModule;

/* Plug-in management. */
bool TARVELO_API Frame_Init(TarveloWindow appWindow, int32_t reserved1,
                            TarveloModule hostModule, int32_t reserved2);
void TARVELO_API Frame_SetAdoString(const char *connectionString);
void TARVELO_API Frame_SetParam(const char *operatorName, const char *extraParam);
/* 1 video console (modeless), 2 picture query window (modal), 3 playback window (modal). */
void TARVELO_API Frame_ExecFunc(int32_t function);
void TARVELO_API Frame_FreeChild(void);
bool TARVELO_API Frame_FreeAll(void);

/* Video operations. */
void TARVELO_API Video_SwitchToTV(int32_t camera);
void TARVELO_API Video_SwitchToMonitor(int32_t camera);
void TARVELO_API Video_CapturePicture(void);

/* Services the host exports by these names; the library looks them up in the
 * module given to Frame_Init. It calls only the two whose types are fixed. */
typedef int32_t(TARVELO_API *Frame_HaveRight_t)(int32_t right); /* 1 grants */
typedef const char *(*Frame_GetWorkPath_t)(void);
typedef void (*Frame_HostService_t)(void); /* the four it never calls */

#ifdef __cplusplus
}
#endif

#endif
