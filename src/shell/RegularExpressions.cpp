#include "shell/RegularExpressions.h"

#include <pthread.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Compiler flags of a construct.
constexpr int HASWIDTH = 1;  // always consumes at least one character
constexpr int SIMPLE = 2;    // one one-character node: operand of the compact repeat nodes
constexpr int SPSTART = 4;   // starts with a star or plus

constexpr int32_t kOpenMax = 2147483646;  // open maximum of a counted repeat
constexpr int kHeader = 5;                // opcode + next offset
constexpr const char* kMeta = "^$.[()|?+*\\{";

const char* const kDefaultSpaces = " \t\n\r\f";
const char* const kDefaultWordChars =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
const char* const kDefaultLineSeparators = "\r\n";
const char* const kDefaultPair = "\r\n";
constexpr uint32_t kDefaultModifiers = kModR | kModS | kModG;

// Windows-1252 single-character case pairs; a fixed table so results never depend on the locale.
struct CaseTable {
  unsigned char other[256];
  constexpr CaseTable() : other() {
    for (int c = 0; c < 256; ++c) other[c] = static_cast<unsigned char>(c);
    auto pair = [this](int lo, int up) {
      other[lo] = static_cast<unsigned char>(up);
      other[up] = static_cast<unsigned char>(lo);
    };
    for (int c = 'a'; c <= 'z'; ++c) pair(c, c - 32);
    for (int c = 0xE0; c <= 0xFE; ++c)
      if (c != 0xF7) pair(c, c - 32);
    pair(0x9A, 0x8A);
    pair(0x9C, 0x8C);
    pair(0x9E, 0x8E);
    pair(0xFF, 0x9F);
  }
};
constexpr CaseTable kCase;

inline unsigned char Other(unsigned char c) { return kCase.other[c]; }

inline bool InSet(const uint8_t* set, unsigned char c) { return (set[c >> 3] >> (c & 7)) & 1; }
inline void AddToSet(uint8_t* set, unsigned char c) { set[c >> 3] |= static_cast<uint8_t>(1u << (c & 7)); }

inline int32_t ReadLE32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

inline const uint8_t* NextNode(const uint8_t* p) {
  int32_t off = ReadLE32(p + 1);
  return off == 0 ? nullptr : p + off;
}

inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool IsXSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Lowest stack address this thread may recurse down to; what lies below is kept for the
// exception that reports the limit. Computed once per thread.
uintptr_t ThreadStackGuard() {
  thread_local uintptr_t guard = [] {
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    uintptr_t low = 0;
    size_t size = 0;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* addr = nullptr;
      if (pthread_attr_getstack(&attr, &addr, &size) == 0) low = reinterpret_cast<uintptr_t>(addr);
      pthread_attr_destroy(&attr);
    }
    const uintptr_t kFallback = 512 * 1024;
    const uintptr_t kCap = 256u * 1024 * 1024;
    if (low == 0 || low >= here) low = here - kFallback;
    if (here - low > kCap) low = here - kCap;
    uintptr_t margin = std::min<uintptr_t>(256 * 1024, (here - low) / 4);
    return low + margin;
  }();
  return guard;
}

}  // namespace

char TRegularExpression::OtherCase(char c) {
  return static_cast<char>(Other(static_cast<unsigned char>(c)));
}

TRegularExpression::TRegularExpression() {
  for (int n = 1; n <= 5; ++n) SetModifier(n, (kDefaultModifiers >> (n - 1)) & 1);
  SpaceCharacters = kDefaultSpaces;
  WordCharacters = kDefaultWordChars;
  LineSeparators = kDefaultLineSeparators;
  SetLinePairedSeparator(kDefaultPair);
}

TRegularExpression::~TRegularExpression() = default;

// ---------------------------------------------------------------------------------------------
// Errors

std::string TRegularExpression::ErrorMessage(int32_t code) const {
  switch (code) {
    case reeCompNullArgument: return "TRegularExpression(comp): Null Argument";
    case reeCompParseRegTooManyBrackets: return "TRegularExpression(comp): ParseReg Too Many ()";
    case reeCompParseRegUnmatchedBrackets: return "TRegularExpression(comp): ParseReg Unmatched ()";
    case reeCompParseRegUnmatchedBrackets2: return "TRegularExpression(comp): ParseReg Unmatched ()";
    case reeCompParseRegJunkOnEnd: return "TRegularExpression(comp): ParseReg Junk On End";
    case reePlusStarOperandCouldBeEmpty: return "TRegularExpression(comp): *+ Operand Could Be Empty";
    case reeNestedSQP: return "TRegularExpression(comp): Nested *?+";
    case reeBadHexDigit: return "TRegularExpression(comp): Bad Hex Digit";
    case reeInvalidRange: return "TRegularExpression(comp): Invalid [] Range";
    case reeParseAtomTrailingBackSlash: return "TRegularExpression(comp): Parse Atom Trailing \\";
    case reeNoHexCodeAfterBSlashX: return "TRegularExpression(comp): No Hex Code After \\x";
    case reeHexCodeAfterBSlashXTooBig: return "TRegularExpression(comp): Hex Code After \\x Is Too Big";
    case reeUnmatchedSqBrackets: return "TRegularExpression(comp): Unmatched []";
    case reeInternalUrp: return "TRegularExpression(comp): Internal Urp";
    case reeQPSBFollowsNothing: return "TRegularExpression(comp): ?+*{ Follows Nothing";
    case reeTrailingBackSlash: return "TRegularExpression(comp): Trailing \\";
    case reeRarseAtomInternalDisaster: return "TRegularExpression(comp): RarseAtom Internal Disaster";
    case reeBRACESArgTooBig: return "TRegularExpression(comp): BRACES Argument Too Big";
    case reeBracesMinParamGreaterMax:
      return "TRegularExpression(comp): BRACE Min Param Greater then Max";
    case reeUnclosedComment: return "TRegularExpression(comp): Unclosed (?#Comment)";
    case reeUnrecognizedModifier: return "TRegularExpression(comp): Urecognized Modifier";
    case reeBadLinePairedSeparator:
      return "TRegularExpression(comp): LinePairedSeparator must countain two different chars or "
             "no chars at all";
    case reeRegRepeatCalledInappropriately:
      return "TRegularExpression(exec): RegRepeat Called Inappropriately";
    case reeMatchPrimMemoryCorruption: return "TRegularExpression(exec): MatchPrim Memory Corruption";
    case reeMatchPrimCorruptedPointers: return "TRegularExpression(exec): MatchPrim Corrupted Pointers";
    case reeNoExpression: return "TRegularExpression(exec): Not Assigned Expression Property";
    case reeCorruptedProgram: return "TRegularExpression(exec): Corrupted Program";
    case reeNoInputStringSpecified: return "TRegularExpression(exec): No Inpit String Specified";
    case reeOffsetMustBeGreaterThen0: return "TRegularExpression(exec): Offset Must Be Greater Then 0";
    case reeLoopStackExceeded: return "TRegularExpression(exec): Loop Stack Exceeded";
    case reeLoopWithoutEntry: return "TRegularExpression(exec): Loop Without LoopEntry !";
    case reeRecursionTooDeep:
      return "TRegularExpression(exec): Expression Too Complex For This Subject (Recursion Too Deep)";
    case reeStepLimitExceeded: return "TRegularExpression(exec): Step Limit Exceeded";
    default: return "Unknown error";
  }
}

void TRegularExpression::RaiseError(int32_t code) {
  lastError_ = code;
  int32_t pos = ErrorPosition();
  std::string msg = ErrorMessage(code);
  if (code < 1000) msg += " (pos " + std::to_string(pos) + ")";
  throw ERegularExpression(msg, code, pos);
}

void TRegularExpression::Error(int32_t code) {
  RaiseError(code);
  // An override that returns must not let the engine run on in a broken state.
  throw ERegularExpression(ErrorMessage(code), code, ErrorPosition());
}

int32_t TRegularExpression::ErrorPosition() const {
  if (!parse_ || !exprStart_) return 0;
  return static_cast<int32_t>(parse_ - exprStart_);
}

// ---------------------------------------------------------------------------------------------
// Properties

void TRegularExpression::SetExpression(const std::string& text) {
  std::string t = text.substr(0, text.find('\0'));
  if (compiled_ && t == expression_) return;
  compiled_ = false;
  expression_.clear();
  hasExpression_ = false;
  if (!t.empty()) {
    expression_ = t;
    hasExpression_ = true;
    FreeProgram();
  }
  // An empty text keeps the previous program: the next search runs it again.
}

void TRegularExpression::SetModifier(int number, bool on) {
  if (number < 1 || number > 6) Error(reeModifierUnsupported);
  uint32_t bit = 1u << (number - 1);
  if (on)
    Modifiers |= bit;
  else
    Modifiers &= ~bit;
}

bool TRegularExpression::GetModifier(int number) const {
  if (number < 1 || number > 6) return false;
  return (Modifiers >> (number - 1)) & 1;
}

bool TRegularExpression::ParseModifiers(const std::string& text, uint32_t& bits) {
  bool on = true;
  for (char c : text) {
    uint32_t bit;
    switch (c) {
      case '-': on = false; continue;
      case 'i': case 'I': bit = kModI; break;
      case 'r': case 'R': bit = kModR; break;
      case 's': case 'S': bit = kModS; break;
      case 'g': case 'G': bit = kModG; break;
      case 'm': case 'M': bit = kModM; break;
      case 'x': case 'X': bit = kModX; break;
      default: return false;
    }
    if (on)
      bits |= bit;
    else
      bits &= ~bit;
  }
  return true;
}

