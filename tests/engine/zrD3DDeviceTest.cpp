// The rendering device: creation, frames, device loss and recovery, registration lists.
#include "D3DTestSupport.h"

namespace {

// Holds one default-pool buffer like the real renderers and counts what the device asks.
class TProbeRenderer : public TzrD3DRenderer {
public:
  TProbeRenderer(TzrD3Device8* d, std::vector<std::string>* trace = nullptr, const char* name = "")
      : TzrD3DRenderer(d), Trace(trace), Name(name) {}
  ~TProbeRenderer() override {
    if (Trace) Trace->push_back(std::string("~") + Name);
  }
  void Reset() override {
    ++Resets;
    Batch = 0;
  }
  void ReleaseBuffers() override { Buffer.Reset(); }
  void RestoreBuffers() override {
    ++Restores;
    CheckD3DResult(Device->Device->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT,
                                                      Buffer.Receive()),
                   D3DERR_OWN_CREATEVERTEXBUFFER, "");
  }
  void Flush() override {
    ++Flushes;
    ASSERT_TRUE(Buffer) << "flushed without buffers";
  }
  TComPtr<IDirect3DVertexBuffer8> Buffer;
  int Resets = 0, Restores = 0, Flushes = 0, Batch = 0;
  std::vector<std::string>* Trace;
  const char* Name;
};

using Device = D3DFakeTest;

TEST_F(Device, CreationFillsPresentParametersAndLogs) {
  TzrD3Device8& dev = MakeDevice(D3DFMT_R5G6B5, true);
  D3DPRESENT_PARAMETERS pp = Fake.PresentParams();
  EXPECT_EQ(pp.BackBufferWidth, 800u);
  EXPECT_EQ(pp.BackBufferHeight, 600u);
  EXPECT_EQ(pp.BackBufferFormat, D3DFMT_R5G6B5);
  EXPECT_EQ(pp.BackBufferCount, 0u);
  EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
  EXPECT_EQ(pp.Windowed, -1);
  EXPECT_EQ(pp.EnableAutoDepthStencil, 0);
  EXPECT_EQ(pp.Flags, D3DPRESENTFLAG_LOCKABLE_BACKBUFFER);
  EXPECT_EQ(pp.FullScreen_PresentationInterval, 0u);
  EXPECT_EQ(dev.TextureFilter, DWORD(D3DTEXF_LINEAR));
  EXPECT_TRUE(dev.Restored);
  EXPECT_TRUE(LogHas("* Info: Creating device: AdapterId=0 / DeviceType=1 / Behavior=32 / "
                     "Width=800 / Height=600 / Format=R5G6B5 / Windowed=1 / "
                     "EnableAutoDepthStencil=0 / AutoDepthStencilFormat=Unknown"));
  // The projection is set at once (zero: everything is pre-transformed).
  EXPECT_EQ(Fake.CountCalls("SetTransform"), 1);
}

TEST_F(Device, CreationFailureRaisesWithOwnCode) {
  Enumerate();
  Fake.Failures["CreateDevice"] = D3DERR_INVALIDCALL;
  try {
    MakeDevice();
    FAIL();
  } catch (const EDirect3DError& e) {
    EXPECT_EQ(e.Message, "Failed to create device");
    EXPECT_EQ(e.ErrorCode, uint32_t(D3DERR_INVALIDCALL));
  }
  EXPECT_TRUE(LogHas("* Msg 8100000A: D3D $8876086C: " + D3DResultDescription(D3DERR_INVALIDCALL) +
                     " - Failed to create device "));
  EXPECT_EQ(Fake.LiveObjects(), 1);  // only the Direct3D object
}

TEST_F(Device, PresentLossWhileLevelIsFineReleasesNothing) {
  TzrD3Device8& dev = MakeDevice();
  auto* r = new TProbeRenderer(&dev);
  dev.BeginScene();
  dev.RenderAll();
  dev.EndScene();
  Fake.PresentResults = {D3DERR_DEVICELOST};
  dev.Present();
  EXPECT_FALSE(dev.Lost);
  EXPECT_TRUE(r->Buffer);
  EXPECT_FALSE(dev.BeginDeviceLost());
  EXPECT_EQ(Fake.LiveDefaultPoolResources(), 1);
}

