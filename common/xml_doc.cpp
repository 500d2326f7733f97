#include "common/xml_doc.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <unordered_map>
#include <utility>

// One element. Offsets are into the document text; the document itself is record 0, the
// virtual parent of the root element.
struct CXmlDoc::ElemRec {
  uint32_t start;       // the element's '<'
  uint32_t length;      // start tag to the end of the end tag
  uint32_t tagLens;     // start-tag length in the low 22 bits, end-tag length in the high 10
  uint32_t flagsLevel;  // nesting depth in the low 16 bits (root 0), flags above
  uint32_t parent;
  uint32_t first;       // first child, 0 if none
  uint32_t next;        // next sibling, 0 if last
  uint32_t prev;        // previous sibling; the first child holds the last child here
};

namespace {

constexpr uint32_t kStartLenMask = 0x3FFFFF;
constexpr uint32_t kEndLenShift = 22;
constexpr uint32_t kMaxEndLen = 0x3FF;
constexpr uint32_t kLevelMask = 0xFFFF;
constexpr uint32_t kMaxLevel = 0xFFFF;

constexpr uint32_t kEmptyTag = 0x10000;         // ends in "/>"
constexpr uint32_t kFirstChild = 0x80000;
constexpr uint32_t kNotEnded = 0x100000;        // no end tag
constexpr uint32_t kIllFormed = 0x200000;
constexpr uint32_t kHoldsIllFormed = 0x800000;  // on record 0: the document is not well formed

constexpr uint32_t kSegmentRecords = 0x10000;   // 2 MiB of records

// Offsets live in 32-bit record fields; a 32-bit process could not hold more text anyway,
// and the byte count of a save (at most twice the text) still fits an int.
constexpr size_t kMaxText = 0x3FFFFFFF;

constexpr size_t npos = std::string::npos;

// Scanner results besides the node types.
enum { kTokEnd = -2, kTokError = -1, kTokEndTag = 0 };

struct Token {
  int type;
  size_t start;
  size_t end;  // one past the token
  size_t nameStart;
  size_t nameLen;
  bool empty;         // start tag ending in "/>"
  const char* kind;   // scanning error: what was being read
  bool unterminated;  // scanning error: ran into the end of the text
};

inline bool IsWhite(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Every byte above 0x60 starts a name, which admits the lead bytes of double-byte text.
inline bool IsNameStart(unsigned char c) {
  return c > 0x60 || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

inline bool EndsName(unsigned char c) { return IsWhite(c) || c == '/' || c == '>'; }

inline bool EndsAttrName(unsigned char c) {
  return IsWhite(c) || c == '=' || c == '>' || c == '/' || c == '?';
}

inline unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

bool SameBytes(const char* a, const char* b, size_t n, bool fold) {
  if (!fold) return std::memcmp(a, b, n) == 0;
  for (size_t i = 0; i < n; ++i) {
    if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string Fmt(const char* fmt, ...) {
  char small[256];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(&out[0], out.size(), fmt, ap);
  va_end(ap);
  out.resize(static_cast<size_t>(n));
  return out;
}

// The runtime's text for an error number, first line only.
std::string ErrnoText(int e) {
  const char* m = std::strerror(e);
  std::string s = m ? m : "";
  size_t eol = s.find_first_of("\r\n");
  if (eol != npos) s.resize(eol);
  return s;
}

// Offset of c at or after from, or n.
inline size_t FindChar(const char* s, size_t n, size_t from, char c) {
  if (from >= n) return n;
  const void* p = std::memchr(s + from, c, n - from);
  return p ? static_cast<size_t>(static_cast<const char*>(p) - s) : n;
}

size_t FindSeq(const char* s, size_t n, size_t from, const char* seq, size_t len) {
  while (from + len <= n) {
    const void* p = std::memchr(s + from, seq[0], n - from - len + 1);
    if (!p) return npos;
    size_t at = static_cast<size_t>(static_cast<const char*>(p) - s);
    if (std::memcmp(s + at, seq, len) == 0) return at;
    from = at + 1;
  }
  return npos;
}

int Unterminated(Token& t, const char* kind, size_t n) {
  t.kind = kind;
  t.unterminated = true;
  t.end = n;
  return t.type = kTokError;
}

// A bad character after '<': the rest up to the next '>' is passed over.
int Incorrect(Token& t, const char* s, size_t n, const char* kind) {
  t.kind = kind;
  t.unterminated = false;
  size_t gt = FindChar(s, n, t.start + 1, '>');
  t.end = gt < n ? gt + 1 : n;
  return t.type = kTokError;
}

int ScanStartTag(const char* s, size_t n, size_t pos, Token& t) {
  size_t i = pos + 1;
  while (i < n && !EndsName(s[i])) ++i;
  const size_t nameEnd = i;
  t.nameStart = pos + 1;
  t.nameLen = nameEnd - t.nameStart;
  // A quote opened after '=' hides '>' until it closes.
  size_t afterQuote = npos;
  for (;;) {
    while (i < n && s[i] != '>' && s[i] != '=') ++i;
    if (i >= n) return Unterminated(t, "Element tag", n);
    if (s[i] == '>') break;
    ++i;
    while (i < n && IsWhite(s[i])) ++i;
    if (i < n && (s[i] == '"' || s[i] == '\'')) {
      size_t q = FindChar(s, n, i + 1, s[i]);
      if (q >= n) return Unterminated(t, "Element tag", n);
      i = q + 1;
      afterQuote = i;
    }
  }
  t.end = i + 1;
  // "/>" closes the element only after the name, whitespace or a closing quote; after an
  // unquoted value the slash belongs to the value.
  if (s[i - 1] == '/' && i - 1 >= nameEnd) {
    size_t slash = i - 1;
    t.empty = slash == nameEnd || IsWhite(s[slash - 1]) || slash == afterQuote;
  }
  return t.type = CXmlDoc::kNodeElement;
}

// One token from pos; the text ends at n.
int Scan(const char* s, size_t n, size_t pos, Token& t) {
  t.start = pos;
  t.nameStart = 0;
  t.nameLen = 0;
  t.empty = false;
  t.kind = nullptr;
  t.unterminated = false;
  if (pos >= n) {
    t.end = n;
    return t.type = kTokEnd;
  }
  if (s[pos] != '<') {
    size_t i = pos;
    while (i < n && IsWhite(s[i])) ++i;
    int type = CXmlDoc::kNodeWhitespace;
    if (i < n && s[i] != '<') {
      type = CXmlDoc::kNodeText;
      i = FindChar(s, n, i, '<');
    }
    t.end = i;
    return t.type = type;
  }
  if (pos + 1 >= n) return Unterminated(t, "tag", n);
  unsigned char c = s[pos + 1];
  if (IsNameStart(c)) return ScanStartTag(s, n, pos, t);
  if (c == '/') {
    size_t i = pos + 2;
    while (i < n && !EndsName(s[i])) ++i;
    t.nameStart = pos + 2;
    t.nameLen = i - t.nameStart;
    size_t gt = FindChar(s, n, i, '>');
    if (gt >= n) return Unterminated(t, "Element end tag", n);
    t.end = gt + 1;
    return t.type = kTokEndTag;
  }
  if (c == '?') {
    size_t e = FindSeq(s, n, pos + 2, "?>", 2);
    if (e == npos) return Unterminated(t, "Processing instruction", n);
    size_t i = pos + 2;
    while (i < e && !EndsName(s[i])) ++i;
    t.nameStart = pos + 2;
    t.nameLen = i - t.nameStart;
    t.end = e + 2;
    return t.type = CXmlDoc::kNodeProcessing;
  }
  if (c != '!') return Incorrect(t, s, n, "tag name character");
  if (pos + 2 >= n) return Unterminated(t, "tag", n);
  c = s[pos + 2];
  if (c == '-' || c == '[') {
    if (pos + 3 >= n) return Unterminated(t, "tag", n);
    const bool comment = c == '-';
    if (s[pos + 3] != (comment ? '-' : 'C')) return Incorrect(t, s, n, comment ? "comment tag" : "tag");
    size_t e = FindSeq(s, n, pos + 4, comment ? "-->" : "]]>", 3);
    if (e == npos) return Unterminated(t, comment ? "Comment" : "CDATA Section", n);
    t.end = e + 3;
    return t.type = comment ? CXmlDoc::kNodeComment : CXmlDoc::kNodeCData;
  }
  if (c == 'D') {
    // The internal subset holds declarations of its own; only a '>' outside them ends it.
    size_t depth = 0;
    for (size_t i = pos + 3; i < n; ++i) {
      if (s[i] == '<') {
        ++depth;
      } else if (s[i] == '>') {
        if (depth == 0) {
          t.end = i + 1;
          return t.type = CXmlDoc::kNodeDocType;
        }
        --depth;
      }
    }
    return Unterminated(t, "Doctype", n);
  }
  if (c == 'E' || c == 'A' || c == 'N') {
    size_t gt = FindChar(s, n, pos + 3, '>');
    if (gt >= n) return Unterminated(t, "Doctype", n);
    t.end = gt + 1;
    return t.type = CXmlDoc::kNodeDocType;
  }
  return Incorrect(t, s, n, "! tag");
}

std::string ScanErrorText(const Token& t) {
  if (t.unterminated) return Fmt("%s at offset %d unterminated", t.kind, static_cast<int>(t.start));
  return Fmt("Incorrect %s at offset %d", t.kind, static_cast<int>(t.start));
}

// Length of the reference at p[0] == '&' and the byte it stands for; 0 when it is not one.
size_t ReadReference(const char* p, size_t n, char* out) {
  static const struct {
    const char* text;
    size_t len;
    char c;
  } kNamed[] = {{"&lt;", 4, '<'}, {"&amp;", 5, '&'}, {"&gt;", 4, '>'}, {"&apos;", 6, '\''}, {"&quot;", 6, '"'}};
  for (const auto& r : kNamed) {
    if (n >= r.len && std::memcmp(p, r.text, r.len) == 0) {
      *out = r.c;
      return r.len;
    }
  }
  if (n < 4 || p[1] != '#') return 0;
  // The ';' must come within the seven characters after "&#".
  size_t semi = 0;
  for (size_t i = 2; i < n && i <= 8; ++i) {
    if (p[i] == ';') {
      semi = i;
      break;
    }
  }
  if (!semi) return 0;
  const bool hex = p[2] == 'x';
  size_t i = hex ? 3 : 2;
  if (i >= semi) return 0;
  uint32_t code = 0;
  for (; i < semi; ++i) {
    unsigned char d = static_cast<unsigned char>(p[i]);
    uint32_t v;
    if (d >= '0' && d <= '9') {
      v = d - '0';
    } else if (hex && d >= 'a' && d <= 'f') {
      v = d - 'a' + 10;
    } else if (hex && d >= 'A' && d <= 'F') {
      v = d - 'A' + 10;
    } else {
      return 0;
    }
    code = code * (hex ? 16 : 10) + v;
  }
  if (code == 0) return 0;
  // The code page takes Latin-1 code points as single bytes; nothing above them survives.
  *out = code <= 0xFF ? static_cast<char>(code) : '?';
  return semi + 1;
}

std::string Resolve(const char* p, size_t n) {
  if (!n || !std::memchr(p, '&', n)) return std::string(p, n);
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    size_t amp = FindChar(p, n, i, '&');
    out.append(p + i, amp - i);
    if (amp >= n) break;
    char c;
    size_t used = ReadReference(p + amp, n - amp, &c);
    if (used) {
      out += c;
      i = amp + used;
    } else {
      out += '&';
      i = amp + 1;
    }
  }
  return out;
}

// The inside of a delimited token, or "" when it is too short to have one.
std::string Inner(const char* s, size_t b, size_t e, size_t head, size_t tail) {
  if (e - b < head + tail) return std::string();
  return std::string(s + b + head, e - b - head - tail);
}

// Names of the open elements, made only once an end tag fails to close the innermost one,
// so that a flood of stray end tags costs one look-up each instead of a walk down the stack.
struct NameKey {
  const char* p;
  size_t len;
};
struct NameHash {
  bool fold;
  size_t operator()(const NameKey& k) const {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < k.len; ++i) {
      unsigned char c = static_cast<unsigned char>(k.p[i]);
      h = (h ^ (fold ? FoldAscii(c) : c)) * 1099511628211ull;
    }
    return static_cast<size_t>(h);
  }
};
struct NameEq {
  bool fold;
  bool operator()(const NameKey& a, const NameKey& b) const {
    return a.len == b.len && SameBytes(a.p, b.p, a.len, fold);
  }
};
using OpenNames = std::unordered_map<NameKey, uint32_t, NameHash, NameEq>;

// UTF-8 to the program's code page, in place (never longer). Code points up to 0xFF become
// the byte of that value, everything else and every broken sequence becomes '?'.
size_t Utf8ToCodePage(char* p, size_t n) {
  size_t i = 0;
  while (i < n && static_cast<unsigned char>(p[i]) < 0x80) ++i;
  size_t out = i;
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(p[i++]);
    if (c < 0x80) {
      p[out++] = static_cast<char>(c);
      continue;
    }
    int follow;
    uint32_t code;
    if (c <= 0xDF) {
      follow = 1;
      code = c & 0x1F;
    } else if (c <= 0xEF) {
      follow = 2;
      code = c & 0x0F;
    } else if (c <= 0xF7) {
      follow = 3;
      code = c & 0x07;
    } else {
      p[out++] = '?';
      continue;
    }
    bool ok = true;
    for (; follow > 0; --follow) {
      // A byte below 0x80 breaks the sequence and is read again on its own.
      if (i >= n || static_cast<unsigned char>(p[i]) < 0x80) {
        ok = false;
        break;
      }
      code = (code << 6) | (static_cast<unsigned char>(p[i++]) & 0x3F);
    }
    p[out++] = ok && code <= 0xFF ? static_cast<char>(code) : '?';
  }
  return out;
}

// The declared encoding decides whether the bytes are UTF-8 on disk: no declaration, no
// encoding or "UTF-8..." means yes; any other declared encoding leaves the bytes alone.
bool StoredAsUtf8(const std::string& text) {
  size_t lt = text.find('<');
  if (lt == npos || lt + 1 >= text.size() || text[lt + 1] != '?') return true;
  size_t end = text.find("?>", lt + 2);
  if (end == npos) return true;
  CXmlDoc decl(text.substr(lt, end + 2 - lt));
  if (!decl.FindNode(CXmlDoc::kNodeProcessing)) return true;
  std::string enc = decl.GetAttribute("encoding");
  return enc.empty() || (enc.size() >= 5 && SameBytes(enc.data(), "UTF-8", 5, true));
}

#ifndef XMLDOC_READ_ONLY

std::string CodePageToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Length of a well-formed reference at p[0] == '&' ("&name;" or "&#...;"), or 0.
size_t WellFormedReference(const char* p, size_t n) {
  auto nameChar = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '-' || c == '.' || c >= 0x80;
  };
  if (n < 3) return 0;
  unsigned char c = static_cast<unsigned char>(p[1]);
  if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '#' || c == '_' || c == ':' || c >= 0x80)) {
    return 0;
  }
  for (size_t i = 2; i < n; ++i) {
    if (p[i] == ';') return i + 1;
    if (!nameChar(static_cast<unsigned char>(p[i]))) return 0;
  }
  return 0;
}

