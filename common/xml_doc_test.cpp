// Reading side of CXmlDoc. The same file is built against the read-only library, which the
// collector carries, so nothing here may use the writing operations.
#include "common/xml_doc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifdef XMLDOC_READ_ONLY
template <typename T, typename = void>
struct HasAppend : std::false_type {};
template <typename T>
struct HasAppend<T, std::void_t<decltype(std::declval<T&>().AppendElement(std::string()))>> : std::true_type {};
template <typename T, typename = void>
struct HasSave : std::false_type {};
template <typename T>
struct HasSave<T, std::void_t<decltype(std::declval<T&>().SaveFile(std::string()))>> : std::true_type {};
static_assert(!HasAppend<CXmlDoc>::value && !HasSave<CXmlDoc>::value, "the read-only build cannot write");
const char kFilePrefix[] = "xml_ro_";
#else
const char kFilePrefix[] = "xml_rw_";
#endif

// Files live in the test's working directory; the two builds of this file run side by side.
std::string TestPath(const std::string& name) { return kFilePrefix + name; }

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

std::string ErrnoFirstLine(int e) {
  std::string s = std::strerror(e);
  return s.substr(0, s.find_first_of("\r\n"));
}

// ---- Scanning ----

TEST(XmlScanning, QuotedGreaterThanDoesNotEndTheTag) {
  CXmlDoc doc;
  EXPECT_TRUE(doc.SetText("<a b=\"x>y\" c = '1>2'/>"));
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_EQ(doc.GetAttribute("b"), "x>y");
  EXPECT_EQ(doc.GetAttribute("c"), "1>2");
  EXPECT_FALSE(doc.Enter() && doc.FindNext(""));
}

TEST(XmlScanning, SlashAfterUnquotedValueBelongsToTheValue) {
  CXmlDoc doc("<r><a b=c/></r>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_EQ(doc.ErrorText(), "End tag 'r' at offset 12 does not match start tag 'a' at offset 3");
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter() && doc.FindNext("a"));
  EXPECT_EQ(doc.GetAttribute("b"), "c/");

  // After a closing quote, whitespace or the name itself "/>" does end the element.
  EXPECT_TRUE(doc.SetText("<r><a b=\"c\"/><a /><a/></r>"));
}

TEST(XmlScanning, UnterminatedTokensNameTheirKindAndOffset) {
  const std::pair<const char*, const char*> cases[] = {
      {"<r><a b=\"x>", "Element tag at offset 3 unterminated"},
      {"<r></r", "Element end tag at offset 3 unterminated"},
      {"<r><![CDATA[x]]", "CDATA Section at offset 3 unterminated"},
      {"<r><?pi x", "Processing instruction at offset 3 unterminated"},
      {"<r><!-- x --", "Comment at offset 3 unterminated"},
      {"<r><!DOCTYPE r [<!ELEMENT r ANY>]", "Doctype at offset 3 unterminated"},
      {"<r><!ENTITY e 'x'", "Doctype at offset 3 unterminated"},
      {"<r><", "tag at offset 3 unterminated"},
      {"<r><!", "tag at offset 3 unterminated"},
  };
  for (const auto& c : cases) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetText(c.first)) << c.first;
    EXPECT_EQ(doc.ErrorText(), c.second) << c.first;
  }
}

TEST(XmlScanning, BadCharacterAfterLessThanSkipsToTheNextGreaterThan) {
  const std::pair<const char*, const char*> cases[] = {
      {"<r><1 x><a/></r>", "Incorrect tag name character at offset 3"},
      {"<r><!x><a/></r>", "Incorrect ! tag at offset 3"},
      {"<r><!-x><a/></r>", "Incorrect comment tag at offset 3"},
      {"<r><![x><a/></r>", "Incorrect tag at offset 3"},
  };
  for (const auto& c : cases) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetText(c.first)) << c.first;
    EXPECT_EQ(doc.ErrorText(), c.second) << c.first;
    // The rest of the document is still read.
    EXPECT_TRUE(doc.FindNext("r") && doc.Enter() && doc.FindNext("a")) << c.first;
  }
}

