// The compiler of the regular-expression engine: the object and its properties, the error texts,
// the syntax and the emitting of the byte program, and the search data derived from it (start
// character, required literal, first-character set, prefix filter). The matcher is in
// RegularExpressionsMatcher.cpp.
#include "shell/RegularExpressions.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "shell/RegularExpressionsInternal.h"

using namespace regex_internal;

namespace {

// Compiler flags of a construct.
constexpr int HASWIDTH = 1;  // always consumes at least one character
constexpr int SIMPLE = 2;    // one one-character node: operand of the compact repeat nodes
constexpr int SPSTART = 4;   // starts with a star or plus

constexpr int32_t kOpenMax = 2147483646;  // open maximum of a counted repeat
constexpr const char* kMeta = "^$.[()|?+*\\{";

const char* const kDefaultSpaces = " \t\n\r\f";
const char* const kDefaultWordChars =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
const char* const kDefaultLineSeparators = "\r\n";
const char* const kDefaultPair = "\r\n";
constexpr uint32_t kDefaultModifiers = kModR | kModS | kModG;

inline bool IsXSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

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
    case reeSearchCancelled: return "TRegularExpression(exec): Search Cancelled";
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
    if (CancelFlag && CancelFlag->load(std::memory_order_relaxed)) Error(reeSearchCancelled);
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
