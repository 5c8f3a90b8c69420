// The quad renderer with its sprites and sorted bucket index, and the point renderer.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/SysUtils.h"
#include "engine/tools.h"
#include "engine/zrD3D.h"

namespace {

const TzrQuadVertex kQuadVertexTemplate[4] = {
    {0, 0, 0.99999f, 1.0f, 0xFFFFFFFF, 0, 0},
    {0, 0, 0.99999f, 1.0f, 0xFFFFFFFF, 1, 0},
    {0, 0, 0.99999f, 1.0f, 0xFFFFFFFF, 1, 1},
    {0, 0, 0.99999f, 1.0f, 0xFFFFFFFF, 0, 1},
};
const TzrQuadVertex (&kMirrorVertexTemplate)[4] = kQuadVertexTemplate;

const TzrPointVertex kPointVertexTemplate = {0, 0, 0.99999f, 1.0f, 1.0f, 0xFFFFFFFF};

constexpr UINT kQuadBytes = 4 * sizeof(TzrQuadVertex);

std::string MessageOf(const std::exception& e) {
  if (auto* x = dynamic_cast<const Exception*>(&e)) return x->Message;
  return e.what();
}

}  // namespace

// ---- TIntSortedList -------------------------------------------------------------------------

bool TIntSortedList::Find(int32_t key, int& index) const {
  // Plain comparisons: a subtraction of far-apart keys would overflow.
  int lo = 0, hi = Count;
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (Items[size_t(mid)].Key < key) lo = mid + 1;
    else hi = mid;
  }
  index = lo;
  return lo < Count && Items[size_t(lo)].Key == key;
}

int TIntSortedList::Add(int32_t key, int32_t value) {
  if (Count == Capacity) {
    Capacity += 10;
    Items.resize(size_t(Capacity));
  }
  // After every equal key.
  int lo = 0, hi = Count;
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (Items[size_t(mid)].Key <= key) lo = mid + 1;
    else hi = mid;
  }
  std::move_backward(Items.begin() + lo, Items.begin() + Count, Items.begin() + Count + 1);
  Items[size_t(lo)] = TItem{key, value};
  ++Count;
  return lo;
}

int32_t TIntSortedList::GetKey(int index) const {
  if (index < 0 || index >= Count) throw EListError("Index out of bounds");
  return Items[size_t(index)].Key;
}

int32_t TIntSortedList::GetValue(int index) const {
  if (index < 0 || index >= Count) throw EListError("Index out of bounds");
  return Items[size_t(index)].Value;
}

// ---- geometry -------------------------------------------------------------------------------

void RotateQuad(const TzrVector2* size, const TzrVector2* pivot, TzrVector2 position, float angle,
                TzrVector2 corners[4]) {
  const float w = size ? size->x : 1.0f, h = size ? size->y : 1.0f;
  const float px = pivot ? pivot->x : 0.0f, py = pivot ? pivot->y : 0.0f;
  const float c = std::cos(angle), s = std::sin(angle);
  corners[0] = {position.x + (-px * w * c + py * h * s), position.y + (-px * w * s - py * h * c)};
  corners[1] = {corners[0].x + w * c, corners[0].y + w * s};
  corners[2] = {corners[0].x + (w * c - h * s), corners[0].y + (w * s + h * c)};
  corners[3] = {corners[0].x - h * s, corners[0].y + h * c};
}

// ---- quad renderer --------------------------------------------------------------------------

TzrD3DQuadRenderer::TzrD3DQuadRenderer(TzrD3Device8* device, int capacity)
    : TzrD3DRenderer(device), Capacity(std::clamp(capacity, 1, kMaxQuads)) {
  Quads.resize(size_t(Capacity));
  Buckets.resize(size_t(Capacity));  // never more keys than quads
}

TzrD3DQuadRenderer::~TzrD3DQuadRenderer() {
  while (!Sprites.empty()) delete Sprites.back();  // each one removes itself
  ReleaseBuffers();
}

void TzrD3DQuadRenderer::Reset() {
  BucketCount = 0;
  QuadCount = 0;
  BucketIndex.Clear();
  WarnedFull = false;
  WarnedTexture = false;
}

void TzrD3DQuadRenderer::ReleaseBuffers() {
  VertexBuffer.Reset();
  IndexBuffer.Reset();
}