void AppendEscaped(std::string& out, const std::string& data, int flags) {
  const char* p = data.data();
  const size_t n = data.size();
  for (size_t i = 0; i < n; ++i) {
    switch (p[i]) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': {
        size_t ref = (flags & CXmlDoc::kAppendKeepRefs) ? WellFormedReference(p + i, n - i) : 0;
        if (ref) {
          out.append(p + i, ref);
          i += ref - 1;
        } else {
          out += "&amp;";
        }
        break;
      }
      case '\'':
        out += (flags & CXmlDoc::kAppendEscapeQuotes) ? "&apos;" : "'";
        break;
      case '"':
        out += (flags & CXmlDoc::kAppendEscapeQuotes) ? "&quot;" : "\"";
        break;
      default: out += p[i];
    }
  }
}

// "]]>" inside the data closes the section and opens another, so the data reads back whole.
void AppendCData(std::string& out, const std::string& data) {
  out += "<![CDATA[";
  size_t from = 0;
  for (size_t at; (at = data.find("]]>", from)) != npos; from = at + 3) {
    out.append(data, from, at - from);
    out += "]]]]><![CDATA[>";
  }
  out.append(data, from, npos);
  out += "]]>";
}

#endif  // XMLDOC_READ_ONLY

}  // namespace

inline CXmlDoc::ElemRec& CXmlDoc::Rec(uint32_t i) { return m_segs[i >> 16][i & 0xFFFF]; }
inline const CXmlDoc::ElemRec& CXmlDoc::Rec(uint32_t i) const { return m_segs[i >> 16][i & 0xFFFF]; }