void TRegularExpression::SetLinePairedSeparator(const std::string& text) {
  if (text.size() == 2) {
    if (text[0] == text[1]) Error(reeBadLinePairedSeparator);
    unsigned char h = static_cast<unsigned char>(text[0]), t = static_cast<unsigned char>(text[1]);
    if (pairSet_ && h == pairHead_ && t == pairTail_) return;
    pairSet_ = true;
    pairHead_ = h;
    pairTail_ = t;
    FreeProgram();
  } else if (text.empty()) {
    if (!pairSet_) return;
    pairSet_ = false;
    FreeProgram();
  } else {
    Error(reeBadLinePairedSeparator);
  }
}

std::string TRegularExpression::LinePairedSeparator() const {
  if (!pairSet_) return std::string();
  return std::string{static_cast<char>(pairHead_), static_cast<char>(pairTail_)};
}

std::string TRegularExpression::RequiredLiteral() const {
  if (reqLiteral_ < 0) return std::string();
  return std::string(reinterpret_cast<const char*>(program_.data()) + reqLiteral_,
                     static_cast<size_t>(reqLiteralLen_));
}

void TRegularExpression::FreeProgram() {
  program_.clear();
  program_.shrink_to_fit();
  prefixLen_ = 0;
  prefixTable_.clear();
  scanA_ = ScanSet{};
  scanB_ = ScanSet{};
  chainLiterals_.clear();
  reqLiteral_ = -1;
  reqLiteralLen_ = 0;
  startChar_ = 0;
  anchored_ = 0;
  memoOk_ = false;
  backNodes_.clear();
  memoSlot_.clear();
  memoBits_.clear();
}

// ---------------------------------------------------------------------------------------------
// Program building blocks. Nodes are addressed by their offset in the program; offset 0 is the
// magic byte, so 0 also stands for "no node" and for every node of the size pass.

int32_t TRegularExpression::ReadInt(int at) const { return ReadLE32(program_.data() + at); }

void TRegularExpression::WriteInt(int at, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int k = 0; k < 4; ++k) program_[at + k] = static_cast<uint8_t>(u >> (8 * k));
}

int TRegularExpression::NextOf(int p) const {
  int32_t off = ReadInt(p + 1);
  return off == 0 ? 0 : p + off;
}

void TRegularExpression::EmitByte(uint8_t b) {
  if (sizing_) {
    ++programSize_;
    return;
  }
  program_[emitPos_++] = b;
}

void TRegularExpression::EmitInt(int32_t v) {
  if (sizing_) {
    programSize_ += 4;
    return;
  }
  WriteInt(emitPos_, v);
  emitPos_ += 4;
}

int TRegularExpression::EmitNode(uint8_t op) {
  if (sizing_) {
    programSize_ += kHeader;
    return 0;
  }
  int at = emitPos_;
  program_[emitPos_++] = op;
  for (int k = 0; k < 4; ++k) program_[emitPos_++] = 0;
  return at;
}

// Puts a node of `size` bytes (header and zeroed operand) in front of the operand at `at`.
void TRegularExpression::InsertNode(uint8_t op, int at, int size) {
  if (sizing_) {
    programSize_ += size;
    return;
  }
  std::memmove(program_.data() + at + size, program_.data() + at, static_cast<size_t>(emitPos_ - at));
  emitPos_ += size;
  program_[at] = op;
  std::memset(program_.data() + at + 1, 0, static_cast<size_t>(size - 1));
}

void TRegularExpression::SetTail(int p, int target) {
  if (sizing_ || p == 0) return;
  int scan = p;
  for (int n = NextOf(scan); n != 0; n = NextOf(scan)) scan = n;
  WriteInt(scan + 1, target - scan);
}

void TRegularExpression::SetOperandTail(int p, int target) {
  if (sizing_ || p == 0 || program_[p] != OpBranch) return;
  SetTail(p + kHeader, target);
}

// ---------------------------------------------------------------------------------------------
// Compiler

void TRegularExpression::Compile() {
  if (!hasExpression_) Error(reeNoExpression);
  bool ok = false;
  try {
    DoCompile();
    ok = true;
  } catch (...) {
    FreeProgram();
    exprStart_ = nullptr;
    parse_ = nullptr;
    compiled_ = false;
    throw;
  }
  exprStart_ = nullptr;
  parse_ = nullptr;
  compiled_ = ok;
}

void TRegularExpression::DoCompile() {
  parse_ = nullptr;
  exprStart_ = expression_.c_str();
  FreeProgram();

  // Size pass: count only.
  progModifiers_ = compModifiers_ = Modifiers;
  parse_ = exprStart_;
  nextGroup_ = 1;
  programSize_ = 0;
  sizing_ = true;
  emitPos_ = 0;
  int flags = 0;
  EmitByte(kMagic);
  ParseReg(false, flags);

  // Emit pass into a buffer of exactly that size.
  program_.assign(static_cast<size_t>(programSize_), 0);
  sizing_ = false;
  emitPos_ = 0;
  compModifiers_ = Modifiers;
  parse_ = exprStart_;
  nextGroup_ = 1;
  EmitByte(kMagic);
  ParseReg(false, flags);
  if (emitPos_ != programSize_) Error(reeCorruptedProgram);
  groupsUsed_ = nextGroup_;

  FillFirstCharSet();
  startChar_ = 0;
  anchored_ = 0;
  reqLiteral_ = -1;
  reqLiteralLen_ = 0;
  int first = 1;
  int next = NextOf(first);
  if (next != 0 && program_[next] == OpEnd) {
    int scan = first + kHeader;
    if (program_[scan] == OpLiteral)
      startChar_ = program_[scan + kHeader];
    else if (program_[scan] == OpInputStart)
      anchored_ = 1;
    // Every match passes each node of the top-level chain: its literals all stand in it.
    for (int n = scan; n != 0; n = NextOf(n))
      if ((program_[n] == OpLiteral || program_[n] == OpLiteralFold) && program_[n + kHeader] != 0)
        chainLiterals_.push_back(n);
    if (flags & SPSTART) {
      int longest = -1, len = 0;
      for (; scan != 0; scan = NextOf(scan)) {
        if (program_[scan] != OpLiteral) continue;
        const char* s = reinterpret_cast<const char*>(program_.data() + scan + kHeader);
        int l = static_cast<int>(std::strlen(s));
        if (l >= len) {
          longest = scan + kHeader;
          len = l;
        }
      }
      if (longest >= 0 && len > 0) {
        reqLiteral_ = longest;
        reqLiteralLen_ = len;
      }
    }
  }
  BuildPrefixFilter();
  IndexLoops();
}

// Finds the OpBack and loop nodes, which remember failures, and whether the program has a
// back-reference, which would make the rest of a match depend on the groups.
void TRegularExpression::IndexLoops() {
  backNodes_.clear();
  memoSlot_.assign(program_.size(), -1);
  memoOk_ = true;
  int slots = 0;
  size_t p = 1;
  while (p + kHeader <= program_.size()) {
    size_t operand = 0;
    switch (program_[p]) {
      case OpLiteral:
      case OpLiteralFold: {
        const char* text = reinterpret_cast<const char*>(program_.data() + p + kHeader);
        operand = strnlen(text, program_.size() - p - kHeader) + 1;
        break;
      }
      case OpRepeat:
      case OpRepeatLazy: operand = 8; break;
      case OpTinySet:
      case OpTinySetNot: operand = 3; break;
      case OpFullSet: operand = 32; break;
      case OpBackRef:
      case OpBackRefFold:
        operand = 1;
        memoOk_ = false;
        break;
      case OpBack:
        memoSlot_[p] = slots++;
        backNodes_.push_back(static_cast<int32_t>(p));
        break;
      case OpLoop:
      case OpLoopLazy:
        operand = 12;
        memoSlot_[p] = slots;
        slots += 2;  // after a pass that consumed something, and after one that did not
        break;
      default: break;
    }
    p += kHeader + operand;
  }
  if (p != program_.size()) memoOk_ = false;  // not a walk over whole nodes: remember nothing
  memoBits_.assign(static_cast<size_t>(slots), {});
}

namespace {

// Rough share of each byte in the text the program searches (trace logs: mostly lower-case
// words and spaces, some digits, few capitals and signs), to pick the rarest prefix sets.
struct ByteWeights {
  float w[256];
  constexpr ByteWeights() : w() {
    for (int c = 0; c < 256; ++c) w[c] = 0.05f;
    for (int c = 33; c < 127; ++c) w[c] = 0.3f;
    const char* letters = "etaoinshrdlcumwfgypbvkjxqz";
    const float freq[26] = {12.7f, 9.1f, 8.2f, 7.5f, 7.0f, 6.7f, 6.3f, 6.1f, 6.0f, 4.3f, 4.0f, 2.8f, 2.8f,
                            2.4f,  2.4f, 2.2f, 2.0f, 2.0f, 1.9f, 1.5f, 1.0f, 0.8f, 0.2f, 0.2f, 0.1f, 0.1f};
    for (int k = 0; k < 26; ++k) {
      w[static_cast<unsigned char>(letters[k])] = freq[k];
      w[static_cast<unsigned char>(letters[k] - 32)] = freq[k] * 0.15f;
    }
    for (int c = '0'; c <= '9'; ++c) w[c] = 1.5f;
    w[int{' '}] = 15.0f;
    w[int{'\r'}] = w[int{'\n'}] = 2.0f;
  }
};
constexpr ByteWeights kWeights;

constexpr int kPrefixWalkBudget = 4096;  // nodes looked at while deriving the prefix
constexpr int kPrefixWalkDepth = 16;     // nested alternations followed

using Bits = uint8_t[32];

void AllBut(uint8_t* set, unsigned char c) {
  std::memset(set, 0xFF, 32);
  set[c >> 3] &= static_cast<uint8_t>(~(1u << (c & 7)));
}

}  // namespace

