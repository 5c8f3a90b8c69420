// Writes the program's version-information block (layout in src/shell/VersInfo.h) for the build
// to embed. Standalone on purpose: the base library embeds the block, so this tool cannot link it.
//
//   mkversioninfo OUT FILEVERSION PRODUCTVERSION FLAGSMASK FLAGS LANGUAGE CODEPAGE [KEY=VALUE...]
//
// Versions are "a.b.c.d" (each part 0 .. 65535), numbers decimal or 0x hexadecimal. The strings
// form one table under the translation LANGUAGE/CODEPAGE, which is also the only translation.
// OUT is rewritten only when its bytes change, so an unchanged block does not re-embed resources.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {
[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "mkversioninfo: %s\n", message.c_str());
  std::exit(1);
}

uint32_t Number(const char* text, uint32_t max) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0' || v > max) Fail(std::string("bad number \"") + text + "\"");
  return static_cast<uint32_t>(v);
}

// "a.b.c.d" as the high and low words of a fixed version.
void Version(const std::string& text, uint32_t& high, uint32_t& low) {
  uint32_t parts[4];
  std::size_t from = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = text.find('.', from);
    if ((i < 3) == (dot == std::string::npos)) Fail("bad version \"" + text + "\"");
    parts[i] = Number(text.substr(from, dot == std::string::npos ? std::string::npos : dot - from).c_str(), 0xFFFF);
    from = dot + 1;
  }
  high = parts[0] << 16 | parts[1];
  low = parts[2] << 16 | parts[3];
}

void U16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void U32(std::string& out, uint32_t v) {
  U16(out, v & 0xFFFF);
  U16(out, v >> 16);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) Fail("usage: mkversioninfo OUT FILEVERSION PRODUCTVERSION FLAGSMASK FLAGS LANGUAGE CODEPAGE [KEY=VALUE...]");
  uint32_t fileHigh, fileLow, productHigh, productLow;
  Version(argv[2], fileHigh, fileLow);
  Version(argv[3], productHigh, productLow);
  const uint32_t mask = Number(argv[4], 0xFFFFFFFF), flags = Number(argv[5], 0xFFFFFFFF);
  const uint32_t language = Number(argv[6], 0xFFFF), codePage = Number(argv[7], 0xFFFF);

  std::string table;
  U16(table, language);
  U16(table, codePage);
  U16(table, static_cast<uint32_t>(argc - 8));
  for (int i = 8; i < argc; ++i) {
    const std::string kv = argv[i];
    const std::size_t eq = kv.find('=');
    if (eq == std::string::npos || eq == 0 || eq > 255 || kv.size() - eq - 1 > 0xFFFF)
      Fail("bad string \"" + kv + "\"");
    U16(table, static_cast<uint32_t>(eq));
    table += kv.substr(0, eq);
    U16(table, static_cast<uint32_t>(kv.size() - eq - 1));
    table += kv.substr(eq + 1);
  }

  const std::size_t size = 44 + 4 + table.size();
  if (size > 65536) Fail("block too large");
  std::string block = "KTVERINF";
  U16(block, 1);  // layout
  U16(block, 1);  // translations
  U16(block, 1);  // string tables
  U16(block, 0);
  U32(block, static_cast<uint32_t>(size));
  U32(block, fileHigh);
  U32(block, fileLow);
  U32(block, productHigh);
  U32(block, productLow);
  U32(block, mask);
  U32(block, flags);
  U16(block, language);
  U16(block, codePage);
  block += table;

  {
    std::ifstream old(argv[1], std::ios::binary);
    if (old && std::string(std::istreambuf_iterator<char>(old), {}) == block) return 0;
  }
  const std::string tmp = std::string(argv[1]) + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    if (!out.flush()) Fail("cannot write " + tmp);
  }
  if (std::rename(tmp.c_str(), argv[1]) != 0) Fail(std::string("cannot write ") + argv[1]);
  return 0;
}
