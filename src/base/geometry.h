// Plain geometry records shared by the UI layers: points, sizes and rectangles.
#pragma once

struct sPoint {
    int x;
    int y;
};

struct sSize {
    int cx;
    int cy;
};

// x, y, width and height.
struct sRect {
    int x;
    int y;
    int w;
    int h;
};

// left, top, right and bottom; right and bottom are exclusive.
struct sArea {
    int left;
    int top;
    int right;
    int bottom;
};
