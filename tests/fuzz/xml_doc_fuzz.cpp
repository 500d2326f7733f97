// Arbitrary bytes as a document: parse, walk every node and element at every level reading
// attributes and text, append an element and read it back, and save and load the text.
#include "common/xml_doc.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Depth-first over every node without recursion: nesting may be 65,536 deep.
void WalkNodes(CXmlDoc& doc) {
  for (;;) {
    if (doc.FindNode()) {
      doc.GetText();
      doc.GetAttribute("a");
      doc.GetAttribute("encoding");
      doc.Enter();
    } else if (!doc.Leave()) {
      return;
    }
  }
}

void WalkElements(CXmlDoc& doc, const std::string& name) {
  for (;;) {
    if (doc.FindNext("")) {
      doc.GetText();
      doc.GetAttribute(name);
      doc.Enter();
    } else if (!doc.Leave()) {
      return;
    }
  }
}

// Everything a reader sees from the current element to the end of the document.
std::string Onward(CXmlDoc& doc) {
  std::string out;
  auto describe = [&] { out += doc.GetText() + "|" + doc.GetAttribute("a") + ";"; };
  describe();
  if (doc.Enter()) out += "(";
  for (;;) {
    if (doc.FindNode()) {
      describe();
      if (doc.Enter()) out += "(";
    } else if (doc.Leave()) {
      out += ")";
    } else {
      return out;
    }
  }
}

// The same descent as the append below: down the first element of each level.
int Descend(CXmlDoc& doc, int depth) {
  int entered = 0;
  for (; depth > 0 && doc.FindNext("") && doc.Enter(); --depth) ++entered;
  return entered;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "xml_doc_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const unsigned char knob = size ? data[size - 1] : 0;

  CXmlDoc doc;
  doc.SetDocFlags(knob & 1 ? CXmlDoc::kDocIgnoreCase : 0);
  doc.SetText(text);
  WalkNodes(doc);
  doc.SetText(text.c_str());
  WalkElements(doc, text.substr(0, 3));

  // Append as the last child somewhere down the first line of descent. In a document that
  // was well formed, the index kept in step must read exactly like a fresh parse.
  const bool wellFormed = doc.SetText(text);
  const int entered = Descend(doc, knob % 5);
  const std::string value = text.substr(0, 24);
  const int flags = (knob >> 1) & (CXmlDoc::kAppendCData | CXmlDoc::kAppendNoLineBreak | CXmlDoc::kAppendSpaceSlash);
  if (doc.AppendElement("n", value, flags)) {
    Check(value.empty() || doc.GetText() == value, "appended data does not read back");
    CXmlDoc fresh;
    fresh.SetDocFlags(doc.DocFlags());
    fresh.SetText(doc.Text());
    Check(Descend(fresh, entered) == entered, "descent differs after append");
    while (fresh.FindNext("")) {
    }
    const std::string mine = Onward(doc);
    const std::string theirs = Onward(fresh);
    Check(!wellFormed || mine == theirs, "index out of step with the text after append");
  }

  // Saving and loading are exact inverses whatever the bytes.
  struct ScratchFile {
    std::string path = "/tmp/xml_doc_fuzz_" + std::to_string(getpid()) + ".xml";
    ~ScratchFile() { std::remove(path.c_str()); }
  };
  static const ScratchFile scratch;
  const std::string& path = scratch.path;
  if (doc.SaveFile(path)) {
    CXmlDoc back;
    back.LoadFile(path);
    Check(back.Text() == doc.Text(), "save and load changed the text");
  }
  return 0;
}
