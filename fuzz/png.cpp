// Pictures come from the executable's resources today, but the loader must hold against any
// bytes: every input ends in a bitmap or nothing, never a crash or a read outside a buffer.
// A decoded PNG is also written back and read again.
#include <cstddef>
#include <cstdint>

#include "base/Streams.h"
#include "engine/ImageLoader.h"
#include "engine/PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream s(data, size);
  std::unique_ptr<TBitmap> b = LoadPNGFromStream(&s);
  if (!b || int64_t(b->Width()) * b->Height() > (1 << 18)) return 0;
  uint32_t sum = 0;
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) sum += b->PixelRGB(x, y);
  auto* png = dynamic_cast<TPNGImage*>(b.get());
  if (!png) return int(sum & 0);
  TMemoryStream out;
  png->SaveToStream(out);  // our own writer must not fail on anything we decoded
  out.SetPosition(0);
  TPNGImage again;
  again.LoadFromStream(out);
  if (again.Width() != png->Width() || again.Height() != png->Height()) __builtin_trap();
  return 0;
}
