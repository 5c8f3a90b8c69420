#pragma once
// A small backtracking regular-expression engine over 8-bit (Windows-1252) characters. The
// expression compiles into a byte program of linked nodes that a recursive matcher runs. Needs
// nothing above src/base, so the fuzzers and benchmarks can link it without the GUI. The
// compiler is in RegularExpressionsCompiler.cpp, the search and matcher in
// RegularExpressionsMatcher.cpp.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/Exceptions.h"

class ERegularExpression : public Exception {
public:
  ERegularExpression(const std::string& message, int code, int position)
      : Exception(message), ErrorCode(code), ErrorPosition(position) {}
  int32_t ErrorCode;
  int32_t ErrorPosition;
};

// Error codes (messages in TRegularExpression::ErrorMessage).
enum : int32_t {
  reeCompNullArgument = 100,
  reeCompParseRegTooManyBrackets = 102,
  reeCompParseRegUnmatchedBrackets = 103,
  reeCompParseRegUnmatchedBrackets2 = 104,
  reeCompParseRegJunkOnEnd = 105,
  reePlusStarOperandCouldBeEmpty = 106,
  reeNestedSQP = 107,
  reeBadHexDigit = 108,
  reeInvalidRange = 109,
  reeParseAtomTrailingBackSlash = 110,
  reeNoHexCodeAfterBSlashX = 111,
  reeHexCodeAfterBSlashXTooBig = 112,
  reeUnmatchedSqBrackets = 113,
  reeInternalUrp = 114,
  reeQPSBFollowsNothing = 115,
  reeTrailingBackSlash = 116,
  reeRarseAtomInternalDisaster = 119,
  reeBRACESArgTooBig = 122,
  reeBracesMinParamGreaterMax = 124,
  reeUnclosedComment = 125,
  reeUnrecognizedModifier = 127,
  reeBadLinePairedSeparator = 128,
  reeRegRepeatCalledInappropriately = 1000,
  reeMatchPrimMemoryCorruption = 1001,
  reeMatchPrimCorruptedPointers = 1002,
  reeNoExpression = 1003,
  reeCorruptedProgram = 1004,
  reeNoInputStringSpecified = 1005,
  reeOffsetMustBeGreaterThen0 = 1006,
  reeModifierUnsupported = 1013,
  reeLoopStackExceeded = 1014,
  reeLoopWithoutEntry = 1015,
  // Our own guards: a search that would exhaust the stack, or that ran past StepLimit.
  reeRecursionTooDeep = 1016,
  reeStepLimitExceeded = 1017,
  reeSearchCancelled = 1018,  // CancelFlag was set while the search ran
};

// Opcodes of the compiled program. Every node: opcode byte, signed 32-bit little-endian offset
// to the next node (0 = none), then the operand.
enum : uint8_t {
  OpEnd = 0,
  OpInputStart = 1,
  OpInputEnd = 2,
  OpAny = 3,
  OpBranch = 6,
  OpBack = 7,
  OpLiteral = 8,
  OpNothing = 9,
  OpStar = 10,
  OpPlus = 11,
  OpDigit = 12,
  OpNonDigit = 13,
  OpRepeat = 18,
  OpComment = 19,
  OpLiteralFold = 20,
  OpLoopEntry = 23,
  OpLoop = 24,
  OpTinySet = 25,
  OpTinySetNot = 26,
  OpFullSet = 27,
  OpBackRef = 28,
  OpBackRefFold = 29,
  OpStarLazy = 30,
  OpPlusLazy = 31,
  OpRepeatLazy = 32,
  OpLoopLazy = 33,
  OpLineStart = 34,
  OpLineEnd = 35,
  OpAnyInLine = 36,
  OpWordBoundary = 37,
  OpNotWordBoundary = 38,
  OpOpen = 39,   // + group number 1..14
  OpClose = 54,  // + group number 1..14
};

// Modifier bits of TRegularExpression::Modifiers.
enum : uint32_t {
  kModI = 1,   // ignore case
  kModR = 2,   // letter-range extension in classes
  kModS = 4,   // "." matches line separators too
  kModG = 8,   // greedy quantifiers
  kModM = 16,  // "^" and "$" at line breaks
  kModX = 32,  // extended syntax
};

class TRegularExpression {
public:
  static constexpr int kGroupCount = 15;  // group 0 is the whole match
  static constexpr int kLoopStackSize = 10;
  static constexpr uint8_t kMagic = 216;

  TRegularExpression();
  virtual ~TRegularExpression();
  TRegularExpression(const TRegularExpression&) = delete;
  TRegularExpression& operator=(const TRegularExpression&) = delete;

  virtual void RaiseError(int32_t code);
  virtual std::string ErrorMessage(int32_t code) const;

