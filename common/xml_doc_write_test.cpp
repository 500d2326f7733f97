// Writing side of CXmlDoc: appending with the index kept in step, and saving.
#include "common/xml_doc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

std::string TestPath(const std::string& name) { return "xml_write_" + name; }

std::string ReadBytes(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

std::string ErrnoFirstLine(int e) {
  std::string s = std::strerror(e);
  return s.substr(0, s.find_first_of("\r\n"));
}

std::string DescribeCurrent(CXmlDoc& doc);

// Every node of the level from the position on, elements with their whole content.
std::string DumpLevel(CXmlDoc& doc) {
  std::string out;
  while (doc.FindNode()) out += DescribeCurrent(doc);
  return out;
}

std::string DescribeCurrent(CXmlDoc& doc) {
  std::string out = "{" + doc.GetText() + "|" + doc.GetAttribute("x") + "|" + doc.GetAttribute("y");
  if (doc.Enter()) {
    out += DumpLevel(doc);
    doc.Leave();
  }
  return out + "}";
}

// What a reader sees from the current element to the end of the document: the element, the
// rest of its level, then the rest of each enclosing level. That covers every record an
// append shifts and every enclosing element it grows.
std::string DumpOnward(CXmlDoc& doc) {
  std::string out = DescribeCurrent(doc);
  do {
    out += DumpLevel(doc) + "^";
  } while (doc.Leave());
  return out;
}

// The appended document read onward from the current element, against a fresh parse of its
// text read onward from the element at path (one name per level, unique on its level).
// Leaves the position at the top.
void ExpectIndexInStep(CXmlDoc& doc, std::initializer_list<const char*> path) {
  CXmlDoc fresh(doc.Text());
  size_t level = 0;
  for (const char* name : path) {
    ASSERT_TRUE(fresh.FindNext(name)) << name;
    if (++level < path.size()) {
      ASSERT_TRUE(fresh.Enter()) << name;
    }
  }
  EXPECT_EQ(DumpOnward(doc), DumpOnward(fresh)) << doc.Text();
}

TEST(XmlAppend, NewDocumentGetsItsRootAndSavesAsNineBytes) {
  const std::string path = TestPath("new.xml");
  CXmlDoc doc;
  ASSERT_TRUE(doc.AppendElement("data"));
  EXPECT_EQ(doc.Text(), "<data/>\r\n");
  EXPECT_TRUE(doc.IsWellFormed());
  ASSERT_TRUE(doc.SaveFile(path));
  EXPECT_EQ(doc.ErrorText(), "9 bytes");
  EXPECT_EQ(ReadBytes(path), "<data/>\r\n");
  CXmlDoc back;
  EXPECT_TRUE(back.LoadFile(path));
  EXPECT_TRUE(back.FindNext("data"));
  std::remove(path.c_str());
}

TEST(XmlAppend, InsertsAfterTheCurrentElementAndShiftsWhatFollows) {
  CXmlDoc doc("<d><a x=\"1\"/><c x=\"3\">\r\n<e y=\"5\">t</e></c><!--z--></d><?after?>");
  ASSERT_TRUE(doc.FindNext("d") && doc.Enter() && doc.FindNext("a"));
  ASSERT_TRUE(doc.AppendElement("b", "v&"));
  EXPECT_EQ(doc.Text(), "<d><a x=\"1\"/><b>v&amp;</b>\r\n<c x=\"3\">\r\n<e y=\"5\">t</e></c><!--z--></d><?after?>");
  EXPECT_EQ(doc.GetText(), "v&");
  ExpectIndexInStep(doc, {"d", "b"});
}

TEST(XmlAppend, AppendsAsLastChildWhenNothingIsCurrent) {
  CXmlDoc doc("<d><a x=\"1\"/></d><!--tail-->");
  ASSERT_TRUE(doc.FindNext("d") && doc.Enter());
  ASSERT_TRUE(doc.AppendElement("z", "2"));
  // After z, which is current now: right behind its end tag, before its line break.
  ASSERT_TRUE(doc.AppendElement("w"));
  EXPECT_EQ(doc.Text(), "<d><a x=\"1\"/><z>2</z><w/>\r\n\r\n</d><!--tail-->");
  ExpectIndexInStep(doc, {"d", "w"});
}

TEST(XmlAppend, EmptyParentIsOpened) {
  for (const char* tag : {"<p x=\"1\"/>", "<p x=\"1\" />"}) {
    CXmlDoc doc(std::string("<r><d>") + tag + "<q x=\"2\"/></d></r>");
    ASSERT_TRUE(doc.FindNext("r") && doc.Enter() && doc.FindNext("d") && doc.Enter());
    ASSERT_TRUE(doc.FindNext("p") && doc.Enter());
    ASSERT_TRUE(doc.AppendElement("e"));
    std::string opened = tag;
    opened.replace(opened.size() - 2, 2, ">\r\n<e/>\r\n</p>");
    EXPECT_EQ(doc.Text(), "<r><d>" + opened + "<q x=\"2\"/></d></r>");
    ASSERT_TRUE(doc.AppendElement("f", "1"));
    opened.replace(opened.find("<e/>") + 4, 0, "<f>1</f>\r\n");
    EXPECT_EQ(doc.Text(), "<r><d>" + opened + "<q x=\"2\"/></d></r>");
    ExpectIndexInStep(doc, {"r", "d", "p", "f"});
  }
}

TEST(XmlAppend, FlagsShapeTheElement) {
  const struct {
    const char* data;
    int flags;
    const char* text;
    const char* readBack;
  } cases[] = {
      {"", CXmlDoc::kAppendSpaceSlash, "<n />\r\n", ""},
      {"", CXmlDoc::kAppendNoLineBreak, "<n/>", ""},
      {"a<b>&c", 0, "<n>a&lt;b&gt;&amp;c</n>\r\n", "a<b>&c"},
      {"'\"", 0, "<n>'\"</n>\r\n", "'\""},
      {"'\"", CXmlDoc::kAppendEscapeQuotes, "<n>&apos;&quot;</n>\r\n", "'\""},
      {"&amp; &#x41; &b; & &1;", 0, "<n>&amp;amp; &amp;#x41; &amp;b; &amp; &amp;1;</n>\r\n", "&amp; &#x41; &b; & &1;"},
      {"&amp; &#x41; &b; & &1;", CXmlDoc::kAppendKeepRefs, "<n>&amp; &#x41; &b; &amp; &amp;1;</n>\r\n",
       "& A &b; & &1;"},
      {"x]]>y<", CXmlDoc::kAppendCData, "<n><![CDATA[x]]]]><![CDATA[>y<]]></n>\r\n", "x]]>y<"},
      {"v", CXmlDoc::kAppendNoLineBreak, "<n>v</n>", "v"},
  };
  for (const auto& c : cases) {
    CXmlDoc doc("<r><m/></r>");
    ASSERT_TRUE(doc.FindNext("r") && doc.Enter());
    ASSERT_TRUE(doc.AppendElement("n", c.data, c.flags));
    EXPECT_EQ(doc.Text(), std::string("<r><m/>") + c.text + "</r>") << c.data;
    EXPECT_EQ(doc.GetText(), c.readBack) << c.data;
    EXPECT_TRUE(doc.IsWellFormed());
    ExpectIndexInStep(doc, {"r", "n"});
  }
}

TEST(XmlAppend, StartTagOnlyLeavesAnElementNotEnded) {
  CXmlDoc doc("<r></r>");
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter());
  ASSERT_TRUE(doc.AppendElement("s", "", CXmlDoc::kAppendStartTagOnly));
  EXPECT_EQ(doc.Text(), "<r><s>\r\n</r>");
  // Nothing can go inside it, but beside it.
  ASSERT_TRUE(doc.Enter());
  EXPECT_FALSE(doc.AppendElement("t"));
  ASSERT_TRUE(doc.Leave());
  ASSERT_TRUE(doc.AppendElement("t"));
  EXPECT_EQ(doc.Text(), "<r><s><t/>\r\n\r\n</r>");
  ExpectIndexInStep(doc, {"r", "t"});
}