CXmlDoc::CXmlDoc() {
  static_assert(sizeof(ElemRec) == 32, "index records are 32 bytes");
  Reserve(8);
  m_used = 1;
  Rec(0) = ElemRec();
}

CXmlDoc::CXmlDoc(const std::string& text) : CXmlDoc() { SetText(text); }

CXmlDoc::~CXmlDoc() = default;

// A document moved from is an empty document again, never one without record 0.
CXmlDoc::CXmlDoc(CXmlDoc&& other) : CXmlDoc() { Swap(other); }

CXmlDoc& CXmlDoc::operator=(CXmlDoc&& other) {
  if (this != &other) {
    CXmlDoc empty;
    Swap(other);
    other.Swap(empty);
  }
  return *this;
}

void CXmlDoc::Swap(CXmlDoc& o) {
  m_text.swap(o.m_text);
  m_error.swap(o.m_error);
  std::swap(m_docFlags, o.m_docFlags);
  m_segs.swap(o.m_segs);
  std::swap(m_capacity, o.m_capacity);
  std::swap(m_used, o.m_used);
  std::swap(m_parent, o.m_parent);
  std::swap(m_current, o.m_current);
  std::swap(m_child, o.m_child);
  std::swap(m_nodeType, o.m_nodeType);
  std::swap(m_nodeOffset, o.m_nodeOffset);
  std::swap(m_nodeLength, o.m_nodeLength);
}