// The set of characters a one-character node accepts (never NUL, at which every such node fails);
// false for nodes that are not one character.
bool TRegularExpression::OneCharSet(int p, uint8_t* set) const {
  const uint8_t* opnd = program_.data() + p + kHeader;
  std::memset(set, 0, 32);
  switch (program_[p]) {
    case OpAny: case OpAnyInLine: AllBut(set, 0); break;  // line separators: checked by the attempt
    case OpLiteral:
      if (!opnd[0]) return false;
      AddToSet(set, opnd[0]);
      break;
    case OpLiteralFold:
      if (!opnd[0]) return false;
      AddToSet(set, opnd[0]);
      AddToSet(set, Other(opnd[0]));
      break;
    case OpDigit:
      for (int c = '0'; c <= '9'; ++c) AddToSet(set, static_cast<unsigned char>(c));
      break;
    case OpNonDigit:
      AllBut(set, 0);
      for (int c = '0'; c <= '9'; ++c) set[c >> 3] &= static_cast<uint8_t>(~(1u << (c & 7)));
      break;
    case OpTinySet:
      for (int k = 0; k < 3; ++k) AddToSet(set, opnd[k]);
      break;
    case OpTinySetNot:
      AllBut(set, 0);
      for (int k = 0; k < 3; ++k) set[opnd[k] >> 3] &= static_cast<uint8_t>(~(1u << (opnd[k] & 7)));
      break;
    case OpFullSet: std::memcpy(set, opnd, 32); break;
    default: return false;
  }
  set[0] &= 0xFE;
  return true;
}

// Follows the program from node p, with `off` characters of every match already accounted for,
// and writes into sets[off...] the characters every match along this path has at each further
// position; returns how many positions from the match start are known. It stops where the
// length of what follows is not fixed (repeats, loops, back-references, the end). Alternatives
// are followed each and joined: a position is known as far as every alternative knows it.
int TRegularExpression::PrefixWalk(int p, int off, uint8_t (*sets)[32], int& budget, int depth) const {
  const uint8_t* prog = program_.data();
  while (p != 0 && off < kMaxPrefix) {
    if (--budget < 0) return off;
    const uint8_t op = prog[p];
    const uint8_t* opnd = prog + p + kHeader;
    const int next = NextOf(p);
    switch (op) {
      case OpInputStart: case OpInputEnd: case OpLineStart: case OpLineEnd: case OpNothing:
      case OpComment: case OpWordBoundary: case OpNotWordBoundary:
        p = next;  // zero-width: the position stays
        continue;
      case OpLiteral: case OpLiteralFold:
        for (const uint8_t* c = opnd; *c && off < kMaxPrefix; ++c, ++off) {
          std::memset(sets[off], 0, 32);
          AddToSet(sets[off], *c);
          if (op == OpLiteralFold) AddToSet(sets[off], Other(*c));
        }
        p = next;
        continue;
      case OpAny: case OpAnyInLine: case OpDigit: case OpNonDigit: case OpTinySet: case OpTinySetNot:
      case OpFullSet:
        OneCharSet(p, sets[off++]);
        p = next;
        continue;
      case OpPlus: case OpPlusLazy:
        return OneCharSet(p + kHeader, sets[off]) ? off + 1 : off;
      case OpRepeat: case OpRepeatLazy: {
        const int32_t mn = ReadLE32(opnd), mx = ReadLE32(opnd + 4);
        if (mn <= 0 || !OneCharSet(p + kHeader + 8, sets[off])) return off;
        const int copies = static_cast<int>(std::min<int64_t>(mn, kMaxPrefix - off));
        for (int k = 1; k < copies; ++k) std::memcpy(sets[off + k], sets[off], 32);
        off += copies;
        if (mn != mx || copies < mn) return off;
        p = next;  // a fixed count: what follows starts at a known position
        continue;
      }
      case OpBranch: {
        if (next == 0 || prog[next] != OpBranch) {
          p += kHeader;  // one alternative: no choice
          continue;
        }
        if (depth >= kPrefixWalkDepth) return off;
        Bits joined[kMaxPrefix], own[kMaxPrefix];
        int known = kMaxPrefix;
        for (int j = off; j < kMaxPrefix; ++j) std::memset(joined[j], 0, 32);
        for (int b = p; b != 0 && prog[b] == OpBranch; b = NextOf(b)) {
          const int k = PrefixWalk(b + kHeader, off, own, budget, depth + 1);
          known = std::min(known, k);
          for (int j = off; j < known; ++j)
            for (int i = 0; i < 32; ++i) joined[j][i] |= own[j][i];
          if (known == off) break;
        }
        for (int j = off; j < known; ++j) std::memcpy(sets[j], joined[j], 32);
        return known;
      }
      default:
        if (op >= OpOpen + 1 && op < OpClose + kGroupCount && op != OpClose) {
          p = next;  // group boundaries are zero-width too
          continue;
        }
        return off;  // the end, a back-reference, a loop, a repeat that may be empty, ...
    }
  }
  return off;
}

// Derives the start-position filter: the prefix sets of the walk, the first of them narrowed
// to the first-character rule (the start character when there is one), and the two rarest sets
// of at most four characters for the vector scan.
void TRegularExpression::BuildPrefixFilter() {
  prefixLen_ = 0;
  prefixTable_.clear();
  scanA_ = ScanSet{};
  scanB_ = ScanSet{};
  Bits sets[kMaxPrefix];
  int budget = kPrefixWalkBudget;
  int len = PrefixWalk(1, 0, sets, budget, 0);
  if (len == 0) {
    std::memset(sets[0], 0xFF, 32);
    len = 1;
  }
  Bits rule = {};
  if (startChar_ != 0) AddToSet(rule, startChar_);
  else std::memcpy(rule, firstCharSet_, 32);
  for (int i = 0; i < 32; ++i) sets[0][i] &= rule[i];
  sets[0][0] &= 0xFE;

  prefixLen_ = len;
  prefixTable_.assign(static_cast<size_t>(len) * 256, 0);
  float best = 1e30f, second = 1e30f;
  for (int j = 0; j < len; ++j) {
    ScanSet cand;
    cand.Offset = j;
    float weight = 0;
    for (int c = 0; c < 256; ++c) {
      if (!InSet(sets[j], static_cast<unsigned char>(c))) continue;
      prefixTable_[static_cast<size_t>(j) * 256 + c] = 1;
      weight += kWeights.w[c];
      if (cand.Count < 4) cand.Chars[cand.Count] = static_cast<uint8_t>(c);
      ++cand.Count;
    }
    if (cand.Count == 0 || cand.Count > 4) continue;
    for (int k = cand.Count; k < 4; ++k) cand.Chars[k] = cand.Chars[0];
    if (weight < best) {
      second = best;
      scanB_ = scanA_;
      best = weight;
      scanA_ = cand;
    } else if (weight < second) {
      second = weight;
      scanB_ = cand;
    }
  }
  // A position no character can fill: no match anywhere; the scan tests it first.
  for (int j = 0; j < len; ++j) {
    bool empty = true;
    for (int i = 0; i < 32 && empty; ++i) empty = sets[j][i] == 0;
    if (empty) {
      scanA_ = ScanSet{};
      scanA_.Offset = j;
      scanB_ = ScanSet{};
      break;
    }
  }
}

int TRegularExpression::ParseReg(bool paren, int& flags) {
  flags = HASWIDTH;
  const uint32_t savedModifiers = compModifiers_;
  int ret = 0, group = 0;
  if (paren) {
    if (nextGroup_ >= kGroupCount) Error(reeCompParseRegTooManyBrackets);
    group = nextGroup_++;
    ret = EmitNode(static_cast<uint8_t>(OpOpen + group));
  }
  int f = 0;
  int br = ParseSequence(f);
  if (ret != 0)
    SetTail(ret, br);
  else
    ret = br;
  if (!(f & HASWIDTH)) flags &= ~HASWIDTH;
  flags |= f & SPSTART;
  while (*parse_ == '|') {
    ++parse_;
    br = ParseSequence(f);
    SetTail(ret, br);
    if (!(f & HASWIDTH)) flags &= ~HASWIDTH;
    flags |= f & SPSTART;
  }
  int ender = EmitNode(static_cast<uint8_t>(paren ? OpClose + group : OpEnd));
  SetTail(ret, ender);
  if (!sizing_)
    for (int b = ret; b != 0; b = NextOf(b)) SetOperandTail(b, ender);
  if (paren) {
    if (*parse_ != ')') Error(reeCompParseRegUnmatchedBrackets);
    ++parse_;
  } else if (*parse_ != '\0') {
    Error(*parse_ == ')' ? reeCompParseRegUnmatchedBrackets2 : reeCompParseRegJunkOnEnd);
  }
  compModifiers_ = savedModifiers;  // in-line modifiers end with their group
  return ret;
}

int TRegularExpression::ParseSequence(int& flags) {
  flags = 0;
  int ret = EmitNode(OpBranch);
  int chain = 0;
  bool any = false;
  while (*parse_ != '\0' && *parse_ != '|' && *parse_ != ')') {
    int f = 0;
    int latest = ParsePiece(f);
    flags |= f & HASWIDTH;
    if (!any)
      flags |= f & SPSTART;
    else
      SetTail(chain, latest);
    chain = latest;
    any = true;
  }
  if (!any) EmitNode(OpNothing);
  return ret;
}

int TRegularExpression::ParseCount(const char* from, const char* to) {
  if (to - from > 8) {
    parse_ = to;
    Error(reeBRACESArgTooBig);
  }
  int v = 0;
  for (const char* p = from; p < to; ++p) v = v * 10 + (*p - '0');
  return v;
}

