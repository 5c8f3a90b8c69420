// Quad renderer, sprites, the sorted bucket index and the point renderer.
#include <array>
#include <cmath>
#include <cstring>

#include "D3DTestSupport.h"

namespace {

TEST(IntSortedList, EqualKeysGoAfterAndFindGivesInsertionPoint) {
  TIntSortedList l;
  EXPECT_EQ(l.Add(5, 100), 0);
  EXPECT_EQ(l.Add(3, 101), 0);
  EXPECT_EQ(l.Add(5, 102), 2);
  EXPECT_EQ(l.GetKey(0), 3);
  EXPECT_EQ(l.GetKey(1), 5);
  EXPECT_EQ(l.GetValue(2), 102);
  int i = -1;
  EXPECT_FALSE(l.Find(4, i));
  EXPECT_EQ(i, 1);
  EXPECT_TRUE(l.Find(5, i));
  EXPECT_EQ(l.GetKey(i), 5);
  EXPECT_FALSE(l.Find(9, i));
  EXPECT_EQ(i, 3);
  EXPECT_THROW(l.GetKey(3), EListError);
  EXPECT_THROW(l.GetValue(-1), EListError);
  // Keys far apart compare correctly (a subtraction would overflow).
  l.Clear();
  EXPECT_EQ(l.Count, 0);
  l.Add(INT32_MAX, 1);
  l.Add(INT32_MIN, 2);
  l.Add(INT32_MAX, 3);
  l.Add(0, 4);
  EXPECT_EQ(l.GetKey(0), INT32_MIN);
  EXPECT_EQ(l.GetKey(1), 0);
  EXPECT_EQ(l.GetValue(3), 3);
  EXPECT_TRUE(l.Find(INT32_MIN, i));
  EXPECT_EQ(i, 0);
  for (int k = 0; k < 30; ++k) l.Add(k, k);
  EXPECT_EQ(l.Capacity, 40);
}

TEST(RotateQuad, CornersTurnClockwiseOnScreen) {
  TzrVector2 c[4];
  const TzrVector2 size{10, 20}, pivot{0.5f, 0.5f};
  RotateQuad(&size, &pivot, {100, 50}, 0, c);
  EXPECT_FLOAT_EQ(c[0].x, 95);
  EXPECT_FLOAT_EQ(c[0].y, 40);
  EXPECT_FLOAT_EQ(c[2].x, 105);
  EXPECT_FLOAT_EQ(c[2].y, 60);
  RotateQuad(&size, &pivot, {100, 50}, float(M_PI / 2), c);
  // Top-left goes to the top-right side: (x, y) -> (-y, x) around the pivot.
  EXPECT_NEAR(c[0].x, 110, 1e-4);
  EXPECT_NEAR(c[0].y, 45, 1e-4);
  EXPECT_NEAR(c[1].x, 110, 1e-4);
  EXPECT_NEAR(c[1].y, 55, 1e-4);
  RotateQuad(nullptr, nullptr, {3, 4}, 0, c);
  EXPECT_FLOAT_EQ(c[2].x, 4);
  EXPECT_FLOAT_EQ(c[2].y, 5);
}

class Quads : public D3DFakeTest {
protected:
  void SetUp() override {
    D3DFakeTest::SetUp();
    MakeDevice();
    for (int i = 0; i < 8; ++i) MakeTexture(64, 0x010101u * uint32_t(i));
    QR = new TzrD3DQuadRenderer(Dev.get(), 1000);
    Frame();  // restores the buffers
    Fake.ClearRecords();
  }
  void Frame() {
    Dev->BeginScene();
    Dev->RenderAll();
    Dev->EndScene();
  }
  static std::vector<TzrQuadVertex> Verts(const TFakeD3DDraw& d) {
    std::vector<TzrQuadVertex> v(d.Vertices.size() / sizeof(TzrQuadVertex));
    std::memcpy(v.data(), d.Vertices.data(), d.Vertices.size());
    return v;
  }
  int TextureId(int index) {
    // The fake texture id bound for a texture index, as SetTexture recorded it.
    Dev->Device->SetTexture(0, Dev->GetTexture(index)->Texture.Get());
    int id = int(Fake.Calls.back().Args[1]);
    Fake.Calls.pop_back();
    return id;
  }
  // A 10 x 10 quad at x (top-left) with texture t, layer l.
  void Quad(int t, int layer, float x, float y = 0) {
    const TzrVector2 size{10, 10};
    QR->AddQuad(t, nullptr, &size, nullptr, 0, {x, y}, nullptr, layer);
  }
  // Signed area of a quad's vertices in screen coordinates: > 0 means clockwise on screen.
  static float Area(const TzrQuadVertex* v) {
    float a = 0;
    for (int i = 0; i < 4; ++i) a += v[i].x * v[(i + 1) % 4].y - v[(i + 1) % 4].x * v[i].y;
    return a / 2;
  }
  TzrD3DQuadRenderer* QR = nullptr;
};

TEST_F(Quads, LayersSharingATextureDrawInOneCallLowerLayerFirst) {
  Quad(2, 5, 500);
  Quad(2, 1, 100);
  Frame();
  ASSERT_EQ(Fake.Draws.size(), 1u);
  const TFakeD3DDraw& d = Fake.Draws[0];
  EXPECT_EQ(d.PrimitiveCount, 4u);
  EXPECT_EQ(d.NumVertices, 8u);
  EXPECT_EQ(d.TextureId, TextureId(2));
  EXPECT_EQ(d.Fvf, kQuadVertexFormat);
  EXPECT_EQ(d.Stride, 28u);
  std::vector<TzrQuadVertex> v = Verts(d);
  EXPECT_FLOAT_EQ(v[0].x, 100);
  EXPECT_FLOAT_EQ(v[4].x, 500);
  // Triangles 3-0-2 and 1-2-0 of each quad.
  EXPECT_EQ(d.Indices, (std::vector<uint16_t>{3, 0, 2, 1, 2, 0, 7, 4, 6, 5, 6, 4}));
  EXPECT_EQ(QR->QuadCount, 0);
}

TEST_F(Quads, BatchesSplitWhereTheTextureChanges) {
  Quad(3, 2, 0);
  Quad(7, 1, 10);
  Quad(3, 1, 20);
  Quad(3, 1, 30);
  Frame();
  ASSERT_EQ(Fake.Draws.size(), 3u);
  EXPECT_EQ(Fake.Draws[0].TextureId, TextureId(3));
  EXPECT_EQ(Fake.Draws[0].PrimitiveCount, 4u);
  EXPECT_EQ(Fake.Draws[1].TextureId, TextureId(7));
  EXPECT_EQ(Fake.Draws[2].TextureId, TextureId(3));
  // Within one key the call order holds.
  std::vector<TzrQuadVertex> v = Verts(Fake.Draws[0]);
  EXPECT_FLOAT_EQ(v[0].x, 20);
  EXPECT_FLOAT_EQ(v[4].x, 30);

  Fake.ClearRecords();
  Quad(3, 1, 0);
  Quad(3, 2, 10);
  Frame();
  EXPECT_EQ(Fake.Draws.size(), 1u);
}

TEST_F(Quads, CullingIsHorizontalOnly) {
  TzrVector2 right[4] = {{801, 0}, {811, 0}, {811, 10}, {801, 10}};
  TzrVector2 left[4] = {{-11, 0}, {-1, 0}, {-1, 10}, {-11, 10}};
  TzrVector2 edge[4] = {{-5, 0}, {5, 0}, {5, 10}, {-5, 10}};
  TzrVector2 below[4] = {{0, 700}, {10, 700}, {10, 710}, {0, 710}};
  TzrVector2 onEdge[4] = {{800, 0}, {810, 0}, {810, 10}, {800, 10}};
  EXPECT_FALSE(QR->AddQuadVerts(0, right, nullptr, nullptr, 0, false));
  EXPECT_FALSE(QR->AddQuadVerts(0, left, nullptr, nullptr, 0, false));
  EXPECT_TRUE(QR->AddQuadVerts(0, edge, nullptr, nullptr, 0, false));
  EXPECT_TRUE(QR->AddQuadVerts(0, below, nullptr, nullptr, 0, false));
  EXPECT_TRUE(QR->AddQuadVerts(0, onEdge, nullptr, nullptr, 0, false));
  EXPECT_EQ(QR->QuadCount, 3);
}

TEST_F(Quads, SpriteMirroredByScaleStaysClockwiseAndVisible) {
  RECT src{0, 0, 32, 16};
  POINT pivot{16, 8};
  auto* s = new TzrD3DSprite(QR, 1, &src, &pivot, 0, 0, 7);
  EXPECT_FLOAT_EQ(s->U1, 0.5f);
  EXPECT_FLOAT_EQ(s->V1, 0.25f);
  EXPECT_FLOAT_EQ(s->Width, 32);
  EXPECT_FLOAT_EQ(s->PivotX, 0.5f);
  struct Case {
    TzrVector2 scale;
    bool uFlipped, vFlipped;
  } cases[] = {{{1, 1}, false, false}, {{-1, 1}, true, false}, {{1, -1}, false, true}, {{-1, -1}, true, true}};
  for (const Case& c : cases) {
    Fake.ClearRecords();
    s->Draw(&c.scale, {400, 300}, 0, nullptr);
    Frame();
    ASSERT_EQ(Fake.Draws.size(), 1u);
    std::vector<TzrQuadVertex> v = Verts(Fake.Draws[0]);
    EXPECT_GT(Area(v.data()), 0) << c.scale.x << "," << c.scale.y;
    // The vertex at the screen's top-left shows the u0 or the u1 side.
    int tl = 0;
    for (int i = 1; i < 4; ++i)
      if (v[i].x + v[i].y < v[tl].x + v[tl].y) tl = i;
    EXPECT_FLOAT_EQ(v[tl].u, c.uFlipped ? 0.5f : 0.0f);
    EXPECT_FLOAT_EQ(v[tl].v, c.vFlipped ? 0.25f : 0.0f);
    // Half a pixel up and left in every case.
    EXPECT_NEAR(v[tl].x, 383.5f, 1e-4);
    EXPECT_NEAR(v[tl].y, 291.5f, 1e-4);
  }
  EXPECT_EQ(Fake.Draws[0].RenderStates[D3DRS_CULLMODE], DWORD(D3DCULL_CCW));
}

TEST_F(Quads, ZeroScaleQueuesNothingAndEmptyPartAZeroQuad) {
  auto* s = new TzrD3DSprite(QR, 0, nullptr, nullptr, 0, 0, 0);
  EXPECT_FLOAT_EQ(s->Width, 64);
  TzrVector2 zero{0, 1};
  s->Draw(&zero, {10, 10}, 0, nullptr);
  EXPECT_EQ(QR->QuadCount, 0);
  s->DrawPart(TzrUVRect{0.5f, 0, 0.5f, 1}, nullptr, 0, {10, 10}, nullptr);
  EXPECT_EQ(QR->QuadCount, 1);
  // A half part uses half of the sprite's texture rectangle, without the half-pixel shift.
  s->DrawPart(TzrUVRect{0, 0, 0.5f, 1}, nullptr, 0, {10, 10}, nullptr);
  const TzrQuadVertex* v = QR->Quads[1].Vertices;
  EXPECT_FLOAT_EQ(v[0].x, 10);
  EXPECT_FLOAT_EQ(v[2].x, 42);
  EXPECT_FLOAT_EQ(v[2].u, 0.5f);
  // Own layer unless a layer is given.
  uint32_t colours[4] = {1, 2, 3, 4};
  s->Draw(nullptr, {0, 0}, 0, colours, 9);
  EXPECT_EQ(QR->Quads[2].Vertices[3].color, 4u);
  int index;
  EXPECT_TRUE(QR->BucketIndex.Find(9 << 8, index));
  delete s;
  EXPECT_TRUE(QR->Sprites.empty());
}

TEST_F(Quads, RingRestartsWithADiscardingLock) {
  auto locks = [&] {
    std::vector<std::vector<uint64_t>> r;
    for (auto* c : Calls("VertexBuffer.Lock")) r.push_back({c->Args[1], c->Args[2], c->Args[3]});
    return r;
  };
  for (int i = 0; i < 600; ++i) Quad(0, 0, 0);
  Frame();
  for (int i = 0; i < 300; ++i) Quad(0, 0, 0);
  Frame();
  for (int i = 0; i < 200; ++i) Quad(0, 0, 0);
  Frame();
  EXPECT_EQ(locks(), (std::vector<std::vector<uint64_t>>{
                         {0, 600 * 112, D3DLOCK_NOOVERWRITE},
                         {600 * 112, 300 * 112, D3DLOCK_NOOVERWRITE},
                         {0, 200 * 112, D3DLOCK_DISCARD}}));
  ASSERT_EQ(Fake.Draws.size(), 3u);
  EXPECT_EQ(Fake.Draws[1].MinIndex, 600u * 4);
  EXPECT_EQ(Fake.Draws[1].StartIndex, 600u * 6);
  EXPECT_EQ(Fake.Draws[2].MinIndex, 0u);
  EXPECT_EQ(QR->VBCursor, 200);
}

TEST_F(Quads, RestoreSetsStatesAndBuffers) {
  Fake.ClearRecords();
  Dev->Restore();
  EXPECT_EQ(Fake.RenderState(D3DRS_CULLMODE), DWORD(D3DCULL_CCW));
  EXPECT_EQ(Fake.RenderState(D3DRS_FILLMODE), DWORD(D3DFILL_SOLID));
  EXPECT_EQ(Fake.RenderState(D3DRS_ZENABLE), 0u);
  EXPECT_EQ(Fake.RenderState(D3DRS_ZWRITEENABLE), 0u);
  EXPECT_EQ(Fake.RenderState(D3DRS_LIGHTING), 0u);
  EXPECT_EQ(Fake.RenderState(D3DRS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(Fake.RenderState(D3DRS_SRCBLEND), DWORD(D3DBLEND_ONE));
  EXPECT_EQ(Fake.RenderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(Fake.StageState(0, D3DTSS_MAGFILTER), DWORD(D3DTEXF_LINEAR));
  EXPECT_EQ(Fake.StageState(0, D3DTSS_MINFILTER), DWORD(D3DTEXF_LINEAR));
  EXPECT_EQ(Fake.StageState(0, D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));
  EXPECT_EQ(Fake.StageState(0, D3DTSS_COLORARG2), DWORD(D3DTA_DIFFUSE));
  EXPECT_EQ(Fake.StageState(0, D3DTSS_ALPHAOP), DWORD(D3DTOP_MODULATE));
  EXPECT_EQ(Fake.CallTexts("CreateVertexBuffer"), std::vector<std::string>{"CreateVertexBuffer(112000, 536, 324, 0)"});
  EXPECT_EQ(Fake.CallTexts("CreateIndexBuffer"), std::vector<std::string>{"CreateIndexBuffer(12000, 24, 101, 0)"});
}

TEST_F(Quads, MissingCapabilitiesLeaveBlendingOffAndWarn) {
  delete QR;
  Dev.reset();
  Fake.Adapters[0].Caps.DestBlendCaps = D3DPBLENDCAPS_ONE;
  Fake.Adapters[0].Caps.TextureOpCaps = D3DTEXOPCAPS_SELECTARG1;
  Enumerate();
  MakeDevice();
  new TzrD3DQuadRenderer(Dev.get(), 10);
  Fake.ClearRecords();
  Frame();
  EXPECT_EQ(Fake.RenderState(D3DRS_ALPHABLENDENABLE), 0u);
  EXPECT_EQ(Fake.CountCalls("SetTextureStageState"), 2);  // the two filters
  EXPECT_TRUE(LogHas("* Warning: No support for texture operation modulate"));
}

TEST_F(Quads, BufferFailureIsLoggedAsStateErrorAndRaised) {
  Fake.Failures["CreateIndexBuffer"] = E_OUTOFMEMORY;
  try {
    Dev->Restore();
    FAIL();
  } catch (const EDirect3DError& e) {
    EXPECT_EQ(e.Message, "Failed to create index buffer");
  }
  EXPECT_TRUE(LogHas("* Warning: Error initializing state: Failed to create index buffer"));
  Fake.Failures = {{"SetRenderState", D3DERR_INVALIDCALL}};
  EXPECT_THROW(Dev->Restore(), EDirect3DError);
  EXPECT_TRUE(LogHas("* Msg 8876086C: " + D3DResultDescription(D3DERR_INVALIDCALL) + " D3DRS_CULLMODE"));
}

TEST_F(Quads, FailedDrawDropsTheFramesBatch) {
  Quad(0, 0, 0);
  Fake.Failures["DrawIndexedPrimitive"] = D3DERR_INVALIDCALL;
  EXPECT_THROW(Frame(), EDirect3DError);
  Dev->EndScene();
  EXPECT_EQ(QR->QuadCount, 0);
  EXPECT_TRUE(LogHas("* Msg 8876086C: " + D3DResultDescription(D3DERR_INVALIDCALL) + " drawindexedprimitive"));
}

TEST_F(Quads, StoreGrowsPastItsCapacityKeepingTheDrawOrder) {
  delete QR;
  QR = new TzrD3DQuadRenderer(Dev.get(), 4);
  Frame();
  Fake.ClearRecords();
  for (int i = 0; i < 10; ++i) Quad(i % 2, 3 - i % 3, float(i * 20));
  EXPECT_EQ(QR->QuadCount, 10);
  EXPECT_GE(QR->Capacity, 10);
  Frame();
  // The buffers were made again, large enough, before this frame's flush.
  auto vbs = Calls("CreateVertexBuffer");
  ASSERT_EQ(vbs.size(), 1u);
  EXPECT_GE(vbs[0]->Args[0], 10u * 112);
  std::vector<float> xs;
  for (const TFakeD3DDraw& d : Fake.Draws)
    for (size_t q = 0; q < Verts(d).size(); q += 4) xs.push_back(Verts(d)[q].x);
  // Layers 1, 2, 3; textures ascending inside each; call order inside each key.
  EXPECT_EQ(xs, (std::vector<float>{40, 160, 100, 80, 20, 140, 0, 120, 60, 180}));
  EXPECT_FALSE(LogHasPrefix("* Warning"));
}

TEST_F(Quads, BeyondTheIndexLimitTheRestIsDroppedWithOneWarningPerFrame) {
  for (int frame = 0; frame < 2; ++frame) {
    int queued = 0;
    for (int i = 0; i < TzrD3DQuadRenderer::kMaxQuads + 5; ++i) queued += QR->AddQuadVerts(
        0, std::array<TzrVector2, 4>{TzrVector2{0, 0}, {1, 0}, {1, 1}, {0, 1}}.data(), nullptr, nullptr, 0, false);
    EXPECT_EQ(queued, TzrD3DQuadRenderer::kMaxQuads);
    Frame();
  }
  int warnings = 0;
  for (const std::string& l : LogLines())
    warnings += l.rfind("* Warning: Too many simultaneous quads on end scene", 0) == 0;
  EXPECT_EQ(warnings, 2);
  unsigned drawn = 0;
  for (const TFakeD3DDraw& d : Fake.Draws) drawn += d.PrimitiveCount / 2;
  EXPECT_EQ(drawn, 2u * TzrD3DQuadRenderer::kMaxQuads);
}

TEST_F(Quads, QuadsWithATextureIndexOutside0To255AreDroppedWithOneWarningPerFrame) {
  for (int frame = 0; frame < 2; ++frame) {
    Quad(256, 1, 0);
    Quad(-1, 1, 0);
    Quad(0, 1, 0);  // the good quad of the frame is still drawn
    EXPECT_EQ(QR->QuadCount, 1);
    EXPECT_EQ(QR->AllocQuad(1, 1000), nullptr);
    Frame();
  }
  int warnings = 0;
  for (const std::string& l : LogLines())
    warnings += l == "* Warning: Invalid function parameters: texture index 256 is outside 0 to 255, the quad is "
                     "not drawn";
  EXPECT_EQ(warnings, 2);
  unsigned drawn = 0;
  for (const TFakeD3DDraw& d : Fake.Draws) drawn += d.PrimitiveCount / 2;
  EXPECT_EQ(drawn, 2u);
}

class Points : public Quads {
protected:
  void SetUp() override {
    Quads::SetUp();
    PR = new TzrD3DPointRenderer(Dev.get(), 5000, 4);
    Frame();
    Fake.ClearRecords();
  }
  TzrD3DPointRenderer* PR = nullptr;
};

TEST_F(Points, FrameWithoutPointsTouchesNothing) {
  Quad(0, 0, 0);
  Frame();
  // Only the quad renderer's calls.
  EXPECT_EQ(Fake.CountCalls("DrawPrimitive"), 0);
  EXPECT_EQ(Fake.CountCalls("SetRenderState"), 0);
  EXPECT_EQ(Fake.CountCalls("SetVertexShader"), 1);
}

TEST_F(Points, AdditiveModeRestoresTheBlendFactor) {
  PR->Additive = true;
  PR->AddPoint(10, 20, 8, 0x80FF0000);
  Frame();
  ASSERT_EQ(Fake.Draws.size(), 1u);
  const TFakeD3DDraw& d = Fake.Draws[0];
  EXPECT_FALSE(d.Indexed);
  EXPECT_EQ(d.Type, DWORD(D3DPT_POINTLIST));
  EXPECT_EQ(d.RenderStates[D3DRS_DESTBLEND], DWORD(D3DBLEND_ONE));
  EXPECT_EQ(d.RenderStates[D3DRS_POINTSPRITEENABLE], 1u);
  EXPECT_EQ(d.RenderStates[D3DRS_POINTSCALEENABLE], 0u);
  EXPECT_EQ(d.TextureId, TextureId(4));
  EXPECT_EQ(d.Fvf, kPointVertexFormat);
  TzrPointVertex v;
  std::memcpy(&v, d.Vertices.data(), sizeof v);
  EXPECT_FLOAT_EQ(v.x, 10);
  EXPECT_FLOAT_EQ(v.size, 8);
  EXPECT_FLOAT_EQ(v.z, 0.99999f);
  EXPECT_FLOAT_EQ(v.rhw, 1.0f);
  EXPECT_EQ(v.color, 0x80FF0000u);
  EXPECT_EQ(Fake.RenderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));

  // Also after a failed draw.
  PR->AddPoint(1, 1, 1, 0);
  Fake.Failures["DrawPrimitive"] = D3DERR_INVALIDCALL;
  EXPECT_THROW(Frame(), EDirect3DError);
  Dev->EndScene();
  EXPECT_EQ(Fake.RenderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(PR->PointCount, 0);

  // Plain mode leaves the factor alone.
  Fake.Failures.clear();
  PR->Additive = false;
  PR->AddPoint(1, 1, 1, 0);
  Fake.ClearRecords();
  Frame();
  EXPECT_EQ(Fake.Draws.at(0).RenderStates[D3DRS_DESTBLEND], DWORD(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(Fake.CountCalls("SetRenderState"), 0);
}

TEST_F(Points, SecondFrameOf3000StartsAtZeroWithDiscard) {
  for (int f = 0; f < 2; ++f) {
    for (int i = 0; i < 3000; ++i) PR->AddPoint(float(i), 0, 1, 0);
    Frame();
  }
  std::vector<std::vector<uint64_t>> locks;
  for (auto* c : Calls("VertexBuffer.Lock"))
    if (c->Args[2] == 3000 * 24) locks.push_back({c->Args[1], c->Args[3]});
  EXPECT_EQ(locks, (std::vector<std::vector<uint64_t>>{{0, D3DLOCK_NOOVERWRITE}, {0, D3DLOCK_DISCARD}}));
  EXPECT_EQ(Fake.CallTexts("DrawPrimitive"), (std::vector<std::string>{"DrawPrimitive(1, 0, 3000)", "DrawPrimitive(1, 0, 3000)"}));
  EXPECT_EQ(PR->VBCursor, 3000);
}

TEST_F(Points, StoreGrowsThenDropsWithOneWarningPerFrame) {
  for (int i = 0; i < 7000; ++i) EXPECT_TRUE(PR->AddPoint(float(i), 1, 2, 3));
  Frame();
  EXPECT_EQ(Fake.CallTexts("DrawPrimitive"), std::vector<std::string>{"DrawPrimitive(1, 0, 7000)"});
  EXPECT_EQ(Fake.CountCalls("CreateVertexBuffer"), 2);  // both renderers restored
  TzrPointVertex last;
  std::memcpy(&last, Fake.Draws.back().Vertices.data() + 6999 * sizeof last, sizeof last);
  EXPECT_FLOAT_EQ(last.x, 6999);
  EXPECT_FLOAT_EQ(last.z, 0.99999f);

  int added = 0;
  for (int i = 0; i < TzrD3DPointRenderer::kMaxPoints + 10; ++i) added += PR->AddPoint(0, 0, 1, 0);
  EXPECT_EQ(added, TzrD3DPointRenderer::kMaxPoints);
  Frame();
  int warnings = 0;
  for (const std::string& l : LogLines()) warnings += l.rfind("* Warning: Too many points", 0) == 0;
  EXPECT_EQ(warnings, 1);
}

}  // namespace