// The first segment grows by copying until it is whole, so that the many small documents
// of the program stay small; beyond it whole segments are added and indices keep their
// meaning.
bool CXmlDoc::Reserve(uint32_t want) {
  if (want <= m_capacity) return true;
  if (m_capacity < kSegmentRecords) {
    uint32_t first = want < kSegmentRecords ? want : kSegmentRecords;
    std::unique_ptr<ElemRec[]> seg(new (std::nothrow) ElemRec[first]);
    if (!seg) return false;
    if (m_used) std::memcpy(seg.get(), m_segs[0].get(), m_used * sizeof(ElemRec));
    if (m_segs.empty()) {
      m_segs.push_back(std::move(seg));
    } else {
      m_segs[0] = std::move(seg);
    }
    m_capacity = first;
  }
  while (m_capacity < want) {
    std::unique_ptr<ElemRec[]> seg(new (std::nothrow) ElemRec[kSegmentRecords]);
    if (!seg) return false;
    m_segs.push_back(std::move(seg));
    m_capacity += kSegmentRecords;
  }
  return true;
}

// A new record index, or 0 when memory runs out. References to records do not survive it.
uint32_t CXmlDoc::NewRecord() {
  if (m_used == m_capacity) {
    uint64_t want = static_cast<uint64_t>(m_used) + m_used / 2;
    if (want > 0xFFFFFFF0u || !Reserve(static_cast<uint32_t>(want))) return 0;
  }
  return m_used++;
}

void CXmlDoc::ClearPosition() {
  m_parent = m_current = m_child = 0;
  m_nodeType = 0;
  m_nodeOffset = m_nodeLength = 0;
}

bool CXmlDoc::SetText(const std::string& text) {
  m_text = text;
  m_error.clear();
  return Parse();
}

bool CXmlDoc::SetText(const char* text) { return SetText(std::string(text ? text : "")); }

bool CXmlDoc::Parse() {
  // After a file read the error text holds the byte count; it leads whatever the parse finds.
  std::string kept;
  kept.swap(m_error);
  ClearPosition();
  const size_t n = m_text.size();
  m_used = 1;
  ElemRec& root = Rec(0);
  root = ElemRec();
  if (n == 0) {
    m_error = "Empty document";
  } else if (n > kMaxText) {
    root.flagsLevel |= kHoldsIllFormed;
    m_error = "Document too large";
  } else {
    root.length = static_cast<uint32_t>(n);
    if (Reserve(static_cast<uint32_t>(n / 64 + 8))) {
      Walk();
    } else {
      Rec(0).flagsLevel |= kHoldsIllFormed;
      m_error = ErrnoText(ENOMEM);
    }
    const ElemRec& doc = Rec(0);
    if (!doc.first) {
      m_error = "No root element";
    } else if (Rec(doc.first).next) {
      m_error = "Root element has sibling";
    }
  }
  if (!kept.empty()) m_error = m_error.empty() ? kept : kept + ", " + m_error;
  return IsWellFormed();
}