TEST_F(Device, LossCycleReleasesSkipsFlushesAndRestores) {
  TzrD3Device8& dev = MakeDevice();
  auto* r = new TProbeRenderer(&dev);
  int lost = 0, restored = 0;
  dev.OnDeviceLost = [&](TzrD3Device8* s) { lost += s == &dev; };
  dev.OnDeviceRestored = [&](TzrD3Device8* s) { restored += s == &dev; };
  dev.RenderAll();
  EXPECT_EQ(r->Flushes, 1);

  Fake.LoseDevice();
  dev.Present();
  EXPECT_TRUE(dev.Lost);
  EXPECT_FALSE(r->Buffer);
  EXPECT_EQ(Fake.LiveDefaultPoolResources(), 0);
  EXPECT_EQ(lost, 1);
  EXPECT_TRUE(LogHasPrefix("* Info: Begin device lost ("));

  // Lost frames flush nothing but still reset, and a second present changes nothing.
  for (int i = 0; i < 3; ++i) {
    r->Batch = 5;
    dev.RenderAll();
    EXPECT_EQ(r->Batch, 0);
  }
  dev.Present();
  EXPECT_EQ(r->Flushes, 1);
  EXPECT_EQ(r->Resets, 4);
  EXPECT_EQ(lost, 1);
  EXPECT_FALSE(dev.CheckDevice());

  // The device may be reset: the next check resets, restores and draws again.
  Fake.DeviceCanReset();
  Fake.ClearRecords();
  dev.RenderAll();
  EXPECT_FALSE(dev.Lost);
  EXPECT_EQ(restored, 1);
  EXPECT_EQ(r->Flushes, 2);
  EXPECT_TRUE(r->Buffer);
  EXPECT_EQ(Fake.CountCalls("Reset"), 1);
  EXPECT_EQ(Fake.CountCalls("SetTransform"), 1);
  EXPECT_TRUE(LogHasPrefix("* Info: End device lost ("));
}

TEST_F(Device, FailedResetIsRetriedAtTheNextCheck) {
  TzrD3Device8& dev = MakeDevice();
  new TProbeRenderer(&dev);
  dev.RenderAll();
  Fake.LoseDevice();
  dev.Present();
  Fake.DeviceCanReset();
  Fake.Failures["Reset"] = D3DERR_DRIVERINTERNALERROR;
  EXPECT_FALSE(dev.CheckDevice());
  EXPECT_TRUE(dev.Lost);
  Fake.Failures.clear();
  EXPECT_TRUE(dev.CheckDevice());
  EXPECT_FALSE(dev.Lost);
}

TEST_F(Device, FailedRestoreAfterResetIsRetried) {
  TzrD3Device8& dev = MakeDevice();
  auto* r = new TProbeRenderer(&dev);
  dev.RenderAll();
  Fake.LoseDevice();
  dev.Present();
  Fake.DeviceCanReset();
  Fake.Failures["CreateVertexBuffer"] = E_OUTOFMEMORY;
  EXPECT_THROW(dev.CheckDevice(), EDirect3DError);
  EXPECT_TRUE(dev.Lost);
  EXPECT_EQ(Fake.CooperativeLevel, D3D_OK);  // the reset itself went through
  Fake.Failures.clear();
  EXPECT_TRUE(dev.CheckDevice());
  EXPECT_FALSE(dev.Lost);
  EXPECT_TRUE(r->Buffer);
}

TEST_F(Device, RendererRegisteredDuringLossGetsBuffersOnlyAtRecovery) {
  TzrD3Device8& dev = MakeDevice();
  new TProbeRenderer(&dev);
  dev.RenderAll();
  Fake.LoseDevice();
  dev.Present();
  auto* late = new TProbeRenderer(&dev);
  dev.RenderAll();
  // Buffers made now would keep the reset from succeeding.
  EXPECT_EQ(late->Restores, 0);
  EXPECT_EQ(Fake.LiveDefaultPoolResources(), 0);
  Fake.DeviceCanReset();
  dev.RenderAll();
  EXPECT_FALSE(dev.Lost);
  EXPECT_EQ(late->Restores, 1);
  EXPECT_EQ(late->Flushes, 1);
}