TEST(XmlScanning, DocumentTypeEndsOutsideItsInternalSubset) {
  CXmlDoc doc("<!DOCTYPE r [<!ENTITY e \"x\"><!ELEMENT r ANY>]><r a=\"1\"/>");
  EXPECT_TRUE(doc.IsWellFormed()) << doc.ErrorText();
  ASSERT_TRUE(doc.FindNode());
  EXPECT_EQ(doc.GetText(), "<!DOCTYPE r [<!ENTITY e \"x\"><!ELEMENT r ANY>]>");
  ASSERT_TRUE(doc.FindNext("r"));
  EXPECT_EQ(doc.GetAttribute("a"), "1");
}

TEST(XmlScanning, EveryNodeTypeIsVisitedInOrderWithItsInnerText) {
  CXmlDoc doc(
      "<?xml version=\"1.0\"?>\r\n<!-- note -->"
      "<r>t &amp; u<![CDATA[<c>]]><?pi go?></x><e/>\n</r>");
  const std::pair<int, const char*> top[] = {
      {CXmlDoc::kNodeProcessing, "xml version=\"1.0\""},
      {CXmlDoc::kNodeWhitespace, "\r\n"},
      {CXmlDoc::kNodeComment, " note "},
      {CXmlDoc::kNodeElement, ""},
  };
  for (const auto& n : top) {
    ASSERT_TRUE(doc.FindNode()) << n.second;
    if (n.first != CXmlDoc::kNodeElement) {
      EXPECT_EQ(doc.GetText(), n.second);
    }
  }
  EXPECT_FALSE(doc.FindNode());
  ASSERT_TRUE(doc.Enter());
  const std::pair<int, const char*> inner[] = {
      {CXmlDoc::kNodeText, "t & u"},      {CXmlDoc::kNodeCData, "<c>"},
      {CXmlDoc::kNodeProcessing, "pi go"}, {CXmlDoc::kNodeLoneEndTag, "x"},
  };
  for (const auto& n : inner) {
    ASSERT_TRUE(doc.FindNode(n.first)) << n.second;
    EXPECT_EQ(doc.GetText(), n.second);
    EXPECT_FALSE(doc.Enter());
  }
  // From a node, the search for elements goes on after it.
  ASSERT_TRUE(doc.FindNext("e"));
  EXPECT_TRUE(doc.FindNode(CXmlDoc::kNodeWhitespace));
  EXPECT_FALSE(doc.FindNode());
}

// ---- Parse errors and recovery ----

TEST(XmlParse, EmptyTextIsAnEmptyDocument) {
  CXmlDoc doc;
  EXPECT_FALSE(doc.SetText(""));
  EXPECT_EQ(doc.ErrorText(), "Empty document");
  EXPECT_FALSE(doc.SetText(static_cast<const char*>(nullptr)));
  EXPECT_EQ(doc.ErrorText(), "Empty document");
  EXPECT_FALSE(doc.FindNext(""));
}

TEST(XmlParse, ElementNotClosedBeforeItsParentEndsStaysAChild) {
  CXmlDoc doc;
  EXPECT_FALSE(doc.SetText("<a><b></a>"));
  EXPECT_EQ(doc.ErrorText(), "End tag 'a' at offset 7 does not match start tag 'b' at offset 3");
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_FALSE(doc.FindNext(""));  // a is the only root
  ASSERT_TRUE(doc.Enter());
  ASSERT_TRUE(doc.FindNext("b"));
  EXPECT_EQ(doc.GetText(), "");
}

TEST(XmlParse, ContentOfElementsNotEndedMovesUpAsSiblings) {
  CXmlDoc doc("<r><a><b><x k=\"1\"/></r>");
  EXPECT_EQ(doc.ErrorText(), "End tag 'r' at offset 20 does not match start tag 'b' at offset 6");
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter());
  ASSERT_TRUE(doc.FindNext("a") && doc.Enter());
  EXPECT_FALSE(doc.FindNext(""));  // a kept nothing
  ASSERT_TRUE(doc.Leave());
  ASSERT_TRUE(doc.FindNext("b"));
  ASSERT_TRUE(doc.FindNext("x"));
  EXPECT_EQ(doc.GetAttribute("k"), "1");
  EXPECT_FALSE(doc.FindNext(""));
}

TEST(XmlParse, ElementsOpenAtTheEnd) {
  CXmlDoc doc;
  EXPECT_FALSE(doc.SetText("<r>text"));
  EXPECT_EQ(doc.ErrorText(), "Element 'r' at offset 0 not ended");
  // Its child moves up beside it, which the final check reports instead.
  EXPECT_FALSE(doc.SetText("<r><a>"));
  EXPECT_EQ(doc.ErrorText(), "Root element has sibling");
  EXPECT_TRUE(doc.FindNext("r") && doc.FindNext("a"));
}