// An element left open: it is only its start tag, and whatever was inside it follows it as
// its siblings. It is the last child of its parent while the walk runs.
void CXmlDoc::CloseNotEnded(uint32_t i) {
  ElemRec& r = Rec(i);
  r.length = r.tagLens & kStartLenMask;
  r.tagLens = r.length;
  r.flagsLevel |= kNotEnded;
  if (!r.first) return;
  const uint32_t first = r.first;
  ElemRec& f = Rec(first);
  const uint32_t last = f.prev;
  ElemRec& p = Rec(r.parent);
  for (uint32_t c = first; c; c = Rec(c).next) Rec(c).parent = r.parent;
  f.prev = i;
  f.flagsLevel &= ~kFirstChild;
  r.next = first;
  r.first = 0;
  Rec(p.first).prev = last;
}

void CXmlDoc::Walk() {
  const char* s = m_text.data();
  const size_t n = m_text.size();
  const bool fold = (m_docFlags & kDocIgnoreCase) != 0;
  struct Open {
    uint32_t rec;
    uint32_t nameLen;
  };
  std::vector<Open> stack;
  stack.reserve(32);
  std::unique_ptr<OpenNames> names;
  bool reparented = false;
  auto nameOf = [&](const Open& o) { return NameKey{s + Rec(o.rec).start + 1, o.nameLen}; };
  auto failToken = [&](const std::function<std::string()>& text) {
    Rec(0).flagsLevel |= kHoldsIllFormed;
    if (!stack.empty()) Rec(stack.back().rec).flagsLevel |= kIllFormed;
    if (m_error.empty()) m_error = text();
  };
  auto closeMatched = [&](uint32_t i, const Token& t) {
    ElemRec& r = Rec(i);
    r.length = static_cast<uint32_t>(t.end - r.start);
    r.tagLens |= static_cast<uint32_t>(t.end - t.start) << kEndLenShift;
  };
  auto pop = [&](size_t to) {
    if (names) {
      for (size_t j = to; j < stack.size(); ++j) --(*names)[nameOf(stack[j])];
    }
    stack.resize(to);
  };

  Token t;
  size_t pos = 0;
  while (pos < n) {
    if (s[pos] != '<') {
      pos = FindChar(s, n, pos, '<');
      continue;
    }
    switch (Scan(s, n, pos, t)) {
      case kNodeElement: {
        const size_t len = t.end - t.start;
        if (len > kStartLenMask) {
          failToken([&] { return Fmt("Element tag at offset %d too long", static_cast<int>(t.start)); });
          break;
        }
        if (stack.size() > kMaxLevel) {
          failToken([&] {
            return Fmt("Element '%.*s' at offset %d nested too deep", static_cast<int>(t.nameLen),
                       s + t.nameStart, static_cast<int>(t.start));
          });
          break;
        }
        const uint32_t i = NewRecord();
        if (!i) {
          failToken([] { return ErrnoText(ENOMEM); });
          t.end = n;
          break;
        }
        const uint32_t parent = stack.empty() ? 0 : stack.back().rec;
        ElemRec& r = Rec(i);
        r.start = static_cast<uint32_t>(t.start);
        r.length = static_cast<uint32_t>(len);
        r.tagLens = static_cast<uint32_t>(len);
        r.flagsLevel = static_cast<uint32_t>(stack.size()) | (t.empty ? kEmptyTag : 0);
        r.parent = parent;
        r.first = 0;
        r.next = 0;
        ElemRec& p = Rec(parent);
        if (!p.first) {
          p.first = i;
          r.prev = i;
          r.flagsLevel |= kFirstChild;
        } else {
          ElemRec& f = Rec(p.first);
          Rec(f.prev).next = i;
          r.prev = f.prev;
          f.prev = i;
        }
        if (!t.empty) {
          stack.push_back({i, static_cast<uint32_t>(t.nameLen)});
          if (names) ++(*names)[nameOf(stack.back())];
        }
        break;
      }
      case kTokEndTag: {
        if (t.end - t.start > kMaxEndLen) {
          failToken([&] { return Fmt("Element end tag at offset %d too long", static_cast<int>(t.start)); });
          break;
        }
        const NameKey key{s + t.nameStart, t.nameLen};
        const NameEq eq{fold};
        if (!stack.empty() && eq(nameOf(stack.back()), key)) {
          closeMatched(stack.back().rec, t);
          pop(stack.size() - 1);
          break;
        }
        size_t k = npos;
        if (!stack.empty()) {
          if (!names) {
            names.reset(new OpenNames(64, NameHash{fold}, NameEq{fold}));
            for (const Open& o : stack) ++(*names)[nameOf(o)];
          }
          auto it = names->find(key);
          if (it != names->end() && it->second > 0) {
            k = stack.size() - 1;
            while (!eq(nameOf(stack[k]), key)) --k;
          }
        }
        if (k == npos) {
          failToken([&] {
            return Fmt("No start tag for end tag '%.*s' at offset %d", static_cast<int>(t.nameLen),
                       s + t.nameStart, static_cast<int>(t.start));
          });
          break;
        }
        // Everything opened inside the matching element is closed as not ended.
        Rec(0).flagsLevel |= kHoldsIllFormed;
        Rec(stack[k].rec).flagsLevel |= kHoldsIllFormed;
        if (m_error.empty()) {
          const Open& top = stack.back();
          const uint32_t topStart = Rec(top.rec).start;
          m_error = Fmt("End tag '%.*s' at offset %d does not match start tag '%.*s' at offset %d",
                        static_cast<int>(t.nameLen), s + t.nameStart, static_cast<int>(t.start + 1),
                        static_cast<int>(top.nameLen), s + topStart + 1, static_cast<int>(topStart));
        }
        // Outermost first, so that every element is moved once.
        for (size_t j = k + 1; j < stack.size(); ++j) CloseNotEnded(stack[j].rec);
        reparented = true;
        closeMatched(stack[k].rec, t);
        pop(k);
        break;
      }
      case kTokError:
        failToken([&] { return ScanErrorText(t); });
        break;
      default:
        break;
    }
    pos = t.end;
  }

  if (!stack.empty()) {
    Rec(0).flagsLevel |= kHoldsIllFormed;
    if (m_error.empty()) {
      const Open& top = stack.back();
      const uint32_t topStart = Rec(top.rec).start;
      m_error = Fmt("Element '%.*s' at offset %d not ended", static_cast<int>(top.nameLen), s + topStart + 1,
                    static_cast<int>(topStart));
    }
    for (const Open& o : stack) CloseNotEnded(o.rec);
    reparented = true;
  }
  if (reparented) {
    // Moved elements sit higher now. A parent always has a lower index than its children,
    // so one pass in index order sets every depth again.
    for (uint32_t i = 1; i < m_used; ++i) {
      ElemRec& r = Rec(i);
      uint32_t level = r.parent ? (Rec(r.parent).flagsLevel & kLevelMask) + 1 : 0;
      r.flagsLevel = (r.flagsLevel & ~kLevelMask) | level;
    }
  }
}