TEST(XmlAppend, RefusesWhatWouldPutTextAndIndexOutOfStep) {
  CXmlDoc doc("<r/>");
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter());
  for (const char* name : {"", "1a", "a b", "a/b", "a>b", "-a"}) EXPECT_FALSE(doc.AppendElement(name)) << name;
  const std::string longName(1021, 'n');  // its end tag would not fit its field
  EXPECT_FALSE(doc.AppendElement(longName, "x"));
  EXPECT_EQ(doc.Text(), "<r/>");
  EXPECT_TRUE(doc.AppendElement(longName));  // no end tag needed
  EXPECT_TRUE(doc.IsWellFormed());
}

TEST(XmlAppend, BuildsADocumentPieceByPiece) {
  CXmlDoc doc;
  ASSERT_TRUE(doc.AppendElement("data") && doc.Enter());
  ASSERT_TRUE(doc.AppendElement("servers") && doc.Enter());
  ASSERT_TRUE(doc.AppendElement("s1", "\xD6\xD0\xCE\xC4"));
  ASSERT_TRUE(doc.AppendElement("s2", "b"));
  ASSERT_TRUE(doc.Leave());
  ASSERT_TRUE(doc.AppendElement("games", "", CXmlDoc::kAppendSpaceSlash) && doc.Enter());
  ASSERT_TRUE(doc.AppendElement("g", "1"));
  EXPECT_EQ(doc.Text(),
            "<data>\r\n<servers>\r\n<s1>\xD6\xD0\xCE\xC4</s1><s2>b</s2>\r\n\r\n</servers>"
            "<games >\r\n<g>1</g>\r\n</games>\r\n\r\n</data>\r\n");
  EXPECT_TRUE(doc.IsWellFormed());
  ExpectIndexInStep(doc, {"data", "games", "g"});
}

