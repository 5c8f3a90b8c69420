// Textures from an image and an optional mask: format choice, box filter, pixel packing.
#include <algorithm>
#include <cstring>

#include "base/Bitmap.h"
#include "base/SysUtils.h"
#include "engine/zrD3D.h"

namespace {

bool IsPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

void Put16(uint8_t*& d, uint32_t v) {
  d[0] = uint8_t(v);
  d[1] = uint8_t(v >> 8);
  d += 2;
}

uint32_t Pixel32(const uint8_t* row, int x) {
  uint32_t p;
  std::memcpy(&p, row + size_t(x) * 4, 4);
  return p & 0xFFFFFF;
}

bool RectInside(const RECT& r, int width, int height) {
  return r.right <= width && r.bottom <= height && r.left < r.right && r.top < r.bottom &&
         r.left >= 0 && r.top >= 0;
}

}  // namespace

void PackPixel(uint8_t*& d, uint32_t p, D3DFORMAT format) {
  switch (format) {
    case D3DFMT_R8G8B8:
      d[0] = uint8_t(p);
      d[1] = uint8_t(p >> 8);
      d[2] = uint8_t(p >> 16);
      d += 3;
      break;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      d[0] = uint8_t(p);
      d[1] = uint8_t(p >> 8);
      d[2] = uint8_t(p >> 16);
      d[3] = uint8_t(p >> 24);
      d += 4;
      break;
    case D3DFMT_R5G6B5:
      Put16(d, ((p >> 3) & 0x1F) | ((p >> 5) & 0x7E0) | ((p >> 8) & 0xF800));
      break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      Put16(d, ((p >> 3) & 0x1F) | ((p >> 6) & 0x3E0) | ((p >> 9) & 0x7C00) | ((p >> 16) & 0x8000));
      break;
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
      Put16(d, ((p >> 4) & 0xF) | ((p >> 8) & 0xF0) | ((p >> 12) & 0xF00) | ((p >> 16) & 0xF000));
      break;
    case D3DFMT_R3G3B2:
      *d++ = uint8_t(((p >> 6) & 3) | ((p >> 11) & 0x1C) | ((p >> 16) & 0xE0));
      break;
    case D3DFMT_A8:
      *d++ = uint8_t(p >> 24);
      break;
    case D3DFMT_A8R3G3B2:
      Put16(d, ((p >> 6) & 3) | ((p >> 11) & 0x1C) | ((p >> 16) & 0xFFE0));
      break;
    default:
      break;
  }
}

void CopyImageToTexture(const RECT* sourceRect, const TBitmap& image, const TBitmap* mask,
                        int width, int height, uint32_t colorKey, D3DFORMAT format, int pitch,
                        uint8_t* bits) {
  const bool keyOn = (colorKey & 0xFF000000) == 0xFF000000;
  const uint32_t key = colorKey & 0xFFFFFF;
  if (width < 1 || height < 1) RaiseD3DError(D3DERR_OWN_INVALIDPARAMS, "texture size");
  if (sourceRect && !RectInside(*sourceRect, image.Width(), image.Height()))
    RaiseD3DError(D3DERR_OWN_IMAGESIZE);
  if (mask && (mask->Width() != image.Width() || mask->Height() != image.Height()))
    RaiseD3DError(D3DERR_OWN_MASKMISMATCH);

  // Work on converted copies: the caller's bitmaps stay as they are.
  const TBitmap* img = &image;
  TBitmap img32;
  if (image.PixelFormat() != pf32bit) {
    img32 = image;
    img32.SetPixelFormat(pf32bit);
    img = &img32;
  }
  const TBitmap* msk = mask;
  TBitmap mask8;
  uint8_t alpha[256];
  if (mask) {
    if (mask->PixelFormat() != pf8bit) {
      mask8 = *mask;
      mask8.SetPixelFormat(pf8bit);
      msk = &mask8;
    }
    if (!msk->Palette.empty()) {
      std::memset(alpha, 0, sizeof alpha);
      size_t n = std::min<size_t>(256, msk->Palette.size());
      for (size_t i = 0; i < n; ++i) {
        const TPaletteEntry& e = msk->Palette[i];
        alpha[i] = uint8_t((unsigned(e.Red) + e.Green + e.Blue) / 3);
      }
    } else {
      for (int i = 0; i < 256; ++i) alpha[i] = uint8_t(i);
    }
  }

  int x0 = 0, y0 = 0, srcW = image.Width(), srcH = image.Height();
  if (sourceRect) {
    x0 = sourceRect->left;
    y0 = sourceRect->top;
    srcW = sourceRect->right - sourceRect->left;
    srcH = sourceRect->bottom - sourceRect->top;
  }
  if (srcW % width != 0 || srcH % height != 0) RaiseD3DError(D3DERR_OWN_STRETCHNOTINTEGER);
  const int fx = srcW / width, fy = srcH / height;
  const uint64_t area = uint64_t(fx) * uint64_t(fy);

  for (int r = 0; r < height; ++r) {
    uint8_t* d = bits + ptrdiff_t(r) * pitch;
    if (area == 1) {
      const uint8_t* src = img->ScanLine(y0 + r);
      const uint8_t* m = msk ? msk->ScanLine(y0 + r) : nullptr;
      for (int c = 0; c < width; ++c) {
        uint32_t p = Pixel32(src, x0 + c);
        if (m) p = p | uint32_t(alpha[m[x0 + c]]) << 24;
        else if (keyOn) p = p == key ? p : p | 0xFF000000;
        else p |= 0xFF000000;
        PackPixel(d, p, format);
      }
      continue;
    }
    for (int c = 0; c < width; ++c) {
      uint64_t sumA = 0, sumR = 0, sumG = 0, sumB = 0;
      uint32_t last = 0;
      for (int by = 0; by < fy; ++by) {
        const int y = y0 + r * fy + by;
        const uint8_t* src = img->ScanLine(y);
        const uint8_t* m = msk ? msk->ScanLine(y) : nullptr;
        for (int bx = 0; bx < fx; ++bx) {
          const int x = x0 + c * fx + bx;
          const uint32_t p = Pixel32(src, x);
          const uint32_t a = m ? alpha[m[x]] : 1;
          sumA += a;
          sumR += ((p >> 16) & 0xFF) * a;
          sumG += ((p >> 8) & 0xFF) * a;
          sumB += (p & 0xFF) * a;
          last = p;
        }
      }
      uint32_t texel;
      if (msk) {
        texel = sumA > 0 ? uint32_t(sumA / area) << 24 | uint32_t(sumR / sumA) << 16 |
                               uint32_t(sumG / sumA) << 8 | uint32_t(sumB / sumA)
                         : last;
      } else {
        texel = uint32_t(sumR / area) << 16 | uint32_t(sumG / area) << 8 | uint32_t(sumB / area);
        if (!(keyOn && texel == key)) texel |= 0xFF000000;
      }
      PackPixel(d, texel, format);
    }
  }
}