bool CXmlDoc::IsWellFormed() const {
  const ElemRec& doc = Rec(0);
  return !(doc.flagsLevel & kHoldsIllFormed) && doc.first && !Rec(doc.first).next;
}

// The tag name in the text equals name, and name ends there or goes on with a character
// that cannot belong to a tag name.
bool CXmlDoc::NameMatches(const char* text, size_t len, const std::string& name) const {
  if (name.size() < len || !SameBytes(text, name.data(), len, (m_docFlags & kDocIgnoreCase) != 0)) return false;
  if (name.size() == len) return true;
  char c = name[len];
  return c == ' ' || c == '=' || c == '/' || c == '[' || c == ']';
}

size_t CXmlDoc::TagNameLength(const ElemRec& r) const {
  const char* s = m_text.data();
  const size_t b = r.start + 1;
  const size_t e = r.start + (r.tagLens & kStartLenMask);
  size_t i = b;
  while (i < e && !EndsName(s[i])) ++i;
  return i - b;
}

void CXmlDoc::ContentRange(uint32_t parent, size_t* begin, size_t* end) const {
  if (!parent) {
    *begin = 0;
    *end = m_text.size();
    return;
  }
  const ElemRec& r = Rec(parent);
  *begin = r.start + (r.tagLens & kStartLenMask);
  *end = r.start + r.length - (r.tagLens >> kEndLenShift);
  if (*end < *begin) *end = *begin;
}

bool CXmlDoc::FindNext(const std::string& name) {
  if (m_used <= 1) return false;
  for (uint32_t i = m_current ? Rec(m_current).next : Rec(m_parent).first; i; i = Rec(i).next) {
    const ElemRec& r = Rec(i);
    if (name.empty() || NameMatches(m_text.data() + r.start + 1, TagNameLength(r), name)) {
      m_current = i;
      m_child = 0;
      m_nodeType = 0;
      return true;
    }
  }
  return false;
}

bool CXmlDoc::FindNode(int types) {
  size_t begin, end;
  ContentRange(m_parent, &begin, &end);
  uint32_t before = m_current;
  uint32_t next = m_current ? Rec(m_current).next : Rec(m_parent).first;
  size_t pos;
  if (m_nodeType) {
    pos = m_nodeOffset + m_nodeLength;
  } else if (m_current) {
    pos = Rec(m_current).start + Rec(m_current).length;
  } else {
    pos = begin;
  }
  Token t;
  while (pos < end) {
    while (next && Rec(next).start < pos) {
      before = next;
      next = Rec(next).next;
    }
    if (next && Rec(next).start == pos) {
      if (!types || (types & kNodeElement)) {
        m_current = next;
        m_child = 0;
        m_nodeType = 0;
        return true;
      }
      pos = Rec(next).start + Rec(next).length;
      continue;
    }
    int type = Scan(m_text.data(), end, pos, t);
    if (type == kTokEnd) break;
    // A start tag without a record is one the parse refused.
    int node = type == kTokEndTag ? kNodeLoneEndTag : (type == kTokError || type == kNodeElement) ? kNodeError : type;
    if (!types || (types & node)) {
      m_current = before;
      m_child = 0;
      m_nodeType = node;
      m_nodeOffset = t.start;
      m_nodeLength = t.end - t.start;
      return true;
    }
    pos = t.end;
  }
  return false;
}

