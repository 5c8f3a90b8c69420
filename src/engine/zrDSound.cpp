#include "engine/zrDSound.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/SysUtils.h"
#include "engine/tools.h"

namespace {
TSoundTickSource TickSource = nullptr;
uint32_t Now() { return TickSource ? TickSource() : GetTickCount(); }

constexpr uint32_t kBufferFlags =
    DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;  // 0x100E0
constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

// Unlocks a locked buffer however the fill ends.
struct TUnlockGuard {
  IDirectSoundBuffer* B;
  void* P1;
  uint32_t N1;
  void* P2;
  uint32_t N2;
  ~TUnlockGuard() { B->Unlock(P1, N1, P2, N2); }
};
}  // namespace

void SetSoundTickSource(TSoundTickSource source) { TickSource = source; }

std::string DSoundErrorText(uint32_t code) {
  switch (code) {
    case 0x81010001: return "Directsound is not properly installed! Cannot play any sound.";
    case 0x81010002: return "Failed to create DirectSound";
    case 0x81010003: return "Failed to set cooperative level.";
    case 0x81010004: return "Error loading ACM driver library";
    case 0x81010005: return "Could not get ACM driver procedure address";
    case 0x81010006: return "Error adding ACM driver";
    case 0x81010007: return "Error opening ACM driver";
    case 0x81010008: return "Error closing ACM driver";
    case 0x81010009: return "Error removing ACM driver";
    default: return "Unrecognized Error";
  }
}

void CheckDSResult(HRESULT result, uint32_t ownCode, const std::string& context) {
  if (result >= 0) return;
  if (result == DSERR_BUFFERLOST) {
    Log("Sound buffer lost", ltInfo);
    throw EDirectXBufferLostError("Buffer Lost");
  }
  const std::string platform = DSResultText(result);
  const uint32_t code = static_cast<uint32_t>(result);
  if (ownCode != 0) {
    LogCode("D3D $" + IntToHex(code, 8) + ": " + platform + " - " + DSoundErrorText(ownCode) + " " + context, ownCode);
    throw EDirectXError(DSoundErrorText(ownCode), result);
  }
  LogCode(platform + " " + context, code);
  throw EDirectXError(platform, result);
}

// ---------------------------------------------------------------------------------------------

TzrDSound::TzrDSound(void* window, uint32_t cooperativeLevel, const WAVEFORMATEX* format) {
  Silent = false;
  Enabled = true;
  try {
    CheckDSResult(DirectSoundCreate(nullptr, &DirectSound), 0, "");
    CheckDSResult(DirectSound->SetCooperativeLevel(window, cooperativeLevel), 0, "");
    DSBUFFERDESC desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    CheckDSResult(DirectSound->CreateSoundBuffer(&desc, &PrimaryBuffer), 0, "");
    if (cooperativeLevel != DSSCL_NORMAL) {
      WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
      if (format) f = *format;
      CheckDSResult(PrimaryBuffer->SetFormat(&f), 0, "");
    }
    Failed = false;
    StreamTimer = std::make_unique<TThreadedTimer>();
    StreamTimer->SetInterval(250);
    StreamTimer->OnTimer = [this](TThreadedTimer*) { UpdateStreams(); };
    StreamTimer->SetEnabled(false);
  } catch (const Exception&) {
    // Logged by the check; the game runs without sound.
    Failed = true;
  }
}

TzrDSound::~TzrDSound() {
  StreamTimer.reset();
  while (!Sounds.empty()) delete Sounds.back();
  PrimaryBuffer.reset();
  DirectSound.reset();
  try {
    UnloadACMDriver();
  } catch (const Exception&) {
    // Logged; nothing more can be done while going away.
  }
}

void TzrDSound::AddSound(TzrDSoundFile* soundFile) { Sounds.push_back(soundFile); }

void TzrDSound::RemoveSound(TzrDSoundFile* soundFile) {
  auto it = std::find(Sounds.begin(), Sounds.end(), soundFile);
  if (it != Sounds.end()) Sounds.erase(it);
}

