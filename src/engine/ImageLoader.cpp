#include "engine/ImageLoader.h"

#include "engine/PngCodec.h"

std::unique_ptr<TBitmap> LoadPNGFromStream(TStream* Stream) {
  if (!Stream) return nullptr;
  try {
    const int64_t start = Stream->GetPosition();
    try {
      auto png = std::make_unique<TPNGImage>();
      png->LoadFromStream(*Stream);
      return png;
    } catch (...) {
    }
    try {
      Stream->SetPosition(start);
      TJPEGImage jpeg;
      jpeg.LoadFromStream(*Stream);
      auto bmp = std::make_unique<TBitmap>();
      jpeg.AssignTo(*bmp);
      return bmp;
    } catch (...) {
    }
    Stream->SetPosition(start);
    auto bmp = std::make_unique<TBitmap>();
    bmp->LoadFromStream(*Stream);
    return bmp;
  } catch (...) {
    return nullptr;
  }
}
