// The replay-pack reader on hostile input (the world's best pack comes from the server). The
// first byte chooses plain content (enciphered here) or the file as it stands; every record of
// a pack that loads is then read as a level record.
#include <cstdint>
#include <string>

#include "base/Streams.h"
#include "game/KTGlobal.h"
#include "game/ReplayPack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string file = (data[0] & 1) ? rest : EncipherBytes(kReplayPackKey, rest);
  TStringStream in(file);
  TReplayPack pack(&in);
  for (int32_t level = 1; level <= pack.Count(); ++level) {
    TMemoryStream m;
    pack.GetLevelReplay(m, level);
    TReplayLevelRecord r;
    try {
      r.ReadFromStream(m);
      bool dirs[4], fire, shift, keys[2];
      for (int i = 0; i < 1000 && r.Input.GetInput(dirs, fire, shift, keys); ++i) {
      }
    } catch (const Exception&) {
    }
  }
  // What a pack holds never exceeds what was read (the plain text is padded to whole blocks).
  if (pack.PlainContent().size() > rest.size() + 8 && pack.Count() > 0) __builtin_trap();
  return 0;
}
