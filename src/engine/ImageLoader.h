#pragma once
// Turns a stream of PNG, JPEG or BMP data into a bitmap, trying the formats in that order and
// putting the stream back where it was before each attempt.
#include <memory>

#include "base/Bitmap.h"
#include "base/Streams.h"

// The picture (a TPNGImage for PNG data, a plain 24-bit TBitmap for JPEG, the BMP's own format
// for BMP), or null when the stream is null or holds none of the three. Never throws.
std::unique_ptr<TBitmap> LoadPNGFromStream(TStream* Stream);