  void SetExpression(const std::string& text);
  const std::string& Expression() const { return expression_; }
  bool HasExpression() const { return hasExpression_; }

  // number 1..6 = i, r, s, g, m, x
  void SetModifier(int number, bool on);
  bool GetModifier(int number) const;
  // Letters i r s g m x (either case); "-" turns the later ones off. False at any other character.
  static bool ParseModifiers(const std::string& text, uint32_t& bits);

  void SetLinePairedSeparator(const std::string& text);
  std::string LinePairedSeparator() const;

  void Compile();
  bool ProgramReady();
  int32_t ErrorPosition() const;
  int32_t LastError() const { return lastError_; }

  // Searches the subject from its first character. The subject is not copied: the results
  // (MatchPos, Match) stay valid after it is gone, but ExecFrom needs a SetInput of its own.
  bool Exec(const std::string& subject);
  // Stores a copy of the subject for ExecFrom.
  void SetInput(const std::string& subject);
  bool ExecFrom(int offset);  // 1-based, in the subject of the last SetInput

  // Results of the last search: 1-based position and length of group n, -1 when it took no part.
  int MatchPos(int n) const;
  int MatchLen(int n) const;
  std::string Match(int n) const;

  // Read-only view of the compiled program (magic byte first); empty when none.
  const std::vector<uint8_t>& Program() const { return program_; }
  // Search data derived by the compiler.
  char StartCharacter() const { return static_cast<char>(startChar_); }
  bool Anchored() const { return anchored_ != 0; }
  std::string RequiredLiteral() const;
  bool InFirstCharSet(unsigned char c) const { return (firstCharSet_[c >> 3] >> (c & 7)) & 1; }

  // The other case of c from a fixed Windows-1252 table (independent of the locale).
  static char OtherCase(char c);

  uint32_t Modifiers = 0;
  std::string SpaceCharacters;
  std::string WordCharacters;
  std::string LineSeparators;
  // Units of work per search before it gives up with reeStepLimitExceeded; 0 = no limit. A unit
  // is a node visited, a place a repeat backs off to, 8 characters counted by a repeat, 16
  // characters compared, 64 characters scanned for a literal, 16 start positions passed over or
  // one start position whose prefix is tested (a remembered failure looked up or stored by key
  // takes 4), so the limit bounds the time whatever the subject and the expression (20 million
  // units take well under a second).
  int64_t StepLimit = 0;
  // Units the last search used (also when it raised); a caller with several searches can keep
  // one budget over all of them.
  int64_t StepsUsed() const { return steps_; }
  // Set by another thread to end a search or a compile in progress with reeSearchCancelled;
  // looked at as the search counts its units (a few thousand at a time) and at each piece the
  // compiler reads. Null: never.
  const std::atomic<bool>* CancelFlag = nullptr;

private:
  using Node = const uint8_t*;
  struct BackRecord {
    const char* pos;
    int32_t prev;
  };

  [[noreturn]] void Error(int32_t code);
  void FreeProgram();

  // compiler
  void DoCompile();
  int EmitNode(uint8_t op);
  void EmitByte(uint8_t b);
  void EmitInt(int32_t v);
  void InsertNode(uint8_t op, int at, int size);
  void SetTail(int p, int target);
  void SetOperandTail(int p, int target);
  int NextOf(int p) const;
  void WriteInt(int at, int32_t v);
  int32_t ReadInt(int at) const;
  int ParseReg(bool paren, int& flags);
  int ParseSequence(int& flags);
  int ParsePiece(int& flags);
  int ParseAtom(int& flags);
  int ParseClass(int& flags);
  int EmitSet(const uint8_t* set, int count, bool negated);
  int EmitCharSet(const std::string& chars, bool negated);
  int EmitOneChar(unsigned char c);
  unsigned char UnQuoteChar();
  int HexDigit(char c);
  int ParseCount(const char* from, const char* to);
  void FillFirstCharSet();

  // search
  static constexpr int kMaxPrefix = 16;
  struct ScanSet {  // up to four characters tested 16 positions at a time
    int Offset = 0;
    int Count = 0;  // 0 = no such set
    uint8_t Chars[4] = {};
  };
  void ClearGroups();
  bool Search(const char* input, int32_t len, int32_t from);
  bool ScanAndTry(const char* s, const char* end);
  bool HasRequiredLiteral(const char* s, const char* end);
  bool PrefixAt(const char* p) const;
  ptrdiff_t LastStartByLiterals(const char* s);
  void KeepMatch();
  bool OneCharSet(int p, uint8_t* set) const;
  int PrefixWalk(int p, int off, uint8_t (*sets)[32], int& budget, int depth) const;
  void BuildPrefixFilter();

