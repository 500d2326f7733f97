// The program's own XML reader and writer. A document is one text in the program's code
// page plus a flat index of element records (32 bytes each, in segments of 65,536); no tree
// of node objects is built, so a list of several megabytes costs its text and one record per
// element.
//
// Reading pattern of every caller: load, FindNext the root by name, Enter, FindNext children
// by name in document order, GetAttribute / GetText, Leave.
//
// Built with XMLDOC_READ_ONLY defined, the writing operations (AppendElement, SaveFile) are
// left out; the collector library carries that variant.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CXmlDoc {
 public:
  // Document flags (SetDocFlags).
  enum : int {
    kDocIgnoreCase = 8,  // tag and attribute names compared without regard to ASCII case
  };

  // AppendElement flags.
  enum : int {
    kAppendCData = 1,           // data written as a CDATA section
    kAppendNoLineBreak = 2,     // no CR LF after the element
    kAppendSpaceSlash = 4,      // an element without data closed by " />" instead of "/>"
    kAppendKeepRefs = 8,        // well-formed entity references in data are left as they are
    kAppendStartTagOnly = 0x10, // an element without data written as a start tag only
    kAppendEscapeQuotes = 0x100 // quotes and apostrophes in data escaped as well
  };

  // Node types (FindNode).
  enum : int {
    kNodeElement = 1,
    kNodeText = 2,
    kNodeWhitespace = 4,
    kNodeCData = 8,
    kNodeProcessing = 16,
    kNodeComment = 32,
    kNodeDocType = 64,  // document type or markup declaration
    kNodeLoneEndTag = 128,
    kNodeError = 0x8000
  };

  CXmlDoc();
  explicit CXmlDoc(const std::string& text);
  ~CXmlDoc();
  CXmlDoc(CXmlDoc&& other);
  CXmlDoc& operator=(CXmlDoc&& other);
  CXmlDoc(const CXmlDoc&) = delete;
  CXmlDoc& operator=(const CXmlDoc&) = delete;

  // Reads the file whole and parses it. False when the file cannot be read (the previous
  // document stays, the error text is the runtime's text for the failure); otherwise the
  // result of IsWellFormed().
  bool LoadFile(const std::string& path);
  // Replaces the text and parses it; null means empty.
  bool SetText(const std::string& text);
  bool SetText(const char* text);

  bool IsWellFormed() const;
  // Result or first problem of the last load, parse or save.
  std::string ErrorText() const { return m_error; }
  // The whole current document.
  const std::string& Text() const { return m_text; }

  void SetDocFlags(int flags) { m_docFlags = flags; }
  int DocFlags() const { return m_docFlags; }

  // Next element at the current level whose tag name is name (empty: any element).
  bool FindNext(const std::string& name);
  // Next node at the current level whose type is one of types (0: any). On an element the
  // element becomes current as with FindNext; on another node the position stands on that
  // node until the next move.
  bool FindNode(int types = 0);
  bool Enter();
  bool Leave();

  // Attribute of the current element (or of the processing instruction the position stands
  // on), entity references resolved; "" when absent.
  std::string GetAttribute(const std::string& name) const;
  // Character data of the current element or node; "" for an element with child elements.
  std::string GetText() const;

#ifndef XMLDOC_READ_ONLY
  // Inserts <name/> (or <name>data</name>) after the current element, or as the last child
  // of the current parent when there is none, and makes it current. The index is kept in
  // step with the text without a new parse.
  bool AppendElement(const std::string& name, const std::string& data = std::string(), int flags = 0);
  // Writes the text, as UTF-8 unless it declares another encoding. The error text becomes
  // the byte count written, or the runtime's text for the failure.
  bool SaveFile(const std::string& path);
#endif

 private:
  struct ElemRec;

  void Swap(CXmlDoc& other);
  ElemRec& Rec(uint32_t i);
  const ElemRec& Rec(uint32_t i) const;
  bool Reserve(uint32_t records);
  uint32_t NewRecord();
  bool Parse();
  void Walk();
  void CloseNotEnded(uint32_t i);
  void ClearPosition();
  bool NameMatches(const char* text, size_t len, const std::string& name) const;
  size_t TagNameLength(const ElemRec& r) const;
  void ContentRange(uint32_t parent, size_t* begin, size_t* end) const;

  std::string m_text;
  std::string m_error;
  int m_docFlags = 0;

  std::vector<std::unique_ptr<ElemRec[]>> m_segs;
  uint32_t m_capacity = 0;  // records the segments hold
  uint32_t m_used = 0;      // records in use, record 0 included

  uint32_t m_parent = 0;
  uint32_t m_current = 0;
  uint32_t m_child = 0;
  int m_nodeType = 0;  // 0: the position stands on the current element (if any)
  size_t m_nodeOffset = 0;
  size_t m_nodeLength = 0;
};