void TzrD3DQuadRenderer::RestoreBuffers() {
  ReleaseBuffers();
  IDirect3DDevice8* d = Device->Device.Get();
  try {
    CheckD3DResult(d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW), 0, "D3DRS_CULLMODE");
    CheckD3DResult(d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID), 0, "D3DRS_FILLMODE");
    const DWORD depth = Device->PresentParams.EnableAutoDepthStencil ? 1 : 0;
    CheckD3DResult(d->SetRenderState(D3DRS_ZENABLE, depth), 0, "D3DRS_ZENABLE");
    CheckD3DResult(d->SetRenderState(D3DRS_ZWRITEENABLE, depth), 0, "D3DRS_ZWRITEENABLE");
    CheckD3DResult(d->SetRenderState(D3DRS_LIGHTING, depth), 0, "D3DRS_LIGHTING");

    const D3DCAPS8& caps = Device->DeviceInfo->Caps;
    if ((caps.DevCaps & D3DDEVCAPS_DRAWPRIMTLVERTEX) && (caps.SrcBlendCaps & D3DPBLENDCAPS_ONE) &&
        (caps.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA)) {
      CheckD3DResult(d->SetRenderState(D3DRS_ALPHABLENDENABLE, 1), 0, "D3DRS_ALPHABLENDENABLE");
      CheckD3DResult(d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE), 0, "D3DRS_SRCBLEND");
      CheckD3DResult(d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA), 0, "D3DRS_DESTBLEND");
    }

    CheckD3DResult(d->CreateVertexBuffer(UINT(Capacity) * kQuadBytes,
                                         D3DUSAGE_DYNAMIC | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_WRITEONLY,
                                         kQuadVertexFormat, D3DPOOL_DEFAULT, VertexBuffer.Receive()),
                   D3DERR_OWN_CREATEVERTEXBUFFER, "");
    CheckD3DResult(d->CreateIndexBuffer(UINT(Capacity) * 12,
                                        D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING,
                                        D3DFMT_INDEX16, D3DPOOL_DEFAULT, IndexBuffer.Receive()),
                   D3DERR_OWN_CREATEINDEXBUFFER, "");
    BYTE* p = nullptr;
    CheckD3DResult(IndexBuffer->Lock(0, 0, &p, 0), 0, "");
    for (int i = 0; i < Capacity; ++i) {
      const uint16_t b = uint16_t(4 * i);
      const uint16_t idx[6] = {uint16_t(b + 3), b, uint16_t(b + 2), uint16_t(b + 1), uint16_t(b + 2), b};
      std::memcpy(p + size_t(i) * 12, idx, 12);
    }
    IndexBuffer->Unlock();
    BufferCapacity = Capacity;

    CheckD3DResult(d->SetTextureStageState(0, D3DTSS_MAGFILTER, Device->TextureFilter), 0,
                   "Texture MagFilter");
    CheckD3DResult(d->SetTextureStageState(0, D3DTSS_MINFILTER, Device->TextureFilter), 0,
                   "Texture MinFilter");
    if (caps.TextureOpCaps & D3DTEXOPCAPS_MODULATE) {
      CheckD3DResult(d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE), 0, "ColorOp");
      CheckD3DResult(d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE), 0, "ColorArg1");
      CheckD3DResult(d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE), 0, "ColorArg2");
      CheckD3DResult(d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE), 0, "AlphaOp");
      CheckD3DResult(d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE), 0, "AlphaArg1");
      CheckD3DResult(d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE), 0, "AlphaArg2");
    } else {
      Log("No support for texture operation modulate", ltWarning);
    }
  } catch (const std::exception& e) {
    Log("Error initializing state: " + MessageOf(e), ltWarning);
    throw;
  }
}