TEST(XmlParse, LoneEndTagIsSkipped) {
  CXmlDoc doc;
  EXPECT_FALSE(doc.SetText("<r></x><a v=\"1\"/></y></r>"));
  EXPECT_EQ(doc.ErrorText(), "No start tag for end tag 'x' at offset 3");  // only the first
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter() && doc.FindNext("a"));
  EXPECT_EQ(doc.GetAttribute("v"), "1");

  EXPECT_FALSE(doc.SetText("</a>"));
  EXPECT_EQ(doc.ErrorText(), "No root element");
}

TEST(XmlParse, RootMustBeAloneAndPresent) {
  CXmlDoc doc;
  EXPECT_FALSE(doc.SetText("<a/><b/>"));
  EXPECT_EQ(doc.ErrorText(), "Root element has sibling");
  EXPECT_FALSE(doc.SetText(" \r\n\t"));
  EXPECT_EQ(doc.ErrorText(), "No root element");
  EXPECT_FALSE(doc.SetText("just text"));
  EXPECT_EQ(doc.ErrorText(), "No root element");
  EXPECT_TRUE(doc.SetText("<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<a/>\r\n"));
  EXPECT_EQ(doc.ErrorText(), "");
}

TEST(XmlParse, NamesAreCaseSensitiveUnlessTheDocumentSaysOtherwise) {
  CXmlDoc doc;
  EXPECT_FALSE(doc.SetText("<Data></data>"));
  doc.SetDocFlags(CXmlDoc::kDocIgnoreCase);
  EXPECT_TRUE(doc.SetText("<Data><B/></data>"));
  EXPECT_TRUE(doc.FindNext("DATA") && doc.Enter() && doc.FindNext("b"));
}

TEST(XmlParse, ANewParseClearsThePosition) {
  CXmlDoc doc("<a><b/></a>");
  ASSERT_TRUE(doc.FindNext("a") && doc.Enter() && doc.FindNext("b"));
  EXPECT_TRUE(doc.SetText("<c/>"));
  EXPECT_FALSE(doc.Leave());
  EXPECT_TRUE(doc.FindNext("c"));
}

// Stray end tags against deep nesting must not make the parse quadratic.
TEST(XmlParse, StrayEndTagsUnderDeepNestingStayCheap) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "<a>";
  for (int i = 0; i < 200000; ++i) text += "</b>";
  for (int i = 0; i < 20000; ++i) text += "</a>";
  CXmlDoc doc;
  EXPECT_FALSE(doc.SetText(text));
  EXPECT_EQ(doc.ErrorText(), "No start tag for end tag 'b' at offset 60000");
}

// ---- Record field limits ----

TEST(XmlLimits, EndTagLongerThanItsFieldIsRefused) {
  const std::string fits(1020, 'n');  // "</" + 1020 + ">" is the longest end tag there is room for
  CXmlDoc doc("<r><" + fits + ">x</" + fits + "><b k=\"v\"/></r>");
  EXPECT_TRUE(doc.IsWellFormed()) << doc.ErrorText();
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter() && doc.FindNext(fits));
  EXPECT_EQ(doc.GetText(), "x");

  const std::string name(1021, 'n');
  EXPECT_FALSE(doc.SetText("<r><" + name + ">x</" + name + "><b k=\"v\"/></r>"));
  EXPECT_EQ(doc.ErrorText(), "Element end tag at offset 1027 too long");
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter() && doc.FindNext(name));
  ASSERT_TRUE(doc.FindNext("b"));
  EXPECT_EQ(doc.GetAttribute("k"), "v");

  // Padding inside the end tag counts as well.
  EXPECT_FALSE(doc.SetText("<r><a>y</a" + std::string(1100, ' ') + "><b k=\"w\"/></r>"));
  EXPECT_EQ(doc.ErrorText(), "Element end tag at offset 7 too long");
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter() && doc.FindNext("a") && doc.FindNext("b"));
  EXPECT_EQ(doc.GetAttribute("k"), "w");
}