void TzrDSound::LoadACMDriver(const std::string& fileName) {
  UnloadACMDriver();
  ACMFileName = fileName;
  ACMModule = LoadLibrary(fileName);
  if (!ACMModule) LogAndRaise(DSoundErrorText(0x81010004), 0x81010004, "");
  auto proc = reinterpret_cast<DRIVERPROC>(GetProcAddress(ACMModule, "DriverProc"));
  if (!proc) LogAndRaise(DSoundErrorText(0x81010005), 0x81010005, "");
  if (acmDriverAdd(&ACMDriverID, ACMModule, proc, 0, ACM_DRIVERADDF_FUNCTION) != 0)
    LogAndRaise(DSoundErrorText(0x81010006), 0x81010006, "");
  if (acmDriverOpen(&ACMDriver, ACMDriverID, 0) != 0) LogAndRaise(DSoundErrorText(0x81010007), 0x81010007, "");
}

void TzrDSound::UnloadACMDriver() {
  if (ACMDriver) {
    if (acmDriverClose(ACMDriver, 0) != 0) LogAndRaise(DSoundErrorText(0x81010008), 0x81010008, "");
    ACMDriver = nullptr;
  }
  if (ACMDriverID) {
    if (acmDriverRemove(ACMDriverID, 0) != 0) LogAndRaise(DSoundErrorText(0x81010009), 0x81010009, "");
    ACMDriverID = nullptr;
  }
  if (ACMModule) {
    FreeLibrary(ACMModule);
    ACMModule = nullptr;
  }
}

void TzrDSound::UpdateStreams() {
  for (std::size_t i = 0; i < Sounds.size(); ++i) {
    TzrDSoundFile* s = Sounds[i];
    if (s->Mode == 0 && s->Playing) s->Update(false);
  }
}

