// The three asset files, raw bytes with no header, read once at start-up.
#pragma once

#include <cstddef>

inline constexpr const char* end_file = "end.raw";       // end_pic, 230,400 bytes
inline constexpr const char* mask_file = "vorpa2.raw";   // mask_pic, 230,400 bytes
inline constexpr const char* spark_file = "newfire.raw"; // spark_sprite, 1,200 bytes

// Reads up to count bytes of the named file into buffer, from its first byte.
// The file is opened read-only and never created. A missing or unreadable
// file, or anything but a regular file, reads nothing; a short file fills only
// the start of the buffer. Nothing is reported; bytes not read keep their
// values.
void load_asset(const char* path, unsigned char* buffer, std::size_t count);

// Loads "end.raw", "vorpa2.raw" and "newfire.raw", in that order, into
// end_pic, mask_pic and spark_sprite from the given folder (nullptr: the
// current folder, by the plain file names).
void load_assets(const char* folder);
