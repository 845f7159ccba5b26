// System libraries reached through tables of their functions, opened on first use, so that a
// run that never shows a window or draws a glyph never loads Xlib, FreeType or fontconfig.
// Each function the program calls is defined under its own name (QMX_FORWARD_FROM) and forwards to
// the library's; the callers are written against the libraries' own headers.
#pragma once

// Opens `libs` (sonames, in order) and looks every name up in them: true when all were found,
// with `slots` filled in the order of `names`; otherwise the libraries are closed again and
// `slots` is left null.
bool loadSharedSymbols(const char* const* libs, int libCount, const char* const* names, void** slots, int count);

// One forwarding function: `table()` answers the filled slots or null, `k_<name>` is the name's
// slot. Without the library the function answers a zero value (null, 0, false), which only the
// entry points (opening a display, starting the font libraries) are ever asked for.
#define QMX_FORWARD_FROM(table, R, name, params, args)                      \
    R name params {                                                         \
        void* const* slots = table();                                       \
        using tFn = decltype(&::name);                                      \
        if (!slots) return decltype(reinterpret_cast<tFn>(slots[0]) args)(); \
        return reinterpret_cast<tFn>(slots[k_##name]) args;                 \
    }