void TzrD3DQuadRenderer::Flush() {
  if (!VertexBuffer || !IndexBuffer) return;
  // The buffers follow the store at each restore; until then draw what fits.
  const int n = std::min(QuadCount, BufferCapacity);
  IDirect3DDevice8* d = Device->Device.Get();
  DWORD flags = D3DLOCK_NOOVERWRITE;
  if (VBCursor + n > BufferCapacity) {
    VBCursor = 0;
    flags = D3DLOCK_DISCARD;
  }
  BYTE* p = nullptr;
  CheckD3DResult(VertexBuffer->Lock(UINT(VBCursor) * kQuadBytes, UINT(n) * kQuadBytes, &p, flags),
                 0, "quadvblock");
  std::vector<TBatch>& batches = Batches;
  batches.clear();
  int copied = 0;
  try {
    TzrD3DTexture8* previous = nullptr;
    for (int i = 0; i < BucketIndex.Count && copied < n; ++i) {
      TzrD3DTexture8* texture = Device->GetTexture(BucketIndex.GetKey(i) & 0xFF);
      const TBucket& bucket = Buckets[size_t(BucketIndex.GetValue(i))];
      const int take = std::min(bucket.Count, n - copied);
      if (!batches.empty() && texture == previous) batches.back().Count += take;
      else batches.push_back(TBatch{texture, VBCursor + copied, take});
      previous = texture;
      int q = bucket.First;
      for (int k = 0; k < take; ++k, q = Quads[size_t(q)].Next)
        std::memcpy(p + size_t(copied + k) * kQuadBytes, Quads[size_t(q)].Vertices, kQuadBytes);
      copied += take;
    }
  } catch (...) {
    VertexBuffer->Unlock();
    throw;
  }
  VertexBuffer->Unlock();
  VBCursor += copied;

  CheckD3DResult(d->SetStreamSource(0, VertexBuffer.Get(), sizeof(TzrQuadVertex)), 0,
                 "setstreamsource");
  CheckD3DResult(d->SetIndices(IndexBuffer.Get(), 0), 0, "setindices");
  CheckD3DResult(d->SetVertexShader(kQuadVertexFormat), 0, "setvertexshader");
  for (const TBatch& b : batches) {
    CheckD3DResult(d->SetTexture(0, b.Texture->Texture.Get()), 0, "settexture");
    CheckD3DResult(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, UINT(b.First) * 4, UINT(b.Count) * 4,
                                           UINT(b.First) * 6, UINT(b.Count) * 2),
                   0, "drawindexedprimitive");
  }
}

TzrQuadVertex* TzrD3DQuadRenderer::AllocQuad(int layer, int textureIndex) {
  // The key keeps the texture index in its low byte; a larger one would change the layer.
  // Such a quad is dropped, as one past the store's end: a bad index must not end the game.
  if (textureIndex < 0 || textureIndex > 255) {
    if (!WarnedTexture) {
      WarnedTexture = true;
      Log(D3DErrorText(D3DERR_OWN_INVALIDPARAMS) + ": texture index " + IntToStr(textureIndex) +
              " is outside 0 to 255, the quad is not drawn",
          ltWarning);
    }
    return nullptr;
  }
  if (QuadCount == Capacity) {
    if (Capacity >= kMaxQuads) {
      if (!WarnedFull) {
        WarnedFull = true;
        Log(D3DErrorText(D3DERR_OWN_TOOMANYQUADS) + ": more than " + IntToStr(kMaxQuads) +
                " quads in one frame, the rest is not drawn",
            ltWarning);
      }
      return nullptr;
    }
    // Grow the store; the buffers follow at the next restore.
    Capacity = std::min(Capacity * 2, kMaxQuads);
    Quads.resize(size_t(Capacity));
    Buckets.resize(size_t(Capacity));
    Device->Restored = false;
  }
  const int q = QuadCount++;
  TQuadRecord& record = Quads[size_t(q)];
  record.Next = -1;
  const int32_t key = int32_t(uint32_t(layer) << 8 | uint32_t(textureIndex));
  int index;
  if (BucketIndex.Find(key, index)) {
    TBucket& bucket = Buckets[size_t(BucketIndex.GetValue(index))];
    ++bucket.Count;
    Quads[size_t(bucket.Last)].Next = q;
    bucket.Last = q;
  } else {
    BucketIndex.Add(key, BucketCount);
    Buckets[size_t(BucketCount)] = TBucket{1, q, q};
    ++BucketCount;
  }
  return record.Vertices;
}

bool TzrD3DQuadRenderer::AddQuadVerts(int textureIndex, const TzrVector2 corners[4],
                                      const TzrVector2* uvs, const uint32_t* colours, int layer,
                                      bool mirror) {
  const float w = float(Device->PresentParams.BackBufferWidth);
  bool allRight = true, allLeft = true;
  for (int i = 0; i < 4; ++i) {
    allRight = allRight && corners[i].x > w;
    allLeft = allLeft && corners[i].x < 0;
  }
  if (allRight || allLeft) return false;
  TzrQuadVertex* v = AllocQuad(layer, textureIndex);
  if (!v) return false;
  // Mirrored quads swap the corners pairwise so the triangles stay clockwise.
  static const int kStraight[4] = {0, 1, 2, 3};
  static const int kMirrored[4] = {1, 0, 3, 2};
  const int* target = mirror ? kMirrored : kStraight;
  std::memcpy(v, mirror ? kMirrorVertexTemplate : kQuadVertexTemplate, kQuadBytes);
  for (int i = 0; i < 4; ++i) {
    TzrQuadVertex& t = v[target[i]];
    t.x = corners[i].x;
    t.y = corners[i].y;
    if (colours) t.color = colours[i];
    if (uvs) {
      t.u = uvs[i].x;
      t.v = uvs[i].y;
    }
  }
  return true;
}