TEST(XmlLimits, StartTagLongerThanItsFieldIsRefused) {
  const std::string value(0x3FFFFF, 'v');
  CXmlDoc doc("<r><a v=\"" + value + "\"/><b k=\"1\"/></r>");
  EXPECT_FALSE(doc.IsWellFormed());
  EXPECT_EQ(doc.ErrorText(), "Element tag at offset 3 too long");
  ASSERT_TRUE(doc.FindNext("r") && doc.Enter());
  ASSERT_TRUE(doc.FindNext(""));
  EXPECT_EQ(doc.GetAttribute("k"), "1");
}

TEST(XmlLimits, NestingDeeperThanTheLevelFieldIsRefused) {
  // Levels 0 to 0xFFFF fit: 0xFFFF elements around one more.
  const int kDeepest = 0xFFFF;
  std::string open, close;
  for (int i = 0; i < kDeepest; ++i) {
    open += "<a>";
    close += "</a>";
  }
  CXmlDoc doc(open + "<c k=\"1\"/>" + close);
  EXPECT_TRUE(doc.IsWellFormed()) << doc.ErrorText();
  for (int i = 0; i < kDeepest; ++i) ASSERT_TRUE(doc.FindNext("a") && doc.Enter()) << i;
  ASSERT_TRUE(doc.FindNext("c"));
  EXPECT_EQ(doc.GetAttribute("k"), "1");

  EXPECT_FALSE(doc.SetText(open + "<a><c k=\"1\"/></a>" + close));
  EXPECT_EQ(doc.ErrorText(), "Element 'c' at offset " + std::to_string(kDeepest * 3 + 3) + " nested too deep");
}

// ---- Navigation ----

TEST(XmlNavigation, NameMatchesWholeTagNamesOnly) {
  CXmlDoc doc("<Data><Apps/><app/><App id=\"3\"/><App id=\"4\"/></Data>");
  ASSERT_TRUE(doc.FindNext("Data") && doc.Enter());
  ASSERT_TRUE(doc.FindNext("App"));
  EXPECT_EQ(doc.GetAttribute("id"), "3");
  ASSERT_TRUE(doc.FindNext("App"));
  EXPECT_EQ(doc.GetAttribute("id"), "4");
  EXPECT_FALSE(doc.FindNext("App"));
  EXPECT_EQ(doc.GetAttribute("id"), "4");  // a failed search keeps the position
  EXPECT_FALSE(doc.FindNext("Ap"));
}

TEST(XmlNavigation, RouteListWalk) {
  CXmlDoc doc(
      "<data>\r\n <remote>\r\n  <entry net=\"10.0.0.0\" mask=\"255.0.0.0\"/>\r\n"
      "  <entry mask=\"255.255.0.0\" net=\"172.16.0.0\"></entry>\r\n </remote>\r\n"
      " <direct><entry net=\"192.168.0.0\" mask=\"255.255.0.0\"/></direct>\r\n</data>\r\n");
  ASSERT_TRUE(doc.IsWellFormed()) << doc.ErrorText();
  ASSERT_TRUE(doc.FindNext("data") && doc.Enter());
  ASSERT_TRUE(doc.FindNext("remote") && doc.Enter());
  std::string seen;
  while (doc.FindNext("entry")) seen += doc.GetAttribute("net") + "/" + doc.GetAttribute("mask") + ";";
  EXPECT_EQ(seen, "10.0.0.0/255.0.0.0;172.16.0.0/255.255.0.0;");
  ASSERT_TRUE(doc.Leave());
  ASSERT_TRUE(doc.FindNext("direct") && doc.Enter() && doc.FindNext("entry"));
  EXPECT_EQ(doc.GetAttribute("net"), "192.168.0.0");
  ASSERT_TRUE(doc.Leave() && doc.Leave());
  EXPECT_FALSE(doc.Leave());
  EXPECT_FALSE(doc.FindNext("data"));  // onward from data: nothing more
}

TEST(XmlNavigation, LeaveRemembersWhereItCameFrom) {
  CXmlDoc doc("<d><a n=\"1\"/><a n=\"2\"/></d>");
  EXPECT_FALSE(doc.Enter());
  EXPECT_FALSE(doc.Leave());
  ASSERT_TRUE(doc.FindNext("d") && doc.Enter() && doc.FindNext("a") && doc.FindNext("a"));
  ASSERT_TRUE(doc.Leave());
  ASSERT_TRUE(doc.Enter());
  EXPECT_EQ(doc.GetAttribute("n"), "2");
  EXPECT_FALSE(doc.FindNext("a"));
}

