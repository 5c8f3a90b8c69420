// Input records come from replay files (one of them downloaded): loading and playing back any
// bytes must end in a result or EReadError.
#include <cstddef>
#include <cstdint>

#include "base/Streams.h"
#include "game/KTInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream s(data, size);
  TKTInput in;
  try {
    in.LoadFromStream(s);
  } catch (const EReadError&) {
    return 0;
  }
  bool dirs[4], fire, shift, keys[2];
  for (int i = 0; i < 100000 && in.GetInput(dirs, fire, shift, keys); ++i) {
  }
  TMemoryStream out;
  in.SaveToStream(out);
  return 0;
}