void TzrD3DQuadRenderer::AddQuad(int textureIndex, const TzrUVRect* uv, const TzrVector2* size,
                                 const TzrVector2* pivot, float angle, TzrVector2 position,
                                 const uint32_t* colours, int layer) {
  TzrVector2 corners[4];
  RotateQuad(size, pivot, position, angle, corners);
  const bool mirror = size && ((size->x < 0) != (size->y < 0));
  TzrVector2 uvs[4];
  if (uv) {
    uvs[0] = {uv->u0, uv->v0};
    uvs[1] = {uv->u1, uv->v0};
    uvs[2] = {uv->u1, uv->v1};
    uvs[3] = {uv->u0, uv->v1};
  }
  AddQuadVerts(textureIndex, corners, uv ? uvs : nullptr, colours, layer, mirror);
}

void TzrD3DQuadRenderer::AddSprite(TzrD3DSprite* sprite) { Sprites.push_back(sprite); }

void TzrD3DQuadRenderer::RemoveSprite(TzrD3DSprite* sprite) {
  auto it = std::find(Sprites.begin(), Sprites.end(), sprite);
  if (it != Sprites.end()) Sprites.erase(it);
}

// ---- sprites --------------------------------------------------------------------------------

TzrD3DSprite::TzrD3DSprite(TzrD3DQuadRenderer* quadRenderer, int textureIndex,
                           const RECT* sourceRect, const POINT* pivot, float width, float height,
                           int layer)
    : QuadRenderer(quadRenderer), TextureIndex(textureIndex), Layer(layer) {
  const TzrD3DTexture8* texture = quadRenderer->Device->GetTexture(textureIndex);
  const float w = float(texture->Width), h = float(texture->Height);
  if (sourceRect) {
    U0 = float(sourceRect->left) / w;
    V0 = float(sourceRect->top) / h;
    U1 = float(sourceRect->right) / w;
    V1 = float(sourceRect->bottom) / h;
  } else {
    U0 = V0 = 0;
    U1 = V1 = 1;
  }
  Width = width != 0 ? width : (sourceRect ? float(sourceRect->right - sourceRect->left) : w);
  Height = height != 0 ? height : (sourceRect ? float(sourceRect->bottom - sourceRect->top) : h);
  if (pivot) {
    PivotX = float(pivot->x) / Width;
    PivotY = float(pivot->y) / Height;
  } else {
    PivotX = PivotY = 0;
  }
  quadRenderer->AddSprite(this);
}

TzrD3DSprite::~TzrD3DSprite() { QuadRenderer->RemoveSprite(this); }

void TzrD3DSprite::Draw(const TzrVector2* scale, TzrVector2 position, float angle,
                        const uint32_t* colours, int layer) {
  const TzrVector2 size = scale ? TzrVector2{Width * scale->x, Height * scale->y}
                                : TzrVector2{Width, Height};
  if (size.x == 0 || size.y == 0) return;
  // Half a pixel up and left, so texels land on pixel centres.
  const TzrVector2 pivot{0.5f / size.x + PivotX, 0.5f / size.y + PivotY};
  const TzrUVRect uv{U0, V0, U1, V1};
  QuadRenderer->AddQuad(TextureIndex, &uv, &size, &pivot, angle, position, colours,
                        layer == kOwnLayer ? Layer : layer);
}

void TzrD3DSprite::DrawPart(const TzrUVRect& part, const TzrVector2* scale, float angle,
                            TzrVector2 position, const uint32_t* colours, int layer) {
  TzrVector2 size = scale ? TzrVector2{Width * scale->x, Height * scale->y} : TzrVector2{Width, Height};
  size = {(part.u1 - part.u0) * size.x, (part.v1 - part.v0) * size.y};
  const TzrUVRect uv{(1 - part.u0) * U0 + part.u0 * U1, (1 - part.v0) * V0 + part.v0 * V1,
                     (1 - part.u1) * U0 + part.u1 * U1, (1 - part.v1) * V0 + part.v1 * V1};
  const TzrVector2 pivot{PivotX, PivotY};
  QuadRenderer->AddQuad(TextureIndex, &uv, &size, &pivot, angle, position, colours,
                        layer == kOwnLayer ? Layer : layer);
}