TEST(XmlNavigation, EmptyNameTakesTheNextElement) {
  CXmlDoc doc("<d>x<a/><!--c--><b/></d>");
  ASSERT_TRUE(doc.FindNext("") && doc.Enter());
  ASSERT_TRUE(doc.FindNext(""));
  ASSERT_TRUE(doc.FindNext(""));
  EXPECT_FALSE(doc.FindNext(""));
  ASSERT_TRUE(doc.Leave());
  EXPECT_FALSE(doc.FindNext(""));
}

TEST(XmlNavigation, MovingTakesDocumentAndPositionAndLeavesAnEmptyOne) {
  CXmlDoc doc("<d><a n=\"1\"/><a n=\"2\"/></d>");
  ASSERT_TRUE(doc.FindNext("d") && doc.Enter() && doc.FindNext("a"));
  CXmlDoc moved(std::move(doc));
  ASSERT_TRUE(moved.FindNext("a"));
  EXPECT_EQ(moved.GetAttribute("n"), "2");
  EXPECT_FALSE(doc.FindNext(""));  // NOLINT: a document moved from is empty and usable
  EXPECT_TRUE(doc.SetText("<x/>"));
  moved = std::move(doc);
  EXPECT_TRUE(moved.FindNext("x"));
  EXPECT_EQ(doc.Text(), "");
  EXPECT_FALSE(doc.IsWellFormed());
}

// ---- Attributes and entity references ----

TEST(XmlAttributes, QuotingStylesAndMissingValues) {
  CXmlDoc doc("<a x = \"1\" y='2' z=3 flag w=\"&lt;&amp;&gt;&apos;&quot;\" q='a\"b'/>");
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_EQ(doc.GetAttribute("x"), "1");
  EXPECT_EQ(doc.GetAttribute("y"), "2");
  EXPECT_EQ(doc.GetAttribute("z"), "3");
  EXPECT_EQ(doc.GetAttribute("flag"), "");
  EXPECT_EQ(doc.GetAttribute("w"), "<&>'\"");
  EXPECT_EQ(doc.GetAttribute("q"), "a\"b");
  EXPECT_EQ(doc.GetAttribute("missing"), "");
  EXPECT_EQ(doc.GetAttribute("a"), "");  // the tag name is no attribute
}

TEST(XmlAttributes, FirstWholeNameWins) {
  CXmlDoc doc("<a net2=\"x\" net=\"y\" net=\"z\" Net=\"w\"/>");
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_EQ(doc.GetAttribute("net"), "y");
  EXPECT_EQ(doc.GetAttribute("Net"), "w");
  EXPECT_EQ(doc.GetAttribute("ne"), "");
}

TEST(XmlAttributes, NoCurrentElementReadsNothing) {
  CXmlDoc doc("<a k=\"v\"/>");
  EXPECT_EQ(doc.GetAttribute("k"), "");
  EXPECT_EQ(doc.GetText(), "");
}

TEST(XmlReferences, CharacterReferences) {
  const std::pair<const char*, const char*> cases[] = {
      {"&#x41;&#65;", "AA"},
      {"&#233;&#xe9;", "\xE9\xE9"},
      {"&#20013;", "?"},           // beyond the single-byte range
      {"&foo; &", "&foo; &"},      // unknown names and lone ampersands stay
      {"&#0;&#;&#x;&#xZZ;", "&#0;&#;&#x;&#xZZ;"},
      {"&#00000065;", "&#00000065;"},  // ';' too far away
      {"&amp;lt;", "&lt;"},        // resolved once
      {"a&lt", "a&lt"},            // a reference cut by the end of the text
  };
  for (const auto& c : cases) {
    CXmlDoc doc(std::string("<a v=\"") + c.first + "\">" + c.first + "</a>");
    ASSERT_TRUE(doc.FindNext("a")) << c.first;
    EXPECT_EQ(doc.GetAttribute("v"), c.second) << c.first;
    EXPECT_EQ(doc.GetText(), c.second) << c.first;
  }
}

// ---- Character data ----