bool CXmlDoc::Enter() {
  if (!m_current || m_nodeType) return false;
  m_parent = m_current;
  m_current = m_child;
  m_child = 0;
  return true;
}

bool CXmlDoc::Leave() {
  if (!m_parent) return false;
  m_child = m_current;
  m_current = m_parent;
  m_parent = Rec(m_parent).parent;
  m_nodeType = 0;
  return true;
}

std::string CXmlDoc::GetAttribute(const std::string& name) const {
  const char* s = m_text.data();
  size_t i, e;
  if (m_nodeType == kNodeProcessing) {
    if (m_nodeLength < 4) return std::string();
    i = m_nodeOffset + 2;
    e = m_nodeOffset + m_nodeLength - 2;
  } else if (m_nodeType || !m_current) {
    return std::string();
  } else {
    const ElemRec& r = Rec(m_current);
    i = r.start + 1;
    e = r.start + (r.tagLens & kStartLenMask) - 1;
  }
  while (i < e && !EndsName(s[i])) ++i;
  while (i < e) {
    if (IsWhite(s[i])) {
      ++i;
      continue;
    }
    const size_t nameStart = i;
    while (i < e && !EndsAttrName(s[i])) ++i;
    const size_t nameLen = i - nameStart;
    if (!nameLen) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < e && IsWhite(s[j])) ++j;
    size_t valueStart = i, valueLen = 0;
    if (j < e && s[j] == '=') {
      ++j;
      while (j < e && IsWhite(s[j])) ++j;
      if (j < e && (s[j] == '"' || s[j] == '\'')) {
        valueStart = j + 1;
        size_t q = FindChar(s, e, valueStart, s[j]);
        valueLen = q - valueStart;
        i = q < e ? q + 1 : e;
      } else {
        valueStart = j;
        while (j < e && !IsWhite(s[j]) && s[j] != '>') ++j;
        valueLen = j - valueStart;
        i = j;
      }
    }
    if (NameMatches(s + nameStart, nameLen, name)) return Resolve(s + valueStart, valueLen);
  }
  return std::string();
}

std::string CXmlDoc::GetText() const {
  const char* s = m_text.data();
  if (m_nodeType) {
    const size_t b = m_nodeOffset, e = m_nodeOffset + m_nodeLength;
    switch (m_nodeType) {
      case kNodeComment: return Inner(s, b, e, 4, 3);
      case kNodeProcessing: return Inner(s, b, e, 2, 2);
      case kNodeCData: return Inner(s, b, e, 9, 3);
      case kNodeLoneEndTag: return Inner(s, b, e, 2, 1);
      case kNodeText: return Resolve(s + b, e - b);
      default: return std::string(s + b, e - b);
    }
  }
  if (!m_current) return std::string();
  const ElemRec& r = Rec(m_current);
  const uint32_t startLen = r.tagLens & kStartLenMask;
  if (r.first || startLen == r.length) return std::string();
  const size_t b = r.start + startLen;
  const size_t e = r.start + r.length - (r.tagLens >> kEndLenShift);
  if (e <= b) return std::string();
  if (!std::memchr(s + b, '<', e - b)) return Resolve(s + b, e - b);
  std::string out;
  Token t;
  for (size_t pos = b; Scan(s, e, pos, t) != kTokEnd; pos = t.end) {
    if (t.type == kNodeText) {
      out += Resolve(s + t.start, t.end - t.start);
    } else if (t.type == kNodeCData) {
      out += Inner(s, t.start, t.end, 9, 3);
    }
  }
  return out;
}

bool CXmlDoc::LoadFile(const std::string& path) {
  if (path.find('\0') != npos) {
    m_error = ErrnoText(ENOENT);
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    m_error = ErrnoText(errno);
    return false;
  }
  std::string text;
  int fail = 0;
  errno = 0;
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) != 0 || (size = std::ftell(f)) < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
    fail = errno ? errno : EIO;
  } else if (static_cast<unsigned long>(size) > kMaxText) {
    fail = EFBIG;
  } else {
    try {
      text.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      fail = ENOMEM;
    }
  }
  if (!fail && size > 0) {
    size_t got = std::fread(&text[0], 1, text.size(), f);
    if (got < text.size() && std::ferror(f)) fail = errno ? errno : EIO;
    text.resize(got);
  }
  std::fclose(f);
  if (fail) {
    m_error = ErrnoText(fail);
    return false;
  }
  const size_t read = text.size();
  if (StoredAsUtf8(text)) text.resize(Utf8ToCodePage(&text[0], text.size()));
  m_text.swap(text);
  std::string().swap(text);
  m_error = Fmt("%s%d bytes", "", static_cast<int>(read));
  return Parse();
}

#ifndef XMLDOC_READ_ONLY

bool CXmlDoc::SaveFile(const std::string& path) {
  if (path.find('\0') != npos) {
    m_error = ErrnoText(ENOENT);
    return false;
  }
  std::string converted;
  const std::string* out = &m_text;
  if (StoredAsUtf8(m_text)) {
    converted = CodePageToUtf8(m_text);
    out = &converted;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    m_error = ErrnoText(errno);
    return false;
  }
  errno = 0;
  size_t put = out->empty() ? 0 : std::fwrite(out->data(), 1, out->size(), f);
  int fail = put == out->size() ? 0 : (errno ? errno : EIO);
  if (std::fclose(f) != 0 && !fail) fail = errno ? errno : EIO;
  if (fail) {
    m_error = ErrnoText(fail);
    return false;
  }
  m_error = Fmt("%s%d bytes", "", static_cast<int>(put));
  return true;
}

