// Byte strings written the way the controller's frames are described: one
// value 0..255 per byte, and the status frame's payload from its fields.
#pragma once

#include <QByteArray>
#include <array>
#include <initializer_list>

inline QByteArray bytes(std::initializer_list<int> v) {
    QByteArray b;
    for (int x : v)
        b.append(char(x));
    return b;
}

// A status frame's payload: the nine voltages (line 1 phases 1-3, then lines 2
// and 3) high byte first, the three fault bytes, the program in the high and the
// active line in the low half of one byte, the line states and the failure byte.
inline QByteArray statusBytes(const std::array<int, 9>& voltages, int f1, int f2, int f3,
                              int progActive, int states, int awaria) {
    QByteArray p;
    for (int v : voltages) {
        p.append(char(v >> 8));
        p.append(char(v & 0xFF));
    }
    p += bytes({f1, f2, f3, progActive, states, awaria});
    return p;
}
