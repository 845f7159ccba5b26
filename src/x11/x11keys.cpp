// Keysym tables: the toolkit's key codes (the keypad's Enter, + and - included).
#include "x11/x11keys.h"

#include <X11/X.h>
#include <X11/keysym.h>

#include "ciplatform/windowmaker.h"

int x11KeyCode(unsigned long keysym) {
    struct sMap {
        unsigned long sym;
        int code;
    };
    static const sMap kMap[] = {
        {XK_space, kKeySpace},       {XK_KP_Space, kKeySpace},       {XK_BackSpace, kKeyBackspace},
        {XK_Tab, kKeyTab},           {XK_ISO_Left_Tab, kKeyTab},     {XK_KP_Tab, kKeyTab},
        {XK_Escape, kKeyEscape},     {XK_Home, kKeyHome},            {XK_KP_Home, kKeyHome},
        {XK_Left, kKeyLeft},         {XK_KP_Left, kKeyLeft},         {XK_Up, kKeyUp},
        {XK_KP_Up, kKeyUp},          {XK_Right, kKeyRight},          {XK_KP_Right, kKeyRight},
        {XK_Down, kKeyDown},         {XK_KP_Down, kKeyDown},         {XK_Prior, kKeyPageUp},
        {XK_KP_Prior, kKeyPageUp},   {XK_Next, kKeyPageDown},        {XK_KP_Next, kKeyPageDown},
        {XK_End, kKeyEnd},           {XK_KP_End, kKeyEnd},           {XK_Insert, kKeyInsert},
        {XK_KP_Insert, kKeyInsert},  {XK_Menu, kKeyMenu},            {XK_Return, kKeyEnter},
        {XK_KP_Enter, kKeyEnter},    {XK_ISO_Enter, kKeyEnter},      {XK_KP_Add, kKeyPadPlus},
        {XK_KP_Subtract, kKeyPadMinus}, {XK_Delete, kKeyDelete},     {XK_KP_Delete, kKeyDelete},
    };
    for (const sMap& m : kMap)
        if (m.sym == keysym) return m.code;
    if (keysym >= XK_F1 && keysym <= XK_F12) return kKeyF1 + (int)(keysym - XK_F1);
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9) return '0' + (int)(keysym - XK_KP_0);
    if (keysym >= XK_a && keysym <= XK_z) return 'A' + (int)(keysym - XK_a);
    if (keysym > XK_space && keysym <= XK_asciitilde) return (int)keysym;
    return 0;
}

unsigned int x11KeysymChar(unsigned long keysym) {
    if ((keysym >= 0x20 && keysym <= 0x7E) || (keysym >= 0xA0 && keysym <= 0xFF)) return (unsigned int)keysym;
    if ((keysym & 0xFF000000ul) == 0x01000000ul) {
        unsigned long cp = keysym & 0x00FFFFFFul;
        if (cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) return (unsigned int)cp;
        return 0;
    }
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9) return '0' + (unsigned int)(keysym - XK_KP_0);
    switch (keysym) {
        case XK_KP_Add: return '+';
        case XK_KP_Subtract: return '-';
        case XK_KP_Multiply: return '*';
        case XK_KP_Divide: return '/';
        case XK_KP_Decimal: return '.';
        case XK_KP_Space: return ' ';
        case XK_EuroSign: return 0x20AC;
        default: return 0;
    }
}

unsigned int x11Modifiers(unsigned int state) {
    unsigned int m = 0;
    if (state & ShiftMask) m |= kModShift;
    if (state & ControlMask) m |= kModCtrl;
    if (state & Mod1Mask) m |= kModAlt;
    return m;
}