int TRegularExpression::ParsePiece(int& flags) {
  int f = 0;
  int ret = ParseAtom(f);
  const char op = *parse_;
  if (op != '*' && op != '+' && op != '?' && op != '{') {
    flags = f;
    return ret;
  }
  if (!(f & HASWIDTH) && op != '?') Error(reePlusStarOperandCouldBeEmpty);

  int32_t minCount = 0, maxCount = 0;
  if (op == '{') {
    const char* p = parse_ + 1;
    const char* d = p;
    while (IsDigit(static_cast<unsigned char>(*d))) ++d;
    if (d == p || (*d != '}' && *d != ',')) {
      flags = f;  // not a quantifier: the brace is read as literal text next
      return ret;
    }
    const char* close = d;
    if (*d == ',') {
      const char* q = d + 1;
      const char* e = q;
      while (IsDigit(static_cast<unsigned char>(*e))) ++e;
      if (*e != '}') {
        flags = f;
        return ret;
      }
      minCount = ParseCount(p, d);
      maxCount = e == q ? kOpenMax : ParseCount(q, e);
      close = e;
    } else {
      minCount = maxCount = ParseCount(p, d);
    }
    parse_ = close;
    if (minCount > maxCount) Error(reeBracesMinParamGreaterMax);
  }
  ++parse_;  // past the quantifier (or the closing brace)
  bool lazy = !(compModifiers_ & kModG);
  if (*parse_ == '?') {
    lazy = true;
    ++parse_;
  }
  const bool simple = f & SIMPLE;

  auto insertRepeat = [&](uint8_t node, int32_t mn, int32_t mx) {
    InsertNode(node, ret, kHeader + 8);
    if (!sizing_) {
      WriteInt(ret + kHeader, mn);
      WriteInt(ret + kHeader + 4, mx);
    }
  };
  auto emitLoop = [&](int32_t mn, int32_t mx) {
    InsertNode(OpLoopEntry, ret, kHeader);
    int loop = EmitNode(lazy ? OpLoopLazy : OpLoop);
    EmitInt(mn);
    EmitInt(mx);
    EmitInt((ret + kHeader) - loop);  // back to the operand
    SetTail(ret, loop);
    SetTail(ret + kHeader, loop);
  };

  switch (op) {
    case '*':
      flags = SPSTART;
      if (simple) {
        InsertNode(lazy ? OpStarLazy : OpStar, ret, kHeader);
      } else if (lazy) {
        emitLoop(0, kOpenMax);
      } else {
        // x* : (x then back to the branch) | nothing
        InsertNode(OpBranch, ret, kHeader);
        SetOperandTail(ret, EmitNode(OpBack));
        SetOperandTail(ret, ret);
        SetTail(ret, EmitNode(OpBranch));
        SetTail(ret, EmitNode(OpNothing));
      }
      break;
    case '+':
      flags = HASWIDTH | SPSTART;
      if (simple) {
        InsertNode(lazy ? OpPlusLazy : OpPlus, ret, kHeader);
      } else if (lazy) {
        emitLoop(1, kOpenMax);
      } else {
        // x+ : x then ((back to x) | nothing)
        int next = EmitNode(OpBranch);
        SetTail(ret, next);
        SetTail(EmitNode(OpBack), ret);
        SetTail(next, EmitNode(OpBranch));
        SetTail(ret, EmitNode(OpNothing));
      }
      break;
    case '?':
      flags = 0;
      if (!lazy) {
        // x? : x | nothing
        InsertNode(OpBranch, ret, kHeader);
        SetTail(ret, EmitNode(OpBranch));
        int next = EmitNode(OpNothing);
        SetTail(ret, next);
        SetOperandTail(ret, next);
      } else if (simple) {
        insertRepeat(OpRepeatLazy, 0, 1);
      } else {
        emitLoop(0, 1);
      }
      break;
    default:  // braces
      // Width follows the maximum, so x{0,n} may be repeated although it can match empty: the
      // matcher ends a loop pass that consumed nothing.
      flags = maxCount > 0 ? HASWIDTH | SPSTART : 0;
      if (simple)
        insertRepeat(lazy ? OpRepeatLazy : OpRepeat, minCount, maxCount);
      else
        emitLoop(minCount, maxCount);
      break;
  }
  if (*parse_ == '*' || *parse_ == '+' || *parse_ == '?' || *parse_ == '{') Error(reeNestedSQP);
  return ret;
}

int TRegularExpression::HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  Error(reeBadHexDigit);
}

// At the character after "\": returns the character the escape stands for and steps past it.
unsigned char TRegularExpression::UnQuoteChar() {
  switch (*parse_) {
    case 't': ++parse_; return 9;
    case 'n': ++parse_; return 10;
    case 'r': ++parse_; return 13;
    case 'f': ++parse_; return 12;
    case 'a': ++parse_; return 7;
    case 'e': ++parse_; return 27;
    case 'x': {
      ++parse_;
      if (*parse_ == '\0') Error(reeNoHexCodeAfterBSlashX);
      if (*parse_ == '{') {
        ++parse_;
        int v = 0;
        for (;;) {
          if (*parse_ == '\0') Error(reeNoHexCodeAfterBSlashX);
          if (*parse_ == '}') break;
          if (v > 15) Error(reeHexCodeAfterBSlashXTooBig);
          v = v * 16 + HexDigit(*parse_);
          ++parse_;
        }
        ++parse_;
        return static_cast<unsigned char>(v);
      }
      int hi = HexDigit(*parse_);
      ++parse_;
      if (*parse_ == '\0') Error(reeNoHexCodeAfterBSlashX);
      int lo = HexDigit(*parse_);
      ++parse_;
      return static_cast<unsigned char>(hi * 16 + lo);
    }
    default: return static_cast<unsigned char>(*parse_++);
  }
}

// One literal character. Byte 0 cannot occur in a subject (it ends there), so it becomes a set
// that matches nothing rather than an empty literal that would match everywhere.
int TRegularExpression::EmitOneChar(unsigned char c) {
  if (c == 0) {
    int ret = EmitNode(OpTinySet);
    for (int k = 0; k < 3; ++k) EmitByte(0);
    return ret;
  }
  int ret = EmitNode((compModifiers_ & kModI) ? OpLiteralFold : OpLiteral);
  EmitByte(c);
  EmitByte(0);
  return ret;
}

int TRegularExpression::EmitSet(const uint8_t* set, int count, bool negated) {
  if (count <= 3) {
    uint8_t members[3] = {0, 0, 0};
    int n = 0;
    for (int c = 0; c < 256 && n < 3; ++c)
      if (InSet(set, static_cast<unsigned char>(c))) members[n++] = static_cast<uint8_t>(c);
    for (int k = n; k < 3 && n > 0; ++k) members[k] = members[n - 1];
    int ret = EmitNode(negated ? OpTinySetNot : OpTinySet);
    for (uint8_t m : members) EmitByte(m);
    return ret;
  }
  int ret = EmitNode(OpFullSet);
  for (int k = 0; k < 32; ++k) EmitByte(negated ? static_cast<uint8_t>(~set[k]) : set[k]);
  return ret;
}

int TRegularExpression::EmitCharSet(const std::string& chars, bool negated) {
  uint8_t set[32] = {};
  for (char c : chars) AddToSet(set, static_cast<unsigned char>(c));
  int count = 0;
  for (uint8_t b : set) count += __builtin_popcount(b);
  return EmitSet(set, count, negated);
}

int TRegularExpression::ParseClass(int& flags) {
  flags = HASWIDTH | SIMPLE;
  bool negated = false;
  if (*parse_ == '^') {
    negated = true;
    ++parse_;
  }
  const bool fold = compModifiers_ & kModI;
  const bool letterRanges = compModifiers_ & kModR;
  uint8_t set[32] = {};
  auto add = [&](unsigned char c) {
    AddToSet(set, c);
    if (fold) AddToSet(set, Other(c));
  };
  auto addString = [&](const std::string& s) {
    for (char c : s) add(static_cast<unsigned char>(c));
  };
  // Letter ranges of the upper half: lower case with 184, upper case with 168.
  auto addLower = [&]() {
    for (int c = 224; c <= 255; ++c) add(static_cast<unsigned char>(c));
    add(184);
  };
  auto addUpper = [&]() {
    for (int c = 192; c <= 223; ++c) add(static_cast<unsigned char>(c));
    add(168);
  };

  int last = -1;  // the single member just read; -1 after a range, a class escape or at the start
  if (*parse_ == ']') {
    add(']');
    last = ']';
    ++parse_;
  }
  while (*parse_ != '\0' && *parse_ != ']') {
    if (*parse_ == '-' && parse_[1] != '\0' && parse_[1] != ']' && last >= 0) {
      ++parse_;
      int end;
      if (*parse_ == '\\') {
        char e = parse_[1];
        if (e == 'd' || e == 's' || e == 'w' || e == 'D' || e == 'S' || e == 'W') {
          add('-');  // "a-\d": the dash is a member, the escape comes next
          last = '-';
          continue;
        }
        ++parse_;
        if (*parse_ == '\0') Error(reeParseAtomTrailingBackSlash);
        end = UnQuoteChar();
      } else {
        end = static_cast<unsigned char>(*parse_++);
      }
      if (letterRanges && last == 224 && end == 255) {
        addLower();
      } else if (letterRanges && last == 192 && end == 223) {
        addUpper();
      } else if (letterRanges && last == 224 && end == 223) {
        addLower();
        addUpper();
      } else {
        if (end < last) Error(reeInvalidRange);
        for (int c = last; c <= end; ++c) add(static_cast<unsigned char>(c));
      }
      last = -1;
    } else if (*parse_ == '\\') {
      ++parse_;
      if (*parse_ == '\0') Error(reeParseAtomTrailingBackSlash);
      switch (*parse_) {
        case 'd': addString("0123456789"); ++parse_; last = -1; break;
        case 's': addString(SpaceCharacters); ++parse_; last = -1; break;
        case 'w': addString(WordCharacters); ++parse_; last = -1; break;
        default: {
          unsigned char c = UnQuoteChar();
          add(c);
          last = c;
        }
      }
    } else {
      unsigned char c = static_cast<unsigned char>(*parse_++);
      add(c);
      last = c;
    }
  }
  if (*parse_ != ']') Error(reeUnmatchedSqBrackets);
  ++parse_;
  int count = 0;
  for (uint8_t b : set) count += __builtin_popcount(b);
  return EmitSet(set, count, negated);
}