void CreateBestTexture(TzrD3Device8* device, int width, int height, int formatCount,
                       const D3DFORMAT* formats, D3DPOOL pool, TComPtr<IDirect3DTexture8>& texture) {
  D3DFORMAT format = D3DFMT_UNKNOWN;
  bool found = false;
  for (int i = 0; i < formatCount && !found; ++i)
    if (device->SupportsTextureFormat(formats[i])) {
      format = formats[i];
      found = true;
    }
  for (D3DFORMAT f = D3DFMT_R8G8B8; f <= D3DFMT_X4R4G4B4 && !found; ++f)
    if (device->SupportsTextureFormat(f)) {
      format = f;
      found = true;
    }
  if (!found) RaiseD3DError(D3DERR_OWN_NOTEXTUREFORMAT);
  CheckD3DResult(device->Device->CreateTexture(UINT(width), UINT(height), 1, 0, format, pool,
                                               texture.Receive()),
                 D3DERR_OWN_CREATETEXTURE,
                 IntToStr(width) + ";" + IntToStr(height) + ";" + FormatName(format));
}

TzrD3DTexture8::TzrD3DTexture8(TzrD3Device8* device, const RECT* sourceRect, const TBitmap* image,
                               const TBitmap* mask, int width, int height, uint32_t colorKey,
                               int formatCount, const D3DFORMAT* formats)
    : Device(device) {
  if (!image) RaiseD3DError(D3DERR_OWN_IMAGEFORMAT);
  if (image->Width() < 1 || image->Height() < 1) RaiseD3DError(D3DERR_OWN_IMAGESIZE);
  if (sourceRect && !RectInside(*sourceRect, image->Width(), image->Height()))
    RaiseD3DError(D3DERR_OWN_IMAGESIZE);
  if (width == 0 || height == 0) {
    width = image->Width();
    height = image->Height();
  }
  if (!IsPowerOfTwo(width) || !IsPowerOfTwo(height)) RaiseD3DError(D3DERR_OWN_MASKMISMATCH);
  const D3DCAPS8& caps = device->DeviceInfo->Caps;
  width = std::min<int64_t>(width, caps.MaxTextureWidth);
  height = std::min<int64_t>(height, caps.MaxTextureHeight);
  if (mask && (mask->Width() != image->Width() || mask->Height() != image->Height()))
    RaiseD3DError(D3DERR_OWN_MASKMISMATCH);

  CreateBestTexture(device, width, height, formatCount, formats, D3DPOOL_MANAGED, Texture);
  D3DSURFACE_DESC desc;
  CheckD3DResult(Texture->GetLevelDesc(0, &desc), 0, "getleveldesc");
  Format = desc.Format;
  SurfaceWidth = int(desc.Width);
  SurfaceHeight = int(desc.Height);
  Width = image->Width();
  Height = image->Height();
  // Never fill more than the driver gave us.
  width = std::min(width, SurfaceWidth);
  height = std::min(height, SurfaceHeight);

  D3DLOCKED_RECT locked;
  CheckD3DResult(Texture->LockRect(0, &locked, nullptr, 0), 0, "lockrect");
  try {
    CopyImageToTexture(sourceRect, *image, mask, width, height, colorKey, Format, locked.Pitch,
                       static_cast<uint8_t*>(locked.pBits));
  } catch (...) {
    Texture->UnlockRect(0);
    throw;
  }
  CheckD3DResult(Texture->UnlockRect(0), 0, "unlockrect");
  Device->AddTexture(this);
}

TzrD3DTexture8::~TzrD3DTexture8() {
  if (Device->Device) Device->Device->SetTexture(0, nullptr);
  Texture.Reset();
  Device->RemoveTexture(this);
}
