#pragma once
// What a page may not do inside browser_process: open a window of the
// engine's own or run a modal loop (printing, sign-in, colour choosers,
// notifications, full screen), write a file (downloads), or grow without
// bound. Pages are untrusted; the pump must never wait on them.
#include <webkit2/webkit2.h>

namespace engine::webkit {

// Refuses, at once and without any window, every page request that the
// engine would otherwise answer with a window or a dialog of its own.
void GuardView(WebKitWebView* view);

// Cancels every download of the context before a byte is written, with a
// "CLIENT: Download cancelled: URL" line.
void GuardDownloads(WebKitWebContext* context);

// The memory settings for web processes: a process whose memory passes the
// limit is ended by the engine (the browser's page reports its process gone).
// The limit is a quarter of physical memory, at most 4 GiB, in MiB, unless
// TEV_WEB_PROCESS_MEMORY_LIMIT_MIB names another (64 MiB or more).
unsigned WebProcessMemoryLimitMiB();
WebKitMemoryPressureSettings* NewWebProcessMemorySettings();

}  // namespace engine::webkit
