#pragma once
// The screen family's internals shared by its files. Not for callers.
#include <cstdint>

#include "runtime/screen/image.h"

constexpr int32_t FIRST_IMAGE_SLOT = 2; // slots 0 and 1 are reserved at start-up

// True for the modes an image can be created in.
bool image_mode_known(int32_t mode);
// Frees the arrays an image owns; the record keeps its pointers until it is zeroed.
void image_free_arrays(ScreenImage& image);
// malloc for a size computed in 64 bits; null for 0 or for what the address space cannot hold.
void* image_allocate_bytes(uint64_t bytes);
PageRef image_page_ref(int32_t slot);
// The image a handle names, or null after raising the error: pages by number (error 5 when the
// screen has no such page), images by -slot (error 258 when the slot holds none).
ScreenImage* image_resolve_handle(int32_t handle, int32_t* slot_out);