int TRegularExpression::ParseAtom(int& flags) {
  flags = 0;
  const char c = *parse_++;
  const bool lineMode = (compModifiers_ & kModM) && (!LineSeparators.empty() || pairSet_);
  switch (c) {
    case '^': return EmitNode(lineMode ? OpLineStart : OpInputStart);
    case '$': return EmitNode(lineMode ? OpLineEnd : OpInputEnd);
    case '.':
      if (compModifiers_ & kModS) {
        flags = HASWIDTH | SIMPLE;
        return EmitNode(OpAny);
      }
      flags = HASWIDTH;
      return EmitNode(OpAnyInLine);
    case '[': return ParseClass(flags);
    case '(': {
      if (*parse_ == '?') {
        if (parse_[1] == '#') {
          parse_ += 2;
          while (*parse_ != '\0' && *parse_ != ')') ++parse_;
          if (*parse_ != ')') Error(reeUnclosedComment);
          ++parse_;
          return EmitNode(OpComment);
        }
        ++parse_;
        const char* from = parse_;
        while (*parse_ != '\0' && *parse_ != ')') ++parse_;
        if (*parse_ != ')' || !ParseModifiers(std::string(from, parse_), compModifiers_))
          Error(reeUnrecognizedModifier);
        ++parse_;
        return EmitNode(OpComment);
      }
      int f = 0;
      int ret = ParseReg(true, f);
      flags = f & (HASWIDTH | SPSTART);
      return ret;
    }
    case '\0':
    case '|':
    case ')':
      --parse_;
      Error(reeInternalUrp);
    case '*':
    case '+':
    case '?': Error(reeQPSBFollowsNothing);
    case '\\': {
      if (*parse_ == '\0') Error(reeTrailingBackSlash);
      const char e = *parse_;
      switch (e) {
        case 'd': ++parse_; flags = HASWIDTH | SIMPLE; return EmitNode(OpDigit);
        case 'D': ++parse_; flags = HASWIDTH | SIMPLE; return EmitNode(OpNonDigit);
        case 'w': ++parse_; flags = HASWIDTH | SIMPLE; return EmitCharSet(WordCharacters, false);
        case 'W': ++parse_; flags = HASWIDTH | SIMPLE; return EmitCharSet(WordCharacters, true);
        case 's': ++parse_; flags = HASWIDTH | SIMPLE; return EmitCharSet(SpaceCharacters, false);
        case 'S': ++parse_; flags = HASWIDTH | SIMPLE; return EmitCharSet(SpaceCharacters, true);
        case 'b': ++parse_; return EmitNode(OpWordBoundary);
        case 'B': ++parse_; return EmitNode(OpNotWordBoundary);
        case 'A': ++parse_; return EmitNode(OpInputStart);
        case 'Z': ++parse_; return EmitNode(OpInputEnd);
        default:
          if (e >= '1' && e <= '9') {
            ++parse_;
            flags = HASWIDTH | SIMPLE;
            int ret = EmitNode((compModifiers_ & kModI) ? OpBackRefFold : OpBackRef);
            EmitByte(static_cast<uint8_t>(e - '0'));
            return ret;
          }
          flags = HASWIDTH | SIMPLE;
          return EmitOneChar(UnQuoteChar());
      }
    }
    default: break;
  }

  // A literal run.
  --parse_;
  const bool extended = compModifiers_ & kModX;
  if (extended && (*parse_ == '#' || IsXSpace(*parse_))) {
    if (*parse_ == '#') {
      while (*parse_ != '\0' && *parse_ != '\r' && *parse_ != '\n') ++parse_;
      while (*parse_ == '\r' || *parse_ == '\n') ++parse_;
    } else {
      while (IsXSpace(*parse_)) ++parse_;
    }
    return EmitNode(OpComment);
  }
  size_t len = *parse_ == '{' ? 1 + std::strcspn(parse_ + 1, kMeta) : std::strcspn(parse_, kMeta);
  if (len == 0) Error(reeRarseAtomInternalDisaster);
  const char after = parse_[len];
  if (len > 1 && (after == '*' || after == '+' || after == '?' || after == '{')) --len;
  flags = HASWIDTH | (len == 1 ? SIMPLE : 0);
  int ret = EmitNode((compModifiers_ & kModI) ? OpLiteralFold : OpLiteral);
  for (size_t k = 0; k < len; ++k) {
    const char ch = *parse_;
    if (extended && ch == '#') break;
    ++parse_;
    if (extended && IsXSpace(ch)) continue;
    EmitByte(static_cast<uint8_t>(ch));
  }
  EmitByte(0);
  return ret;
}

