#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <set>

#include "support/SoundTestSupport.h"
#include "engine/zrDInput.h"

using namespace soundtest;

namespace {
class Keyboard : public SoundTest {
protected:
  void SetUp() override {
    SoundTest::SetUp();
    SetKeyboardSource(&Fake);
    DI = std::make_unique<TzrDI8>(HInstance());
    Kbd = std::make_unique<TzrDIKeyboard>(DI.get(), DISCL_EXCLUSIVE | DISCL_FOREGROUND, &Focus);
    Kbd->OnInputLost = [this](TzrDIDevice* sender) {
      EXPECT_EQ(sender, Kbd.get());
      ++Losses;
    };
  }
  void TearDown() override {
    Kbd.reset();
    DI.reset();
    SetKeyboardSource(nullptr);
    SoundTest::TearDown();
  }
  TFakeKeyboard Fake;
  TInputFocus Focus;
  std::unique_ptr<TzrDI8> DI;
  std::unique_ptr<TzrDIKeyboard> Kbd;
  int Losses = 0;
  uint8_t State[256] = {};
};
}  // namespace

TEST(KeyboardTexts, ErrorTextsAndSuccessCodes) {
  EXPECT_EQ(DIErrorText(0x81060001), "Direct Input 8 not installed");
  EXPECT_EQ(DIErrorText(0x8106000A), "Failed to set keyboard format");
  EXPECT_EQ(DIErrorText(0x8106000B), "Unrecognized Error");
  EXPECT_EQ(DIErrorText(0), "Unrecognized Error");
  const std::string dir = TestDir();
  SetLogFile(dir + "qv.log");
  CheckDIResult(DI_NOEFFECT, 0x81060005, "x");  // a positive information code is a success
  EXPECT_EQ(fixtures::ReadFile(dir + "qv.log"), "");
  SetLogFile("");
}

TEST_F(Keyboard, KeysReadByDirectInputCode) {
  Fake.Press(DIK_SPACE);
  Fake.Press(DIK_LEFT);
  Kbd->GetState(State);  // acquires on the first read
  EXPECT_EQ(State[DIK_SPACE], 0x80);
  EXPECT_EQ(State[DIK_LEFT], 0x80);
  EXPECT_EQ(State[DIK_RIGHT], 0);
  EXPECT_TRUE(Kbd->Acquired);
  Fake.Release(DIK_SPACE);
  Kbd->GetState(State);
  EXPECT_EQ(State[DIK_SPACE], 0);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Keyboard, InputLossIsReportedOncePerLoss) {
  Kbd->GetState(State);
  Focus.SetFocused(false);
  Kbd->GetState(State);
  Kbd->GetState(State);
  EXPECT_EQ(Losses, 1);
  EXPECT_TRUE(Kbd->LostReported);
  // Back in focus: the next read re-acquires and succeeds, quietly.
  Focus.SetFocused(true);
  Fake.Press(DIK_1);
  Kbd->GetState(State);
  EXPECT_EQ(State[DIK_1], 0x80);
  EXPECT_FALSE(Kbd->LostReported);
  // A loss and return between two reads still counts as a loss: the read fails once, the
  // re-acquire and second read succeed, and nothing is reported or logged.
  Focus.SetFocused(false);
  Focus.SetFocused(true);
  Kbd->GetState(State);
  EXPECT_EQ(Losses, 1);
  Focus.SetFocused(false);
  Kbd->GetState(State);
  EXPECT_EQ(Losses, 2);
  EXPECT_TRUE(LogLines().empty());

  Kbd->OnInputLost = nullptr;
  Focus.SetFocused(true);
  Kbd->GetState(State);
  Focus.SetFocused(false);
  Kbd->GetState(State);  // no handler: no exception either
  EXPECT_TRUE(Kbd->LostReported);
}

TEST_F(Keyboard, OtherReadFailuresAreLoggedAndRaised) {
  Kbd->GetState(State);
  Fake.FailReads(DIERR_GENERIC, 2);
  const std::string text = DIResultText(DIERR_GENERIC);
  try {
    Kbd->GetState(State);
    FAIL();
  } catch (const EDirectInputError& e) {
    EXPECT_EQ(e.Message, text);
    EXPECT_EQ(e.ErrorCode, DIERR_GENERIC);
  }
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"* Msg 80004005: " + text + " "}));
  // One failed read followed by a good one: the state, no log line.
  Fake.FailReads(DIERR_GENERIC, 1);
  Fake.Press(DIK_Z);
  Kbd->GetState(State);
  EXPECT_EQ(State[DIK_Z], 0x80);
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(Keyboard, CreationFailuresCarryTheOwnCodes) {
  try {
    TzrDIKeyboard k(DI.get(), DISCL_EXCLUSIVE | DISCL_FOREGROUND, nullptr);
    FAIL();
  } catch (const EDirectInputError& e) {
    EXPECT_EQ(e.Message, "Failed to set cooperative level");
    EXPECT_EQ(e.ErrorCode, DIERR_INVALIDPARAM);
  }
  EXPECT_TRUE(LogHas("* Msg 81060005: DI $80070057: " + std::string(DIResultText(DIERR_INVALIDPARAM)) +
                     " - Failed to set cooperative level SetCooperativeLevel"));
  TDirectInput8CreateProc saved = pDirectInput8Create;
  pDirectInput8Create = nullptr;
  EXPECT_THROW(TzrDI8 missing(HInstance()), Exception);
  pDirectInput8Create = saved;
  EXPECT_TRUE(LogHas("* Msg 81060001: Direct Input 8 not installed"));
  try {
    TzrDI8 bad(nullptr);
    FAIL();
  } catch (const EDirectInputError& e) {
    EXPECT_EQ(e.Message, "Failed to create Direct Input 8");
  }
}

