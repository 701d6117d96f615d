#include "driver/display.h"

#include <cstring>

#include "screen/screen.h"

bool open_display()
{
    return false;
}

void copy_rows(unsigned char* pixels, int pitch, int rows)
{
    if (rows > screen_height)
        rows = screen_height;
    for (int r = 0; r < rows; ++r)
        std::memcpy(pixels + static_cast<long>(r) * pitch, screen_buf + row_bytes * r, row_bytes);
}

void present_screen() {}