// Every character at which a match can begin. Each node is looked at once: the set is a union,
// and loops over operands that can be empty would otherwise be followed for ever.
void TRegularExpression::FillFirstCharSet() {
  std::memset(firstCharSet_, 0, sizeof firstCharSet_);
  const uint8_t* prog = program_.data();
  std::vector<uint8_t> seen(program_.size(), 0);
  std::vector<int> work{1};
  auto all = [&] { std::memset(firstCharSet_, 0xFF, sizeof firstCharSet_); };
  while (!work.empty()) {
    int p = work.back();
    work.pop_back();
    while (p != 0 && !seen[p]) {
      seen[p] = 1;
      const uint8_t* node = prog + p;
      int next = NextOf(p);
      const uint8_t op = node[0];
      const uint8_t* opnd = node + kHeader;
      int go = 0;  // where this path goes on; 0 = it stops here
      switch (op) {
        case OpEnd: break;
        case OpInputStart: case OpLineStart: case OpInputEnd: case OpLineEnd: case OpBack:
        case OpNothing: case OpComment: case OpWordBoundary: case OpNotWordBoundary:
        case OpLoopEntry:
          go = next;
          break;
        case OpAny: case OpAnyInLine: case OpBackRef: case OpBackRefFold: all(); return;
        case OpLiteral:
          if (opnd[0]) AddToSet(firstCharSet_, opnd[0]);
          break;
        case OpLiteralFold:
          if (opnd[0]) {
            AddToSet(firstCharSet_, opnd[0]);
            AddToSet(firstCharSet_, Other(opnd[0]));
          }
          break;
        case OpDigit:
          for (int c = '0'; c <= '9'; ++c) AddToSet(firstCharSet_, static_cast<unsigned char>(c));
          break;
        case OpNonDigit:
          for (int c = 0; c < 256; ++c)
            if (!IsDigit(static_cast<unsigned char>(c))) AddToSet(firstCharSet_, static_cast<unsigned char>(c));
          break;
        case OpTinySet:
          for (int k = 0; k < 3; ++k) AddToSet(firstCharSet_, opnd[k]);
          break;
        case OpTinySetNot:
          for (int c = 0; c < 256; ++c)
            if (c != opnd[0] && c != opnd[1] && c != opnd[2]) AddToSet(firstCharSet_, static_cast<unsigned char>(c));
          break;
        case OpFullSet:
          for (int k = 0; k < 32; ++k) firstCharSet_[k] |= opnd[k];
          break;
        case OpBranch:
          if (next != 0 && prog[next] == OpBranch) {
            for (int b = p; b != 0 && prog[b] == OpBranch; b = NextOf(b)) work.push_back(b + kHeader);
          } else {
            go = p + kHeader;
          }
          break;
        case OpStar: case OpStarLazy:
          work.push_back(p + kHeader);
          go = next;
          break;
        case OpPlus: case OpPlusLazy: work.push_back(p + kHeader); break;
        case OpRepeat: case OpRepeatLazy:
          work.push_back(p + kHeader + 8);
          if (ReadLE32(opnd) <= 0) go = next;
          break;
        case OpLoop: case OpLoopLazy:
          work.push_back(p + ReadLE32(opnd + 8));
          if (ReadLE32(opnd) == 0) go = next;
          break;
        default:
          if (op >= OpOpen + 1 && op <= OpClose + kGroupCount - 1 && op != OpClose) {
            go = next;
            break;
          }
          Error(reeMatchPrimMemoryCorruption);
      }
      p = go;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Search

bool TRegularExpression::ProgramReady() {
  if (!program_.empty() && Modifiers != progModifiers_) FreeProgram();
  std::memset(lineSepSet_, 0, sizeof lineSepSet_);
  for (char c : LineSeparators) AddToSet(lineSepSet_, static_cast<unsigned char>(c));
  std::memset(wordSet_, 0, sizeof wordSet_);
  for (char c : WordCharacters) AddToSet(wordSet_, static_cast<unsigned char>(c));
  if (program_.empty()) Compile();
  if (program_.empty()) return false;
  if (program_[0] != kMagic) Error(reeCorruptedProgram);
  return true;
}

void TRegularExpression::ClearGroups() {
  for (int n = 0; n < kGroupCount; ++n) startp_[n] = endp_[n] = nullptr;
  matchOffset_ = 0;
}

void TRegularExpression::SetInput(const std::string& subject) {
  ClearGroups();
  size_t nul = subject.find('\0');
  size_t len = nul == std::string::npos ? subject.size() : nul;
  if (len > static_cast<size_t>(INT32_MAX - 1)) len = INT32_MAX - 1;
  if (input_ && static_cast<size_t>(inputLen_) != len) input_.reset();
  if (!input_) input_.reset(new char[len + 1]);
  std::memcpy(input_.get(), subject.data(), len);
  input_[len] = '\0';
  inputLen_ = static_cast<int32_t>(len);
}

bool TRegularExpression::Exec(const std::string& subject) {
  // The subject is searched where it lies (it may be a whole log of megabytes): nothing is
  // copied but the matched text. No subject stays behind for ExecFrom.
  ClearGroups();
  input_.reset();
  inputLen_ = 0;
  if (!ProgramReady()) return false;
  const void* nul = std::memchr(subject.data(), 0, subject.size());
  size_t len = nul ? static_cast<size_t>(static_cast<const char*>(nul) - subject.data()) : subject.size();
  if (len > static_cast<size_t>(INT32_MAX - 1)) len = INT32_MAX - 1;
  // c_str() ends with a NUL; a subject cut at an earlier NUL ends at that one.
  return Search(subject.c_str(), static_cast<int32_t>(len), 0);
}

bool TRegularExpression::ExecFrom(int offset) {
  if (!ProgramReady()) return false;
  if (!input_) Error(reeNoInputStringSpecified);
  const int32_t len = inputLen_;
  if (offset < 1) Error(reeOffsetMustBeGreaterThen0);
  if (offset > len + 1) return false;
  return Search(input_.get(), len, offset - 1);
}

bool TRegularExpression::Search(const char* input, int32_t len, int32_t from) {
  ClearGroups();
  const char* s = input + from;
  const char* end = input + len;

  if (reqLiteral_ >= 0) {
    const char* lit = reinterpret_cast<const char*>(program_.data()) + reqLiteral_;
    if (!memmem(s, static_cast<size_t>(end - s), lit, static_cast<size_t>(reqLiteralLen_))) return false;
  }

  inputStart_ = input;
  inputEnd_ = end;
  loopDepth_ = 0;
  steps_ = 0;
  stackGuard_ = ThreadStackGuard();
  backRecords_.clear();
  backLast_.assign(program_.size(), -1);
  backActive_ = 0;
  occurrences_.clear();
  // What failed is known for this subject only; the memory goes with the search.
  auto forget = [this] {
    occurrences_.clear();
    for (auto& bits : memoBits_) std::vector<uint64_t>().swap(bits);
    std::unordered_set<std::string>().swap(memoKeys_);
  };

  bool found = false;
  try {
    found = anchored_ ? TryAt(s) : ScanAndTry(s, end);
  } catch (...) {
    ClearGroups();  // the registers may point into a subject that is about to go
    forget();
    throw;
  }
  forget();
  if (!found) {
    ClearGroups();
    return false;
  }
  KeepMatch();
  return true;
}

// Takes a copy of the matched text and points the group registers into it, so that the
// results outlive the subject.
void TRegularExpression::KeepMatch() {
  const char* lo = startp_[0];
  const char* hi = endp_[0];
  for (int n = 1; n < kGroupCount; ++n) {
    if (!startp_[n] || !endp_[n]) continue;
    lo = std::min({lo, startp_[n], endp_[n]});
    hi = std::max({hi, startp_[n], endp_[n]});
  }
  matchText_.assign(lo, static_cast<size_t>(hi - lo));
  matchOffset_ = static_cast<int32_t>(lo - inputStart_);
  const char* base = matchText_.data();
  for (int n = 0; n < kGroupCount; ++n) {
    if (startp_[n]) startp_[n] = base + (startp_[n] - lo);
    if (endp_[n]) endp_[n] = base + (endp_[n] - lo);
  }
  inputStart_ = inputEnd_ = nullptr;
}

bool TRegularExpression::PrefixAt(const char* p) const {
  const uint8_t* t = prefixTable_.data();
  for (int j = 0; j < prefixLen_; ++j, t += 256)
    if (!t[static_cast<unsigned char>(p[j])]) return false;
  return true;
}

// Tries every start position from s that can begin a match, in order. A position is tried only
// if it passes the first-character rule and its next characters lie in the sets that every match
// needs there (prefixTable_); the two most selective of those sets are tested 16 positions at a
// time.
bool TRegularExpression::ScanAndTry(const char* s, const char* end) {
  if (prefixLen_ <= 0 || end - s < prefixLen_) return false;
  ptrdiff_t last = (end - prefixLen_) - s;  // offset of the last position with room for the prefix
  const char* p = s;
  // Once attempts have cost much, no start after the last place of a literal every match
  // contains is tried (a match contains it at or after its start).
  bool bounded = chainLiterals_.empty();
  auto attempt = [&](const char* q) {
    if (TryAt(q)) return true;
    if (!bounded && steps_ > kBoundAfterSteps) {
      bounded = true;
      last = std::min(last, LastStartByLiterals(s));
    }
    return false;
  };
#if defined(__SSE2__)
  if (scanA_.Count > 0) {
    const int offA = scanA_.Offset, offB = scanB_.Count > 0 ? scanB_.Offset : offA;
    auto splat = [](const ScanSet& set, int k) { return _mm_set1_epi8(static_cast<char>(set.Chars[k])); };
    const __m128i a0 = splat(scanA_, 0), a1 = splat(scanA_, 1), a2 = splat(scanA_, 2), a3 = splat(scanA_, 3);
    const ScanSet& sb = scanB_.Count > 0 ? scanB_ : scanA_;
    const __m128i b0 = splat(sb, 0), b1 = splat(sb, 1), b2 = splat(sb, 2), b3 = splat(sb, 3);
    const int reach = std::max(offA, offB) + 16;  // bytes read past a block's start
    while (p - s <= last && end - p >= reach) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offA));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offB));
      const __m128i ma = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(va, a0), _mm_cmpeq_epi8(va, a1)),
                                      _mm_or_si128(_mm_cmpeq_epi8(va, a2), _mm_cmpeq_epi8(va, a3)));
      const __m128i mb = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(vb, b0), _mm_cmpeq_epi8(vb, b1)),
                                      _mm_or_si128(_mm_cmpeq_epi8(vb, b2), _mm_cmpeq_epi8(vb, b3)));
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(ma, mb)));
      while (mask) {
        const char* q = p + __builtin_ctz(mask);
        mask &= mask - 1;
        if (q - s > last) return false;
        if (PrefixAt(q) && attempt(q)) return true;
      }
      p += 16;
    }
  }
#endif
  // The rest one at a time; scanA_ is the rarest set, or position 0 when none is small.
  const int firstOff = scanA_.Offset;
  const uint8_t* first = prefixTable_.data() + static_cast<size_t>(firstOff) * 256;
  for (; p - s <= last; ++p)
    if (first[static_cast<unsigned char>(p[firstOff])] && PrefixAt(p) && attempt(p)) return true;
  return false;
}

// The last start from which a match could still contain every literal of the top-level chain:
// the smallest of their last places in the subject from s on, as an offset from s; -1 when one
// is missing.
ptrdiff_t TRegularExpression::LastStartByLiterals(const char* s) {
  const unsigned char* from = reinterpret_cast<const unsigned char*>(s);
  const unsigned char* end = reinterpret_cast<const unsigned char*>(inputEnd_);
  const char* bound = inputEnd_;
  for (int node : chainLiterals_) {
    const uint8_t* text = program_.data() + node + kHeader;
    const bool fold = program_[node] == OpLiteralFold;
    const size_t len = std::strlen(reinterpret_cast<const char*>(text));
    Charge((end - from) / 64 + 1);
    const unsigned char a = text[0], b = fold ? Other(text[0]) : text[0];
    const unsigned char* found = nullptr;
    if (static_cast<size_t>(end - from) >= len) {
      const unsigned char y = text[len - 1], z = fold ? Other(y) : y;
      int64_t compared = 0;
      for (const unsigned char* q = end - len + 1; q-- > from;) {
        if ((*q != a && *q != b) || (q[len - 1] != y && q[len - 1] != z)) continue;
        size_t k = 1;
        while (k < len && (q[k] == text[k] || (fold && q[k] == Other(text[k])))) ++k;
        compared += static_cast<int64_t>(k);
        if (compared >= 1024) {
          Charge(compared / 16);
          compared %= 16;
        }
        if (k == len) {
          found = q;
          break;
        }
      }
    }
    if (!found) return -1;
    bound = std::min(bound, reinterpret_cast<const char*>(found));
  }
  return bound - s;
}

bool TRegularExpression::TryAt(const char* p) {
  // Only groups the program has can have been set by an earlier attempt.
  for (int n = 0; n < groupsUsed_; ++n) startp_[n] = endp_[n] = nullptr;
  cursor_ = p;
  if (MatchPrim(program_.data() + 1)) {
    startp_[0] = p;
    endp_[0] = cursor_;
    return true;
  }
  return false;
}

int TRegularExpression::MatchPos(int n) const {
  if (n < 0 || n >= kGroupCount || !startp_[n] || !endp_[n]) return -1;
  return static_cast<int>(startp_[n] - matchText_.data()) + matchOffset_ + 1;
}

int TRegularExpression::MatchLen(int n) const {
  if (n < 0 || n >= kGroupCount || !startp_[n] || !endp_[n]) return -1;
  return static_cast<int>(std::max<ptrdiff_t>(0, endp_[n] - startp_[n]));
}

std::string TRegularExpression::Match(int n) const {
  int len = MatchLen(n);
  if (len < 0) return std::string();
  return std::string(startp_[n], static_cast<size_t>(len));
}

inline void TRegularExpression::Step() {
  ++steps_;
  if (StepLimit > 0 && steps_ > StepLimit) Error(reeStepLimitExceeded);
}

inline void TRegularExpression::Charge(int64_t units) {
  steps_ += units;
  if (StepLimit > 0 && steps_ > StepLimit) Error(reeStepLimitExceeded);
}

