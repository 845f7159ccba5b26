// Keysyms to the toolkit's key codes and to Unicode (for servers without an input method).
#pragma once

// The toolkit key code of a keysym (eKeyCodes; letters and digits as upper-case ASCII,
// other printable ASCII as itself), or 0 when the key has none.
int x11KeyCode(unsigned long keysym);
// The character a keysym types (Latin-1 keysyms and the 0x01000000 Unicode range), or 0.
unsigned int x11KeysymChar(unsigned long keysym);
// Modifier bits (eKeyModifiers) of an X event state; Ctrl stands for the native Command key.
unsigned int x11Modifiers(unsigned int state);