TEST(KeyboardMap, EverySdlKeyWithACodeMapsToIt) {
  struct Case { SDL_Scancode sdl; uint8_t dik; } cases[] = {
      {SDL_SCANCODE_ESCAPE, DIK_ESCAPE}, {SDL_SCANCODE_1, DIK_1},        {SDL_SCANCODE_0, DIK_0},
      {SDL_SCANCODE_Q, DIK_Q},           {SDL_SCANCODE_A, DIK_A},        {SDL_SCANCODE_Z, DIK_Z},
      {SDL_SCANCODE_M, DIK_M},           {SDL_SCANCODE_SPACE, DIK_SPACE}, {SDL_SCANCODE_LSHIFT, DIK_LSHIFT},
      {SDL_SCANCODE_RSHIFT, DIK_RSHIFT}, {SDL_SCANCODE_UP, DIK_UP},      {SDL_SCANCODE_DOWN, DIK_DOWN},
      {SDL_SCANCODE_LEFT, DIK_LEFT},     {SDL_SCANCODE_RIGHT, DIK_RIGHT}, {SDL_SCANCODE_RETURN, DIK_RETURN},
      {SDL_SCANCODE_KP_ENTER, DIK_NUMPADENTER}, {SDL_SCANCODE_RCTRL, DIK_RCONTROL}, {SDL_SCANCODE_F12, DIK_F12},
      {SDL_SCANCODE_PRINTSCREEN, DIK_SYSRQ}, {SDL_SCANCODE_KP_5, DIK_NUMPAD5}, {SDL_SCANCODE_NONUSBACKSLASH, DIK_OEM_102},
      {SDL_SCANCODE_F16, 0},             {SDL_SCANCODE_UNKNOWN, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(DIKFromSDLScancode(c.sdl), c.dik) << c.sdl;
  EXPECT_EQ(DIKFromSDLScancode(-1), 0);
  EXPECT_EQ(DIKFromSDLScancode(SDL_NUM_SCANCODES), 0);
  // Every key code of the main block 1..0x58 that a PC keyboard has comes from some SDL key.
  std::set<uint8_t> reached;
  for (int s = 0; s < SDL_NUM_SCANCODES; ++s) reached.insert(DIKFromSDLScancode(s));
  for (int k = 1; k <= 0x58; ++k) {
    if (k == 0x54 || k == 0x55) continue;  // not on PC keyboards
    EXPECT_TRUE(reached.count(static_cast<uint8_t>(k))) << k;
  }
}

TEST(KeyboardSdl, ReadsSdlKeyboardState) {
  SetKeyboardSource(nullptr);
  TInputFocus focus;
  TzrDI8 di(HInstance());
  TzrDIKeyboard kbd(&di, DISCL_EXCLUSIVE | DISCL_FOREGROUND, &focus);
  uint8_t state[256];
  std::memset(state, 0xAA, sizeof(state));
  kbd.GetState(state);
  for (uint8_t v : state) EXPECT_EQ(v, 0);  // nobody presses keys here
}

// A key pressed and released between two reads (a quick tap, a scripted key) reads as down in
// the next read, and only in that one; the latch comes from the key events in SDL's queue.
TEST(KeyboardSdl, ATapBetweenTwoReadsIsSeenOnce) {
  SetKeyboardSource(nullptr);
  TInputFocus focus;
  TzrDI8 di(HInstance());
  TzrDIKeyboard kbd(&di, DISCL_EXCLUSIVE | DISCL_FOREGROUND, &focus);
  auto push = [](Uint32 type, SDL_Scancode code) {
    SDL_Event e{};
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = code;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
  };
  uint8_t state[256];
  kbd.GetState(state);
  push(SDL_KEYDOWN, SDL_SCANCODE_D);
  push(SDL_KEYUP, SDL_SCANCODE_D);
  push(SDL_KEYDOWN, SDL_SCANCODE_ESCAPE);
  push(SDL_KEYUP, SDL_SCANCODE_ESCAPE);
  push(SDL_KEYUP, SDL_SCANCODE_SPACE);    // a release alone is no press
  push(SDL_KEYDOWN, SDL_SCANCODE_F16);    // a key without a code
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);  // taken off the queue before the read, as the window does
  kbd.GetState(state);
  for (int k = 0; k < 256; ++k) EXPECT_EQ(state[k], k == DIK_D || k == DIK_ESCAPE ? 0x80 : 0) << k;
  kbd.GetState(state);
  for (uint8_t v : state) EXPECT_EQ(v, 0);
  // A press before the focus went is not reported after it has come back.
  push(SDL_KEYDOWN, SDL_SCANCODE_SPACE);
  focus.SetFocused(false);
  kbd.GetState(state);
  EXPECT_TRUE(kbd.LostReported);
  focus.SetFocused(true);
  kbd.GetState(state);
  EXPECT_FALSE(kbd.LostReported);
  EXPECT_EQ(state[DIK_SPACE], 0);
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}