// The places in the subject where the literal of node `lit` stands whole (ascending offsets),
// found once per search. The scan is charged a unit per 64 characters.
const std::vector<int32_t>& TRegularExpression::LiteralOccurrences(Node lit) {
  const int32_t node = static_cast<int32_t>(lit - program_.data());
  Occurrences* o = nullptr;
  for (const auto& e : occurrences_)
    if (e->Node == node) o = e.get();
  if (o && o->Built) return o->At;
  if (!o) {
    // Held by pointer: an outer repeat may be walking another node's list meanwhile.
    occurrences_.push_back(std::make_unique<Occurrences>());
    o = occurrences_.back().get();
    o->Node = node;
  }
  Charge((inputEnd_ - inputStart_) / 64 + 1);
  o->At.clear();
  o->Built = true;
  const bool fold = lit[0] == OpLiteralFold;
  const uint8_t* text = lit + kHeader;
  const size_t len = std::strlen(reinterpret_cast<const char*>(text));
  const unsigned char a = text[0], b = fold ? Other(text[0]) : text[0];
  const unsigned char y = text[len - 1], z = fold ? Other(y) : y;
  int64_t compared = 0;
  auto whole = [&](const unsigned char* q) {
    if (q[len - 1] != y && q[len - 1] != z) return false;
    size_t k = 1;
    while (k < len && (q[k] == text[k] || (fold && q[k] == Other(text[k])))) ++k;
    compared += static_cast<int64_t>(k);
    if (compared >= 1024) {  // long literals that nearly stand everywhere: charged as compared
      Charge(compared / 16);
      compared %= 16;
    }
    return k == len;
  };
  const unsigned char* in = reinterpret_cast<const unsigned char*>(inputStart_);
  const unsigned char* end = reinterpret_cast<const unsigned char*>(inputEnd_);
  if (static_cast<size_t>(end - in) < len) return o->At;
  const unsigned char* last = end - len;
  const unsigned char* q = in;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(static_cast<char>(a)), vb = _mm_set1_epi8(static_cast<char>(b));
  for (; end - q >= 16 && q <= last; q += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb))));
    while (mask) {
      const unsigned char* c = q + __builtin_ctz(mask);
      mask &= mask - 1;
      if (c <= last && whole(c)) o->At.push_back(static_cast<int32_t>(c - in));
    }
  }
#endif
  for (; q <= last; ++q)
    if ((*q == a || *q == b) && whole(q)) o->At.push_back(static_cast<int32_t>(q - in));
  return o->At;
}

// Counts repetitions of a one-character node (or whole copies of a group's text) from the
// cursor, up to `max`, and moves the cursor past them. `step` gets the width of one repetition.
int TRegularExpression::RegRepeat(Node p, int max, int& step) {
  step = 1;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(cursor_);
  const int64_t avail = inputEnd_ - cursor_;
  const int limit = static_cast<int>(std::min<int64_t>(max, avail));
  const uint8_t* opnd = p + kHeader;
  int n = 0;
  switch (p[0]) {
    case OpAny: n = limit; break;
    case OpLiteral:
      while (n < limit && in[n] == opnd[0]) ++n;
      break;
    case OpLiteralFold: {
      const unsigned char a = opnd[0], b = Other(opnd[0]);
      while (n < limit && (in[n] == a || in[n] == b)) ++n;
      break;
    }
    case OpDigit:
      while (n < limit && IsDigit(in[n])) ++n;
      break;
    case OpNonDigit:
      while (n < limit && !IsDigit(in[n])) ++n;
      break;
    case OpTinySet:
      while (n < limit && (in[n] == opnd[0] || in[n] == opnd[1] || in[n] == opnd[2])) ++n;
      break;
    case OpTinySetNot:
      while (n < limit && in[n] != opnd[0] && in[n] != opnd[1] && in[n] != opnd[2]) ++n;
      break;
    case OpFullSet:
      while (n < limit && InSet(opnd, in[n])) ++n;
      break;
    case OpBackRef:
    case OpBackRefFold: {
      const int g = opnd[0];
      if (g >= kGroupCount) Error(reeMatchPrimMemoryCorruption);
      if (!startp_[g] || !endp_[g]) return 0;
      const int64_t glen = std::max<ptrdiff_t>(0, endp_[g] - startp_[g]);
      if (glen == 0) {
        // Every count of an empty copy ends at the cursor: one is enough.
        step = 0;
        return max > 0 ? 1 : 0;
      }
      step = static_cast<int>(glen);
      const unsigned char* grp = reinterpret_cast<const unsigned char*>(startp_[g]);
      const bool fold = p[0] == OpBackRefFold;
      int64_t at = 0;
      while (n < max && avail - at >= glen) {
        bool same = true;
        for (int64_t k = 0; k < glen && same; ++k) {
          const unsigned char c = in[at + k];
          same = c == grp[k] || (fold && c == Other(grp[k]));
        }
        if (!same) break;
        at += glen;
        ++n;
      }
      Charge(at / 8 + 1);
      cursor_ += at;
      return n;
    }
    default: Error(reeRegRepeatCalledInappropriately);
  }
  if (p[0] != OpAny) Charge(n / 8);  // the characters counted (a whole run at a time)
  cursor_ += n;
  return n;
}

// A jump back to the start of a loop. A pass round the loop that consumed nothing ends that
// path, so a loop over something that matched empty (a back-reference to an empty group) stops.
bool TRegularExpression::MatchBack(Node scan, Node next) {
  const size_t at = static_cast<size_t>(scan - program_.data());
  const int32_t prev = backLast_[at];
  if (prev >= 0 && backRecords_[static_cast<size_t>(prev)].pos == cursor_) return false;
  const bool memo = memoOk_ && loopDepth_ == 0;
  if (memo && KnownToFail(scan, 0, static_cast<int>(at))) return false;
  const char* const here = cursor_;
  backRecords_.push_back({cursor_, prev});
  backLast_[at] = static_cast<int32_t>(backRecords_.size() - 1);
  if (prev < 0) ++backActive_;
  const bool ok = MatchPrim(next);
  if (prev < 0) --backActive_;
  backLast_[at] = prev;
  backRecords_.pop_back();
  if (!ok && memo) {
    cursor_ = here;
    RememberFailure(scan, 0, static_cast<int>(at));
  }
  return ok;
}

// The state the rest of a match depends on, at `node` (in its `variant`) with the cursor where
// it is: false with `bit` set when no other OpBack node has a record (a bit per cursor offset
// then tells), else true with memoKey_ holding the slot, the cursor and those records.
// `exclude` is the OpBack node asking, whose own record is the cursor.
bool TRegularExpression::MemoKey(Node node, int variant, int exclude, int64_t& bit) {
  const int slot = memoSlot_[static_cast<size_t>(node - program_.data())] + variant;
  const int64_t at = cursor_ - inputStart_;
  const bool own = exclude >= 0 && backLast_[static_cast<size_t>(exclude)] >= 0;
  if (backActive_ - (own ? 1 : 0) == 0) {
    bit = static_cast<int64_t>(slot) << 32 | at;
    return false;
  }
  Charge(4 + static_cast<int64_t>(backNodes_.size()) / 4);  // building and hashing the key
  auto put = [this](int64_t v) {
    const int32_t w = static_cast<int32_t>(v);
    memoKey_.append(reinterpret_cast<const char*>(&w), sizeof w);
  };
  memoKey_.clear();
  put(slot);
  put(at);
  for (size_t k = 0; k < backNodes_.size(); ++k) {
    const int32_t off = backNodes_[k];
    const int32_t rec = backLast_[static_cast<size_t>(off)];
    if (off == exclude || rec < 0) continue;
    put(static_cast<int64_t>(k));
    put(backRecords_[static_cast<size_t>(rec)].pos - inputStart_);
  }
  return true;
}

bool TRegularExpression::KnownToFail(Node node, int variant, int exclude) {
  int64_t bit = 0;
  if (MemoKey(node, variant, exclude, bit)) return memoKeys_.count(memoKey_) != 0;
  const std::vector<uint64_t>& bits = memoBits_[static_cast<size_t>(bit >> 32)];
  const int64_t at = bit & 0xFFFFFFFF;
  return !bits.empty() && (bits[static_cast<size_t>(at >> 6)] >> (at & 63)) & 1;
}

void TRegularExpression::RememberFailure(Node node, int variant, int exclude) {
  int64_t bit = 0;
  if (MemoKey(node, variant, exclude, bit)) {
    if (memoKeys_.size() < kMemoKeyCap) memoKeys_.insert(memoKey_);
    return;
  }
  std::vector<uint64_t>& bits = memoBits_[static_cast<size_t>(bit >> 32)];
  if (bits.empty()) bits.assign(static_cast<size_t>((inputEnd_ - inputStart_) / 64 + 1), 0);
  const int64_t at = bit & 0xFFFFFFFF;
  bits[static_cast<size_t>(at >> 6)] |= uint64_t{1} << (at & 63);
}