TEST(XmlSave, CodePageBytesSurviveASaveAndALoad) {
  const std::string path = TestPath("gbk.xml");
  const std::string text = "<a n=\"\xD6\xD0\">\xD6\xD0\xCE\xC4\x80\xFF</a>";
  CXmlDoc doc(text);
  ASSERT_TRUE(doc.SaveFile(path));
  const std::string stored = ReadBytes(path);
  EXPECT_EQ(stored, "<a n=\"\xC3\x96\xC3\x90\">\xC3\x96\xC3\x90\xC3\x8E\xC3\x84\xC2\x80\xC3\xBF</a>");
  EXPECT_EQ(doc.ErrorText(), std::to_string(stored.size()) + " bytes");
  CXmlDoc back;
  ASSERT_TRUE(back.LoadFile(path)) << back.ErrorText();
  EXPECT_EQ(back.Text(), text);
  std::remove(path.c_str());
}

TEST(XmlSave, OtherDeclaredEncodingIsWrittenAsItStands) {
  const std::string path = TestPath("decl.xml");
  const std::string text = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<a>\xD6\xD0</a>";
  CXmlDoc doc(text);
  ASSERT_TRUE(doc.SaveFile(path));
  EXPECT_EQ(ReadBytes(path), text);
  CXmlDoc utf("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xE9</a>");
  ASSERT_TRUE(utf.SaveFile(path));
  EXPECT_EQ(ReadBytes(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>");
  std::remove(path.c_str());
}

TEST(XmlSave, FailureLeavesTheRuntimeText) {
  CXmlDoc doc("<a/>");
  EXPECT_FALSE(doc.SaveFile(TestPath("no_such_dir/a.xml")));
  EXPECT_EQ(doc.ErrorText(), ErrnoFirstLine(ENOENT));
  EXPECT_TRUE(doc.FindNext("a"));
}

}  // namespace