  // matcher
  bool TryAt(const char* p);
  bool MatchPrim(Node scan);
  int RegRepeat(Node p, int max, int& step);
  bool MatchBack(Node scan, Node next);
  void IndexLoops();
  bool MemoKey(Node node, int variant, int exclude, int64_t& bit);
  bool KnownToFail(Node node, int variant, int exclude);
  void RememberFailure(Node node, int variant, int exclude);
  bool IsWordChar(unsigned char c) const { return (wordSet_[c >> 3] >> (c & 7)) & 1; }
  bool IsLineSep(unsigned char c) const { return (lineSepSet_[c >> 3] >> (c & 7)) & 1; }
  void Step();
  void Charge(int64_t units);
  void Checkpoint();
  const std::vector<int32_t>& LiteralOccurrences(Node lit);

  const char* startp_[kGroupCount] = {};
  const char* endp_[kGroupCount] = {};
  int32_t loopCount_[kLoopStackSize] = {};
  const char* loopStart_[kLoopStackSize] = {};
  int32_t loopDepth_ = 0;
  uint8_t startChar_ = 0;
  uint8_t anchored_ = 0;
  int32_t reqLiteral_ = -1;  // program offset of the literal's characters
  int32_t reqLiteralLen_ = 0;
  uint8_t firstCharSet_[32] = {};
  const char* cursor_ = nullptr;
  const char* inputStart_ = nullptr;
  const char* inputEnd_ = nullptr;

  const char* parse_ = nullptr;
  const char* exprStart_ = nullptr;
  int32_t nextGroup_ = 1;
  int32_t groupsUsed_ = kGroupCount;  // group 0 and the groups of the compiled program
  bool sizing_ = false;
  int32_t emitPos_ = 0;
  int32_t programSize_ = 0;
  bool compiled_ = false;
  std::vector<uint8_t> program_;
  std::string expression_;
  bool hasExpression_ = false;
  std::unique_ptr<char[]> input_;  // the SetInput subject, exact size: length + 1
  int32_t inputLen_ = 0;
  std::string matchText_;     // the text the group registers point into after a match
  int32_t matchOffset_ = 0;   // where matchText_ begins in the subject (0-based)
  // Start-position filter: the characters every match has at positions 0..prefixLen_-1 from its
  // start (256 flags per position), the first narrowed to the first-character rule.
  int prefixLen_ = 0;
  std::vector<uint8_t> prefixTable_;
  ScanSet scanA_, scanB_;
  // The literal nodes on the top-level chain of a single-alternative program; after
  // kBoundAfterSteps steps a search stops at the last place where they could all still stand.
  std::vector<int32_t> chainLiterals_;
  static constexpr int64_t kBoundAfterSteps = 100000;
  int32_t lastError_ = 0;
  uint32_t compModifiers_ = 0;
  uint32_t progModifiers_ = 0;

  bool pairSet_ = false;
  unsigned char pairHead_ = 0;
  unsigned char pairTail_ = 0;
  uint8_t lineSepSet_[32] = {};
  uint8_t wordSet_[32] = {};

  std::vector<BackRecord> backRecords_;
  std::vector<int32_t> backLast_;  // per program offset: latest record of that OpBack node
  int32_t backActive_ = 0;         // OpBack nodes with a record
  // Places from which the rest of the program is known to fail, so that loops whose passes can
  // split the text in many ways (x(a|aa)*y) try each place once rather than once per split.
  // Without back-references the rest depends only on the cursor, the open counted loops and the
  // last record of each OpBack node; it is remembered only with no counted loop open (the
  // outermost one at its own node), and the records of other OpBack nodes go into a key.
  bool memoOk_ = false;             // the program has no back-reference
  std::vector<int32_t> backNodes_;  // offsets of the OpBack nodes
  std::vector<int32_t> memoSlot_;   // per program offset: first bit set of an OpBack or loop node
  std::vector<std::vector<uint64_t>> memoBits_;  // per slot: a bit per cursor offset
  std::string memoKey_;
  std::unordered_set<std::string> memoKeys_;  // (slot, cursor, other OpBack records) that failed
  static constexpr size_t kMemoKeyCap = 1 << 17;  // about 13 MB at most
  uintptr_t stackGuard_ = 0;
  int64_t steps_ = 0;
  int64_t nextCheck_ = 0;  // steps_ at which Checkpoint runs next
  static constexpr int64_t kCheckEvery = 4096;
  // Where the literal after a repeat stands, per literal node, built when a repeat first backs
  // off over more than kOccurrenceWindow places in a search.
  static constexpr int kOccurrenceWindow = 64;
  struct Occurrences {
    int32_t Node = 0;
    bool Built = false;
    std::vector<int32_t> At;
  };
  std::vector<std::unique_ptr<Occurrences>> occurrences_;
};