TEST(XmlText, ContentWithoutMarkupIsResolvedWhole) {
  CXmlDoc doc("<d><a> x &amp; y </a><b/><c></c></d>");
  ASSERT_TRUE(doc.FindNext("d") && doc.Enter());
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_EQ(doc.GetText(), " x & y ");
  ASSERT_TRUE(doc.FindNext("b"));
  EXPECT_EQ(doc.GetText(), "");
  ASSERT_TRUE(doc.FindNext("c"));
  EXPECT_EQ(doc.GetText(), "");
  ASSERT_TRUE(doc.Leave());
  EXPECT_EQ(doc.GetText(), "");  // d has child elements
}

TEST(XmlText, MixedContentJoinsTextAndCDataOnly) {
  CXmlDoc doc("<a>x <!--c--> <![CDATA[<y>&amp;]]> z&lt;<?p q?></a>");
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_EQ(doc.GetText(), "x <y>&amp; z<");
}

// ---- Loading ----

TEST(XmlLoad, EmptyFileIsNotWellFormed) {
  const std::string path = TestPath("empty.xml");
  WriteBytes(path, "");
  CXmlDoc doc;
  EXPECT_FALSE(doc.LoadFile(path));
  EXPECT_EQ(doc.ErrorText(), "0 bytes, Empty document");
  std::remove(path.c_str());
}

TEST(XmlLoad, ErrorTextCountsTheBytesRead) {
  const std::string path = TestPath("count.xml");
  WriteBytes(path, "<a>\xC3\xA9</a>\r\n");
  CXmlDoc doc;
  EXPECT_TRUE(doc.LoadFile(path));
  EXPECT_EQ(doc.ErrorText(), "11 bytes");
  WriteBytes(path, "<a></b>");
  EXPECT_FALSE(doc.LoadFile(path));
  EXPECT_EQ(doc.ErrorText(), "7 bytes, No start tag for end tag 'b' at offset 3");
  std::remove(path.c_str());
}

TEST(XmlLoad, MissingFileKeepsThePreviousDocument) {
  CXmlDoc doc("<a k=\"v\"/>");
  EXPECT_FALSE(doc.LoadFile(TestPath("no_such_dir/none.xml")));
  EXPECT_EQ(doc.ErrorText(), ErrnoFirstLine(ENOENT));
  EXPECT_FALSE(doc.LoadFile(std::string("a\0b", 3)));
  EXPECT_TRUE(doc.IsWellFormed());
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_EQ(doc.GetAttribute("k"), "v");
}

TEST(XmlLoad, Utf8BecomesTheCodePageAndChineseIsLost) {
  const std::string path = TestPath("utf8.xml");
  const std::pair<std::string, std::string> cases[] = {
      {"<a n=\"\xE4\xB8\xAD\">\xE4\xB8\xAD\xE6\x96\x87</a>", "??"},  // Chinese
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xC3\xA9x</a>", "\xE9x"},
      {"<a>\xF8\xC3" "A\xE4\xB8</a>", "??A?"},  // broken sequences
  };
  for (const auto& c : cases) {
    WriteBytes(path, c.first);
    CXmlDoc doc;
    ASSERT_TRUE(doc.LoadFile(path)) << doc.ErrorText();
    ASSERT_TRUE(doc.FindNext("a"));
    EXPECT_EQ(doc.GetText(), c.second);
  }
  std::remove(path.c_str());
}

TEST(XmlLoad, OtherDeclaredEncodingsKeepTheirBytes) {
  const std::string path = TestPath("gbk.xml");
  const std::string text = "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<a n=\"\xD6\xD0\">\xD6\xD0\xCE\xC4</a>";
  WriteBytes(path, text);
  CXmlDoc doc;
  ASSERT_TRUE(doc.LoadFile(path)) << doc.ErrorText();
  EXPECT_EQ(doc.Text(), text);
  ASSERT_TRUE(doc.FindNext("a"));
  EXPECT_EQ(doc.GetAttribute("n"), "\xD6\xD0");
  std::remove(path.c_str());
}

TEST(XmlLoad, PathsAreByteStringsOfThePlatform) {
#ifdef _WIN32
  _mkdir(TestPath("dir").c_str());
  const std::string path = TestPath("dir") + "\\\xD6\xD0\xCE\xC4.xml";
#else
  mkdir(TestPath("dir").c_str(), 0700);
  const std::string path = TestPath("dir") + "/\xD6\xD0\xCE\xC4.xml";
#endif
  WriteBytes(path, "<a/>");
  CXmlDoc doc;
  EXPECT_TRUE(doc.LoadFile(path)) << doc.ErrorText();
  std::remove(path.c_str());
}

}  // namespace
