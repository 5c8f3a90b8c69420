// The matcher of the regular-expression engine: the search over a subject with its start-position
// filter, the recursive matcher of the byte program, its step budget and the memo of places known
// to fail. The program comes from RegularExpressionsCompiler.cpp.
#include "shell/RegularExpressions.h"

#include <pthread.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstring>

#include "shell/RegularExpressionsInternal.h"

using namespace regex_internal;

namespace {

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
  steps_ = 0;
  nextCheck_ = 0;  // the first unit looks at the limit and the flag
  const char* s = input + from;
  const char* end = input + len;

  if (reqLiteral_ >= 0 && !HasRequiredLiteral(s, end)) return false;

  inputStart_ = input;
  inputEnd_ = end;
  loopDepth_ = 0;
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

// Looks for the literal every match contains, a piece at a time: a unit per 64 characters, so
// that the limit and the flag are looked at during a search of a long subject too.
bool TRegularExpression::HasRequiredLiteral(const char* s, const char* end) {
  const char* lit = reinterpret_cast<const char*>(program_.data()) + reqLiteral_;
  const ptrdiff_t len = reqLiteralLen_;
  constexpr ptrdiff_t kPiece = 64 * 1024;
  for (const char* p = s; end - p >= len;) {
    const ptrdiff_t span = std::min(end - p, kPiece + len - 1);  // pieces overlap by len - 1
    Charge(span / 64 + 1);
    if (memmem(p, static_cast<size_t>(span), lit, static_cast<size_t>(len))) return true;
    p += span - (len - 1);
  }
  return false;
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
// time. The scan is charged as it goes, also where it never makes an attempt: a unit per 16
// positions passed over and one per position whose prefix is tested.
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
      Charge(1 + __builtin_popcount(mask));
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
  for (; p - s <= last; ++p) {
    if (((p - s) & 15) == 0) Step();
    if (!first[static_cast<unsigned char>(p[firstOff])]) continue;
    Step();
    if (PrefixAt(p) && attempt(p)) return true;
  }
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
    Charge(1);
    const unsigned char a = text[0], b = fold ? Other(text[0]) : text[0];
    const unsigned char* found = nullptr;
    if (static_cast<size_t>(end - from) >= len) {
      const unsigned char y = text[len - 1], z = fold ? Other(y) : y;
      int64_t compared = 0;
      for (const unsigned char* q = end - len + 1; q-- > from;) {
        if (((end - q) & 4095) == 0) Charge(64);  // a unit per 64 characters scanned
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
  if (++steps_ >= nextCheck_) Checkpoint();
}

inline void TRegularExpression::Charge(int64_t units) {
  steps_ += units;
  if (steps_ >= nextCheck_) Checkpoint();
}

// The step limit and the cancel flag, looked at every kCheckEvery units: the flag is another
// thread's, and a load per node would cost more than the node.
void TRegularExpression::Checkpoint() {
  if (StepLimit > 0 && steps_ > StepLimit) Error(reeStepLimitExceeded);
  if (CancelFlag && CancelFlag->load(std::memory_order_relaxed)) Error(reeSearchCancelled);
  nextCheck_ = steps_ + kCheckEvery;
  if (StepLimit > 0) nextCheck_ = std::min(nextCheck_, StepLimit + 1);
}

// The places in the subject where the literal of node `lit` stands whole (ascending offsets),
// found once per search. The scan is charged a unit per 64 characters, as it goes.
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
  Charge(1);  // and a unit per 64 characters as the scan goes
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
    if (((q - in) & 1023) == 0) Charge(16);
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
  for (; q <= last; ++q) {
    if (((q - in) & 1023) == 0) Charge(16);
    if ((*q == a || *q == b) && whole(q)) o->At.push_back(static_cast<int32_t>(q - in));
  }
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
