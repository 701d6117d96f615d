// One fuzz case: arbitrary bytes become the three asset files, which are
// loaded the way start-up loads them and then drawn through every phase of
// the timeline.
#pragma once

#include <cstddef>
#include <cstdint>

// Makes the scratch folder the asset files are written to (under /dev/shm
// when it exists, else the temporary folder) and records the schedule states
// that a case jumps to. Returns false when the folder cannot be made.
bool asset_case_init();

// Removes the scratch folder and what is in it.
void asset_case_cleanup();

// Input layout: byte 0 holds two bits per file (end, mask, sparks from the
// low bits up: 0 a regular file, 1 missing, 2 a folder, 3 a FIFO with no
// writer); bytes 1..3 and 4..6 are the lengths of "end.raw" and "vorpa2.raw"
// (little-endian, cut to what is left); the rest is "newfire.raw". Missing
// bytes count as zero. The files are loaded through load_assets, the buffers
// are checked to hold exactly the bytes read, then frames of the fire, the
// segments, the fans, the rings, the end picture and the counters' limit are
// run. Any mismatch aborts.
void run_asset_case(const std::uint8_t* data, std::size_t size);