void TzrDSound::WriteWaveFile(TWaveReadStream* source, const std::string& fileName) {
  HMMIO h = nullptr;
  try {
    TWavePCMReader reader(source, ACMDriver);
    const WAVEFORMATEX* f = reader.PCMFormat;
    h = mmioOpen(fileName.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    if (!h) throw Exception("Can't create file stream.");
    MMCKINFO riff{};
    riff.fccType = kWave;
    if (mmioCreateChunk(h, &riff, MMIO_CREATERIFF) != 0) throw Exception("Error creating chunk wave.");
    MMCKINFO ck{};
    ck.ckid = kFmt;
    ck.cksize = sizeof(WAVEFORMATEX) + f->cbSize;
    if (mmioCreateChunk(h, &ck, 0) != 0) throw Exception("Error creating chunk fmt.");
    const int32_t fmtSize = static_cast<int32_t>(ck.cksize);
    if (mmioWrite(h, f, fmtSize) != fmtSize) throw Exception("Error writing wave format.");
    if (mmioAscend(h, &ck, 0) != 0) throw Exception("Cannot ascend chunk.");
    ck = MMCKINFO{};
    ck.ckid = kData;
    if (mmioCreateChunk(h, &ck, 0) != 0) throw Exception("Error creating chunk.");
    uint8_t buf[4096];
    for (;;) {
      const int32_t n = reader.Read(buf, sizeof(buf));
      if (n <= 0) break;
      if (mmioWrite(h, buf, n) != n) throw Exception("Error writing PCM data");
    }
    mmioSeek(h, 0, MMIO_SEEK_END);
    if (mmioAscend(h, &ck, 0) != 0 || mmioAscend(h, &riff, 0) != 0) throw Exception("Cannot ascend chunk.");
    if (mmioFlush(h, 0) != 0) throw Exception("Cannot flush.");
    HMMIO done = h;
    h = nullptr;
    if (mmioClose(done, 0) != 0) throw Exception("Cannot flush.");
  } catch (const Exception& e) {
    if (h) mmioClose(h, 0);
    LogAndRaise(e.Message, 0, "");
  }
}

// ---------------------------------------------------------------------------------------------

TzrDSoundFile* TzrDSoundFile::CreateFromResource(TzrDSound* owner, uint32_t bufferMs, uint8_t mode,
                                                 const std::string& resourceType, const std::string& resourceName,
                                                 HMODULE module) {
  auto* s = new TzrDSoundFile;
  s->Owner = owner;
  s->Mode = mode;
  s->SourceKind = 1;
  s->SourceModule = module;
  s->SourceName = resourceName.substr(0, 100);
  s->SourceType = resourceType.substr(0, 50);
  s->Name = LowerCase(resourceName);
  s->SetUp(bufferMs);
  return s;
}

TzrDSoundFile* TzrDSoundFile::CreateFromFile(TzrDSound* owner, uint32_t bufferMs, uint8_t mode,
                                             const std::string& fileName) {
  auto* s = new TzrDSoundFile;
  s->Owner = owner;
  s->Mode = mode;
  s->SourceKind = 0;
  s->SourcePath = ChangeFileExt(fileName, ".wav").substr(0, 2000);
  s->Name = LowerCase(ChangeFileExt(ExtractFileName(fileName), ""));
  s->SetUp(bufferMs);
  return s;
}

std::unique_ptr<TWaveReadStream> TzrDSoundFile::OpenSource() const {
  if (SourceKind == 0) return std::make_unique<TFileWaveReadStream>(SourcePath);
  return std::make_unique<TResourceWaveReadStream>(SourceModule, SourceType, SourceName);
}

void TzrDSoundFile::SetUp(uint32_t bufferMs) {
  if (!Owner->Enabled || Owner->Failed) State = 3;
  try {
    Source = OpenSource();
  } catch (const std::exception& e) {
    State = 2;
    ErrorText = e.what();
  }
  if (State == 0) {
    try {
      Reader = std::make_unique<TWavePCMReader>(Source.get(), Owner->ACMDriver);
    } catch (const std::exception& e) {
      State = 1;
      ErrorText = e.what();
    }
  }
  if (State == 0) {
    try {
      const WAVEFORMATEX* pcm = Reader->PCMFormat;
      if (Mode == 4) {
        const int64_t duration = pcm->nAvgBytesPerSec > 0 ? Reader->PCMSize * 1000 / pcm->nAvgBytesPerSec
                                                         : std::numeric_limits<int64_t>::max();
        Mode = static_cast<int64_t>(bufferMs) >= duration ? 2 : 0;
      }
      std::memcpy(&Format, pcm, sizeof(WAVEFORMAT));
      BitsPerSample = pcm->wBitsPerSample;
      DSBUFFERDESC desc;
      desc.dwFlags = kBufferFlags;
      if (Mode != 0) desc.dwFlags |= DSBCAPS_STATIC;
      if (Mode == 1) desc.dwFlags |= DSBCAPS_LOCSOFTWARE;
      if (Mode == 3) desc.dwFlags |= DSBCAPS_LOCHARDWARE;
      desc.lpwfxFormat = pcm;
      if (Mode != 0) {
        // No buffer can hold more than DSBSIZE_MAX, so that is all a static sound reads.
        const int64_t want = std::clamp<int64_t>(Reader->PCMSize, 0, DSBSIZE_MAX);
        std::vector<uint8_t> block(static_cast<std::size_t>(want));
        int64_t got = 0;
        while (got < want) {
          const int32_t n = Reader->Read(block.data() + got, static_cast<int32_t>(std::min<int64_t>(want - got, 1 << 24)));
          if (n <= 0) break;
          got += n;
        }
        BufferBytes = static_cast<uint32_t>(got);
        desc.dwBufferBytes = BufferBytes;
        CheckDSResult(Owner->DirectSound->CreateSoundBuffer(&desc, &Buffer), 0, "");
        void *p1 = nullptr, *p2 = nullptr;
        uint32_t n1 = 0, n2 = 0;
        CheckDSResult(Buffer->Lock(0, BufferBytes, &p1, &n1, &p2, &n2, 0), 0, "");
        std::memcpy(p1, block.data(), std::min(n1, BufferBytes));
        CheckDSResult(Buffer->Unlock(p1, n1, p2, n2), 0, "");
      } else {
        const uint64_t second = static_cast<uint64_t>(pcm->nSamplesPerSec) * pcm->nChannels * (pcm->wBitsPerSample / 8);
        BufferBytes = static_cast<uint32_t>(std::min<uint64_t>(second, 0xFFFFFFFFu));
        desc.dwBufferBytes = BufferBytes;
        CheckDSResult(Owner->DirectSound->CreateSoundBuffer(&desc, &Buffer), 0, "");
        Prime();
      }
    } catch (const std::exception& e) {
      State = 2;
      ErrorText = e.what();
      Buffer.reset();
    }
  }
  Owner->AddSound(this);
  if (Mode != 0) {
    Reader.reset();
    Source.reset();
  }
  if (State == 1 || State == 2) Log("Error in sound \"" + Name + "\": " + ErrorText, ltWarning);
}

TzrDSoundFile* TzrDSoundFile::CreateDuplicate(TzrDSoundFile* master) {
  if (master->Mode == 0) LogAndRaise("Can't duplicate a streaming buffer", 0, "");
  auto* s = new TzrDSoundFile;
  s->Owner = master->Owner;
  s->BufferBytes = master->BufferBytes;
  s->State = master->State;
  s->Name = master->Name;
  s->Lost = master->Lost;
  s->Mode = master->Mode;
  s->SourceKind = master->SourceKind;
  s->SourcePath = master->SourcePath;
  s->SourceModule = master->SourceModule;
  s->SourceName = master->SourceName;
  s->SourceType = master->SourceType;
  s->Format = master->Format;
  s->BitsPerSample = master->BitsPerSample;
  if (s->State == 0) {
    try {
      CheckDSResult(s->Owner->DirectSound->DuplicateSoundBuffer(master->Buffer.get(), &s->Buffer), 0, "");
    } catch (const Exception& e) {
      s->State = 2;
      s->ErrorText = e.Message;
    }
  }
  s->Owner->AddSound(s);
  return s;
}

TzrDSoundFile::~TzrDSoundFile() {
  Buffer.reset();
  Owner->RemoveSound(this);
  Reader.reset();
  Source.reset();
}

void TzrDSoundFile::Prime() {
  if (Primed) return;
  Paused = false;
  WritePos = 0;
  EndPos = 0;
  SilenceEnd = 0;
  WrittenTotal = 0;
  Ended = false;
  Update(true);
  SetPosition(0);
}

void TzrDSoundFile::Update(bool restart) {
  if (State != 0 || Mode != 0 || !Reader) return;  // static sounds have nothing to refill
  try {
    uint32_t count;
    if (restart) {
      Reader->Rewind();
      count = BufferBytes;
      Primed = true;
    } else {
      // Differences keep the limit right across the wrap of the 32-bit tick count.
      const uint32_t now = Now();
      if (now - LastUpdate < 50) return;
      LastUpdate = now;
      uint32_t p = 0;
      CheckDSResult(Buffer->GetCurrentPosition(&p, nullptr), 0, "");
      count = WritePos <= p ? p - WritePos : BufferBytes + p - WritePos;
      if (count == 0) return;
      // The cursor's place in the stream: the ring was full, one buffer ahead of it, before it moved.
      if (Ended && WrittenTotal - BufferBytes + count >= EndPos) {
        Stop();
        return;
      }
    }
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    CheckDSResult(Buffer->Lock(WritePos, count, &p1, &n1, &p2, &n2, 0), 0, "");
    TUnlockGuard unlock{Buffer.get(), p1, n1, p2, n2};
    Fill(static_cast<uint8_t*>(p1), n1);
    if (p2 && n2 > 0) Fill(static_cast<uint8_t*>(p2), n2);
  } catch (const EDirectXBufferLostError&) {
    Lost = true;
  }
}

void TzrDSoundFile::Fill(uint8_t* region, uint32_t count) {
  uint32_t n = 0;
  if (!Ended) {
    bool rewound = false;
    while (n < count) {
      const int32_t r = Reader->Read(region + n, static_cast<int32_t>(count - n));
      n += static_cast<uint32_t>(std::max(r, 0));
      if (n >= count || !Loop) break;
      // A source that yields nothing right after a rewind never will: give up, play silence.
      if (r <= 0 && rewound) break;
      Reader->Rewind();
      rewound = true;
    }
  }
  if (n < count) {
    std::memset(region + n, BitsPerSample == 8 ? 0x80 : 0, count - n);
    if (!Ended) {
      Ended = true;
      EndPos = WrittenTotal + n;
    }
    SilenceEnd = (WritePos + count) % BufferBytes;
  }
  WritePos = (WritePos + count) % BufferBytes;
  WrittenTotal += count;
}

void TzrDSoundFile::Play() {
  if (IsLost() || State != 0) return;
  try {
    if (Paused) {
      CheckDSResult(Buffer->Play(0, 0, (Loop || Mode == 0) ? DSBPLAY_LOOPING : 0), 0, "");
    } else if (Mode != 0 && !Loop) {
      if (!Owner->Silent) CheckDSResult(Buffer->Play(0, 0, 0), 0, "");
    } else {
      if (!Owner->Silent) CheckDSResult(Buffer->Play(0, 0, DSBPLAY_LOOPING), 0, "");
      Playing = true;
    }
  } catch (const EDirectXBufferLostError&) {
    Lost = true;
  }
}

void TzrDSoundFile::Stop() {
  Playing = false;
  Paused = false;
  Primed = false;
  if (State != 0) return;
  CheckDSResult(Buffer->Stop(), 0, "");
  SetPosition(0);
  if (Mode == 0) Prime();
}

void TzrDSoundFile::Pause() {
  if (State != 0) return;
  uint32_t status = 0;
  CheckDSResult(Buffer->GetStatus(&status), 0, "");
  if (status & DSBSTATUS_PLAYING) {
    CheckDSResult(Buffer->Stop(), 0, "");
    Paused = true;
  }
}

void TzrDSoundFile::SetVolume(int32_t volume) {
  if (State == 0) CheckDSResult(Buffer->SetVolume(volume), 0, "");
}

void TzrDSoundFile::SetPosition(uint32_t offset) {
  if (State == 0) CheckDSResult(Buffer->SetCurrentPosition(offset), 0, "");
}

bool TzrDSoundFile::IsLost() {
  if (State != 0) return false;
  uint32_t status = 0;
  CheckDSResult(Buffer->GetStatus(&status), 0, "");
  if (Lost || (status & DSBSTATUS_BUFFERLOST)) Restore();
  return Lost;
}

bool TzrDSoundFile::Restore() {
  Lost = false;
  Paused = false;
  if (State == 0) {
    uint32_t status = 0;
    CheckDSResult(Buffer->GetStatus(&status), 0, "");
    if (status & DSBSTATUS_BUFFERLOST) {
      if (Buffer->Restore() >= 0) {
        if (Mode == 0) {
          // The ring's contents went with the memory: fill it again from the start.
          Primed = false;
          Prime();
        } else {
          Reload();
        }
        if (Playing && Loop) Play();
      } else {
        Lost = true;
      }
    }
  }
  return !Lost;
}

void TzrDSoundFile::Reload() {
  std::unique_ptr<TWaveReadStream> source = OpenSource();
  TWavePCMReader reader(source.get(), Owner->ACMDriver);
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  CheckDSResult(Buffer->Lock(0, BufferBytes, &p1, &n1, &p2, &n2, 0), 0, "");
  TUnlockGuard unlock{Buffer.get(), p1, n1, p2, n2};
  uint32_t got = 0;
  while (got < n1) {
    const int32_t r = reader.Read(static_cast<uint8_t*>(p1) + got, static_cast<int32_t>(n1 - got));
    if (r <= 0) break;
    got += static_cast<uint32_t>(r);
  }
  if (got < n1) Log("Wave data read inferior to requested", ltWarning);
}