bool CXmlDoc::AppendElement(const std::string& name, const std::string& data, int flags) {
  // A name the scanner would not read back whole would put text and index out of step.
  if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name) {
    if (EndsName(static_cast<unsigned char>(c))) return false;
  }
  const uint32_t parent = m_parent;
  const uint32_t after = m_current;
  uint32_t level = 0;
  if (parent) {
    const ElemRec& p = Rec(parent);
    // Without an end tag the parent's content has no end to append at.
    if (p.flagsLevel & kNotEnded) return false;
    level = (p.flagsLevel & kLevelMask) + 1;
    if (level > kMaxLevel) return false;
  }

  std::string elem = "<" + name;
  uint32_t recFlags = 0;
  size_t startLen, endLen = 0;
  if (data.empty()) {
    if (flags & kAppendStartTagOnly) {
      elem += ">";
      recFlags = kNotEnded;
    } else {
      elem += (flags & kAppendSpaceSlash) ? " />" : "/>";
      recFlags = kEmptyTag;
    }
    startLen = elem.size();
  } else {
    elem += ">";
    startLen = elem.size();
    if (flags & kAppendCData) {
      AppendCData(elem, data);
    } else {
      AppendEscaped(elem, data, flags);
    }
    elem += "</" + name + ">";
    endLen = name.size() + 3;
  }
  if (startLen > kStartLenMask || endLen > kMaxEndLen) return false;
  const size_t elemLen = elem.size();
  const char* lineBreak = (flags & kAppendNoLineBreak) ? "" : "\r\n";
  elem += lineBreak;

  // The splice: [at, at + removed) of the text becomes insert; the element starts at offset.
  size_t at, removed = 0, offset;
  std::string insert;
  bool openParent = false;
  uint32_t parentStartLen = 0, parentEndLen = 0;
  if (parent && (Rec(parent).flagsLevel & kEmptyTag)) {
    // "<p/>" becomes "<p>", a line break, the element and "</p>".
    const ElemRec& p = Rec(parent);
    parentStartLen = p.tagLens & kStartLenMask;
    const size_t slash = p.start + parentStartLen - 2;
    if (parentStartLen < 3 || m_text.compare(slash, 2, "/>") != 0) return false;
    const size_t nameLen = TagNameLength(p);
    parentEndLen = static_cast<uint32_t>(nameLen + 3);
    if (parentEndLen > kMaxEndLen) return false;
    insert = ">";
    insert += lineBreak;
    insert += elem;
    insert += "</";
    insert.append(m_text, p.start + 1, nameLen);
    insert += ">";
    at = slash;
    removed = 2;
    offset = slash + 1 + std::strlen(lineBreak);
    openParent = true;
  } else {
    if (after) {
      at = Rec(after).start + Rec(after).length;
    } else if (parent) {
      const ElemRec& p = Rec(parent);
      at = p.start + p.length - (p.tagLens >> kEndLenShift);
    } else {
      at = m_text.size();
    }
    insert.swap(elem);
    offset = at;
  }
  if (m_text.size() - removed + insert.size() > kMaxText) return false;
  const uint32_t i = NewRecord();
  if (!i) return false;
  m_text.replace(at, removed, insert);
  const uint32_t delta = static_cast<uint32_t>(insert.size() - removed);

  for (uint32_t k = 1; k < i; ++k) {
    ElemRec& r = Rec(k);
    if (r.start >= at + removed) r.start += delta;
  }
  uint32_t grow = parent;
  if (openParent) {
    ElemRec& p = Rec(parent);
    p.tagLens = (parentStartLen - 1) | (parentEndLen << kEndLenShift);
    p.flagsLevel &= ~kEmptyTag;
  }
  for (;; grow = Rec(grow).parent) {
    Rec(grow).length += delta;
    if (!grow) break;
  }

  ElemRec& r = Rec(i);
  r.start = static_cast<uint32_t>(offset);
  r.length = static_cast<uint32_t>(elemLen);
  r.tagLens = static_cast<uint32_t>(startLen) | (static_cast<uint32_t>(endLen) << kEndLenShift);
  r.flagsLevel = level | recFlags;
  r.parent = parent;
  r.first = 0;
  ElemRec& p = Rec(parent);
  if (after) {
    ElemRec& a = Rec(after);
    r.next = a.next;
    r.prev = after;
    a.next = i;
    if (r.next) {
      Rec(r.next).prev = i;
    } else {
      Rec(p.first).prev = i;
    }
  } else if (!p.first) {
    p.first = i;
    r.prev = i;
    r.next = 0;
    r.flagsLevel |= kFirstChild;
  } else {
    ElemRec& f = Rec(p.first);
    Rec(f.prev).next = i;
    r.prev = f.prev;
    r.next = 0;
    f.prev = i;
  }
  m_current = i;
  m_child = 0;
  m_nodeType = 0;
  return true;
}

#endif  // XMLDOC_READ_ONLY