TEST_F(Device, RendererCreatedAfterTheDeviceRestoresInTheNextRenderAll) {
  TzrD3Device8& dev = MakeDevice();
  auto* first = new TProbeRenderer(&dev);
  EXPECT_FALSE(dev.Restored);
  EXPECT_FALSE(first->Buffer);
  dev.RenderAll();
  EXPECT_TRUE(first->Buffer);
  EXPECT_EQ(first->Flushes, 1);
  auto* second = new TProbeRenderer(&dev);
  dev.RenderAll();
  EXPECT_EQ(first->Restores, 2);  // a restore rebuilds every renderer
  EXPECT_EQ(second->Restores, 1);
  EXPECT_EQ(second->Flushes, 1);
}

TEST_F(Device, FlushSceneReadsOnePixelOncePerEndScene) {
  TzrD3Device8& dev = MakeDevice();
  dev.BeginScene();
  dev.EndScene();
  Fake.ClearRecords();
  dev.FlushScene();
  dev.FlushScene();
  auto locks = Calls("BackBuffer.LockRect");
  ASSERT_EQ(locks.size(), 1u);
  EXPECT_EQ(std::vector<uint64_t>(locks[0]->Args.begin() + 1, locks[0]->Args.end()),
            (std::vector<uint64_t>{0, 0, 1, 1, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK}));
  EXPECT_EQ(Fake.CountCalls("BackBuffer.UnlockRect"), 1);
  EXPECT_EQ(Fake.LiveDefaultPoolResources(), 0);  // the surface was released

  // A failure is logged, never raised.
  dev.BeginScene();
  dev.EndScene();
  Fake.Failures["BackBuffer.LockRect"] = D3DERR_INVALIDCALL;
  EXPECT_NO_THROW(dev.FlushScene());
  EXPECT_TRUE(LogHas("* Warning: Error flushing scene: " + D3DResultDescription(D3DERR_INVALIDCALL)));
}

TEST_F(Device, PresentFailureOtherThanLossRaises) {
  TzrD3Device8& dev = MakeDevice();
  Fake.PresentResults = {D3DERR_DRIVERINTERNALERROR};
  EXPECT_THROW(dev.Present(), EDirect3DError);
  EXPECT_TRUE(LogHas("* Msg 88760827: Internal driver error. present"));
}

TEST_F(Device, DestroyFreesRegisteredRenderersThenTextures) {
  TzrD3Device8& dev = MakeDevice();
  std::vector<std::string> trace;
  new TProbeRenderer(&dev, &trace, "a");
  new TProbeRenderer(&dev, &trace, "b");
  MakeTexture();
  MakeTexture();
  dev.RenderAll();
  Dev.reset();
  EXPECT_EQ(trace, (std::vector<std::string>{"~b", "~a"}));
  EXPECT_EQ(Fake.LiveObjects(), 1);  // the Direct3D object

  // Owners that free first leave the lists empty.
  TzrD3Device8& dev2 = MakeDevice();
  auto* r = new TProbeRenderer(&dev2, &trace, "c");
  TzrD3DTexture8* t = MakeTexture();
  EXPECT_EQ(dev2.GetTexture(0), t);
  delete r;
  delete t;
  EXPECT_TRUE(dev2.Renderers.empty());
  EXPECT_TRUE(dev2.Textures.empty());
  EXPECT_THROW(dev2.GetTexture(0), EListError);
}

TEST_F(Device, SupportsTextureFormatAsksForTheBackBufferFormat) {
  TzrD3Device8& dev = MakeDevice(D3DFMT_R5G6B5);
  Fake.Adapters[0].TextureFormats = {D3DFMT_A4R4G4B4};
  Fake.ClearRecords();
  EXPECT_TRUE(dev.SupportsTextureFormat(D3DFMT_A4R4G4B4));
  EXPECT_FALSE(dev.SupportsTextureFormat(D3DFMT_A8R8G8B8));
  EXPECT_EQ(Fake.CallTexts("CheckDeviceFormat")[0], "CheckDeviceFormat(0, 1, 23, 0, 3, 26)");
}

}  // namespace