bool TRegularExpression::MatchPrim(Node scan) {
  if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < stackGuard_) Error(reeRecursionTooDeep);
  if (!scan) Error(reeMatchPrimCorruptedPointers);
  while (scan) {
    Step();
    Node next = NextNode(scan);
    const unsigned char c = static_cast<unsigned char>(*cursor_);
    const uint8_t op = scan[0];
    switch (op) {
      case OpEnd: return true;
      case OpInputStart:
        if (cursor_ != inputStart_) return false;
        break;
      case OpInputEnd:
        if (c != 0) return false;
        break;
      case OpAny:
        if (c == 0) return false;
        ++cursor_;
        break;
      case OpAnyInLine:
        if (c == 0 || IsLineSep(c)) return false;
        if (pairSet_ && c == pairHead_ && static_cast<unsigned char>(cursor_[1]) == pairTail_) return false;
        ++cursor_;
        break;
      case OpLiteral: {
        const uint8_t* lit = scan + kHeader;
        if (c != lit[0]) return false;
        const char* from = cursor_;
        for (; *lit; ++lit, ++cursor_)
          if (static_cast<unsigned char>(*cursor_) != *lit) break;
        if ((cursor_ - from) >= 16) Charge((cursor_ - from) / 16);  // long literals: per 16 compared
        if (*lit) return false;
        break;
      }
      case OpLiteralFold: {
        const uint8_t* lit = scan + kHeader;
        const char* from = cursor_;
        for (; *lit; ++lit, ++cursor_) {
          const unsigned char ch = static_cast<unsigned char>(*cursor_);
          if (ch != *lit && ch != Other(*lit)) break;
        }
        if ((cursor_ - from) >= 16) Charge((cursor_ - from) / 16);
        if (*lit) return false;
        break;
      }
      case OpDigit:
        if (!IsDigit(c)) return false;
        ++cursor_;
        break;
      case OpNonDigit:
        if (c == 0 || IsDigit(c)) return false;
        ++cursor_;
        break;
      case OpTinySet: {
        const uint8_t* s = scan + kHeader;
        if (c == 0 || (c != s[0] && c != s[1] && c != s[2])) return false;
        ++cursor_;
        break;
      }
      case OpTinySetNot: {
        const uint8_t* s = scan + kHeader;
        if (c == 0 || c == s[0] || c == s[1] || c == s[2]) return false;
        ++cursor_;
        break;
      }
      case OpFullSet:
        if (c == 0 || !InSet(scan + kHeader, c)) return false;
        ++cursor_;
        break;
      case OpBackRef:
      case OpBackRefFold: {
        const int g = scan[kHeader];
        if (g >= kGroupCount) Error(reeMatchPrimMemoryCorruption);
        if (!startp_[g] || !endp_[g]) return false;
        const bool fold = op == OpBackRefFold;
        if (endp_[g] - startp_[g] >= 16) Charge((endp_[g] - startp_[g]) / 16);  // the copy compared
        for (const char* q = startp_[g]; q < endp_[g]; ++q, ++cursor_) {
          if (cursor_ >= inputEnd_) return false;
          const unsigned char ch = static_cast<unsigned char>(*cursor_);
          const unsigned char gc = static_cast<unsigned char>(*q);
          if (ch != gc && !(fold && ch == Other(gc))) return false;
        }
        break;
      }
      case OpWordBoundary:
      case OpNotWordBoundary: {
        const bool before = cursor_ > inputStart_ && IsWordChar(static_cast<unsigned char>(cursor_[-1]));
        const bool here = c != 0 && IsWordChar(c);
        if ((before != here) != (op == OpWordBoundary)) return false;
        break;
      }
      case OpLineStart: {
        if (cursor_ == inputStart_) break;
        const unsigned char before = static_cast<unsigned char>(cursor_[-1]);
        if (pairSet_) {
          // Only look two back when two characters precede the cursor.
          if (cursor_ - inputStart_ >= 2 && static_cast<unsigned char>(cursor_[-2]) == pairHead_ &&
              before == pairTail_)
            break;
          if (before == pairHead_ && c == pairTail_) return false;  // inside the pair
        }
        if (!IsLineSep(before)) return false;
        break;
      }
      case OpLineEnd: {
        if (c == 0) break;
        if (pairSet_) {
          if (c == pairHead_ && static_cast<unsigned char>(cursor_[1]) == pairTail_) break;
          if (c == pairTail_ && cursor_ > inputStart_ && static_cast<unsigned char>(cursor_[-1]) == pairHead_)
            return false;
        }
        if (!IsLineSep(c)) return false;
        break;
      }
      case OpBranch: {
        if (next && next[0] == OpBranch) {
          const char* save = cursor_;
          do {
            if (MatchPrim(scan + kHeader)) return true;
            cursor_ = save;
            scan = NextNode(scan);
          } while (scan && scan[0] == OpBranch);
          return false;
        }
        next = scan + kHeader;  // one alternative: no choice to remember
        break;
      }
      case OpBack: return MatchBack(scan, next);
      case OpNothing:
      case OpComment: break;
      case OpStar: case OpPlus: case OpRepeat:
      case OpStarLazy: case OpPlusLazy: case OpRepeatLazy: {
        int minCount, maxCount;
        Node opnd;
        if (op == OpRepeat || op == OpRepeatLazy) {
          minCount = ReadLE32(scan + kHeader);
          maxCount = ReadLE32(scan + kHeader + 4);
          opnd = scan + kHeader + 8;
        } else {
          minCount = (op == OpPlus || op == OpPlusLazy) ? 1 : 0;
          maxCount = INT_MAX;
          opnd = scan + kHeader;
        }
        // The character a continuation must start with, when it is a literal.
        int hint = -1, hint2 = -1;
        if (next && (next[0] == OpLiteral || next[0] == OpLiteralFold) && next[kHeader] != 0) {
          hint = hint2 = next[kHeader];
          if (next[0] == OpLiteralFold) hint2 = Other(next[kHeader]);
        }
        auto hintOk = [&]() {
          const int ch = static_cast<unsigned char>(*cursor_);
          return hint < 0 || ch == hint || ch == hint2;
        };
        const char* base = cursor_;
        int step = 1;
        const int n = RegRepeat(opnd, maxCount, step);
        if (n < minCount && step != 0) return false;
        if (step == 0) {
          cursor_ = base;
          return hintOk() && MatchPrim(next);
        }
        const bool lazy = op == OpStarLazy || op == OpPlusLazy || op == OpRepeatLazy;
        if (step == 1 && hint >= 0 && n - minCount > kOccurrenceWindow) {
          // A long run before a literal: only where the whole literal stands can the rest match,
          // and those places are listed once per search.
          const std::vector<int32_t>& at = LiteralOccurrences(next);
          const int32_t lo = static_cast<int32_t>(base - inputStart_) + minCount;
          const int32_t hi = static_cast<int32_t>(base - inputStart_) + n;
          Charge(1);
          if (!lazy) {
            for (auto it = std::upper_bound(at.begin(), at.end(), hi); it != at.begin() && *--it >= lo;) {
              cursor_ = inputStart_ + *it;
              if (MatchPrim(next)) return true;
            }
          } else {
            for (auto it = std::lower_bound(at.begin(), at.end(), lo); it != at.end() && *it <= hi; ++it) {
              cursor_ = inputStart_ + *it;
              if (MatchPrim(next)) return true;
            }
          }
          return false;
        }
        // Every place looked at counts against the budget, the ones the hint turns down too.
        if (!lazy) {
          for (int64_t k = n; k >= minCount; --k) {
            Step();
            cursor_ = base + k * step;
            if (hintOk() && MatchPrim(next)) return true;
          }
        } else {
          for (int64_t k = minCount; k <= n; ++k) {
            Step();
            cursor_ = base + k * step;
            if (hintOk() && MatchPrim(next)) return true;
          }
        }
        return false;
      }
      case OpLoopEntry: {
        if (loopDepth_ >= kLoopStackSize) Error(reeLoopStackExceeded);
        const int level = loopDepth_++;
        const int32_t oldCount = loopCount_[level];
        const char* oldStart = loopStart_[level];
        loopCount_[level] = 0;
        loopStart_[level] = nullptr;
        const char* save = cursor_;
        const bool ok = MatchPrim(next);
        loopDepth_ = level;
        loopCount_[level] = oldCount;
        loopStart_[level] = oldStart;
        if (!ok) cursor_ = save;
        return ok;
      }
      case OpLoop:
      case OpLoopLazy: {
        if (loopDepth_ <= 0) Error(reeLoopWithoutEntry);
        const int level = loopDepth_ - 1;
        const int32_t minCount = ReadLE32(scan + kHeader);
        const int32_t maxCount = ReadLE32(scan + kHeader + 4);
        Node opnd = scan + ReadLE32(scan + kHeader + 8);
        const int32_t count = loopCount_[level];
        const char* save = cursor_;
        // A pass that consumed nothing would repeat for ever: count the loop as done.
        const bool emptyPass = count > 0 && cursor_ == loopStart_[level];
        // The outermost loop, past its minimum and too far below its maximum to reach it
        // before the text ends: what follows depends on the cursor, not on the count.
        const bool memo = memoOk_ && level == 0 && count >= minCount &&
                          static_cast<int64_t>(maxCount) - count > inputEnd_ - cursor_;
        if (memo && KnownToFail(scan, emptyPass, -1)) return false;
        auto iterate = [&]() {
          const char* oldStart = loopStart_[level];
          loopCount_[level] = count + 1;
          loopStart_[level] = cursor_;
          if (MatchPrim(opnd)) return true;
          loopDepth_ = level + 1;
          loopCount_[level] = count;
          loopStart_[level] = oldStart;
          cursor_ = save;
          return false;
        };
        // Leaving the loop takes its level off the stack, so that an enclosing loop reached
        // from here counts with its own counter.
        auto leave = [&]() {
          loopDepth_ = level;
          if (MatchPrim(next)) return true;
          loopDepth_ = level + 1;
          loopCount_[level] = count;
          cursor_ = save;
          return false;
        };
        if (!emptyPass && count < minCount) return iterate();
        bool ok;
        if (op == OpLoop)
          ok = (!emptyPass && count < maxCount && iterate()) || leave();
        else
          ok = leave() || (!emptyPass && count < maxCount && iterate());
        if (!ok && memo) RememberFailure(scan, emptyPass, -1);
        return ok;
      }
      default:
        if (op >= OpOpen + 1 && op < OpOpen + kGroupCount) {
          const int g = op - OpOpen;
          const char* old = startp_[g];
          startp_[g] = cursor_;
          if (MatchPrim(next)) return true;
          startp_[g] = old;
          return false;
        }
        if (op >= OpClose + 1 && op < OpClose + kGroupCount) {
          const int g = op - OpClose;
          const char* old = endp_[g];
          endp_[g] = cursor_;
          if (MatchPrim(next)) return true;
          endp_[g] = old;
          return false;
        }
        Error(reeMatchPrimMemoryCorruption);
    }
    scan = next;
  }
  Error(reeMatchPrimCorruptedPointers);
}