// ---- point renderer -------------------------------------------------------------------------

TzrD3DPointRenderer::TzrD3DPointRenderer(TzrD3Device8* device, int capacity, int textureIndex)
    : TzrD3DRenderer(device), Capacity(std::clamp(capacity, 1, kMaxPoints)),
      TextureIndex(textureIndex) {
  Points.assign(size_t(Capacity), kPointVertexTemplate);
}

TzrD3DPointRenderer::~TzrD3DPointRenderer() { ReleaseBuffers(); }

bool TzrD3DPointRenderer::AddPoint(float x, float y, float size, uint32_t colour) {
  if (PointCount == Capacity) {
    if (Capacity >= kMaxPoints) {
      if (!WarnedFull) {
        WarnedFull = true;
        Log("Too many points: more than " + IntToStr(kMaxPoints) +
                " in one frame, the rest is not drawn",
            ltWarning);
      }
      return false;
    }
    // Grow the store; the buffer follows at the next restore.
    Capacity = std::min(Capacity * 2, kMaxPoints);
    Points.resize(size_t(Capacity), kPointVertexTemplate);
    Device->Restored = false;
  }
  TzrPointVertex& p = Points[size_t(PointCount++)];
  p.x = x;
  p.y = y;
  p.size = size;
  p.color = colour;
  return true;
}

void TzrD3DPointRenderer::Reset() {
  PointCount = 0;
  WarnedFull = false;
}

void TzrD3DPointRenderer::ReleaseBuffers() { VertexBuffer.Reset(); }

void TzrD3DPointRenderer::RestoreBuffers() {
  ReleaseBuffers();
  IDirect3DDevice8* d = Device->Device.Get();
  try {
    CheckD3DResult(d->CreateVertexBuffer(UINT(Capacity) * sizeof(TzrPointVertex),
                                         D3DUSAGE_DYNAMIC | D3DUSAGE_POINTS |
                                             D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_WRITEONLY,
                                         kPointVertexFormat, D3DPOOL_DEFAULT, VertexBuffer.Receive()),
                   D3DERR_OWN_CREATEVERTEXBUFFER, "");
    BufferCapacity = Capacity;
    CheckD3DResult(d->SetRenderState(D3DRS_POINTSCALEENABLE, 0), 0, "D3DRS_POINTSCALEENABLE");
    CheckD3DResult(d->SetRenderState(D3DRS_POINTSPRITEENABLE, 1), 0, "D3DRS_POINTSPRITEENABLE");
  } catch (const std::exception& e) {
    Log("Error initializing state: " + MessageOf(e), ltWarning);
    throw;
  }
}

void TzrD3DPointRenderer::Flush() {
  const int n = std::min(PointCount, BufferCapacity);
  if (n == 0 || !VertexBuffer) return;
  IDirect3DDevice8* d = Device->Device.Get();
  DWORD flags = D3DLOCK_NOOVERWRITE;
  if (VBCursor + n > BufferCapacity) {
    VBCursor = 0;
    flags = D3DLOCK_DISCARD;
  }
  BYTE* p = nullptr;
  CheckD3DResult(VertexBuffer->Lock(UINT(VBCursor) * sizeof(TzrPointVertex),
                                    UINT(n) * sizeof(TzrPointVertex), &p, flags),
                 0, "pointvblock");
  std::memcpy(p, Points.data(), size_t(n) * sizeof(TzrPointVertex));
  VertexBuffer->Unlock();

  CheckD3DResult(d->SetTexture(0, Device->GetTexture(TextureIndex)->Texture.Get()), 0, "settexture");
  CheckD3DResult(d->SetStreamSource(0, VertexBuffer.Get(), sizeof(TzrPointVertex)), 0,
                 "setstreamsource");
  CheckD3DResult(d->SetVertexShader(kPointVertexFormat), 0, "setvertexshader");
  if (Additive) {
    CheckD3DResult(d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE), 0, "D3DRS_DESTBLEND");
    try {
      CheckD3DResult(d->DrawPrimitive(D3DPT_POINTLIST, UINT(VBCursor), UINT(n)), 0, "drawprimitive");
    } catch (...) {
      // Quads drawn later must not blend additively because a draw failed.
      d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      throw;
    }
    CheckD3DResult(d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA), 0,
                   "PointRenderer D3DRS_DESTBLEND");
  } else {
    CheckD3DResult(d->DrawPrimitive(D3DPT_POINTLIST, UINT(VBCursor), UINT(n)), 0, "drawprimitive");
  }
  VBCursor += n;
}
