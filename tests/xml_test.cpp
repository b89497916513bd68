#include <gtest/gtest.h>

#include <string>

#include "support/testing.h"
#include "xml/xml.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

xml::Node load(xml::Document& d, const std::string& text) {
  d.loadMemory(text, "test.xml");
  return d.documentElement();
}

TEST(XmlLayer, ChildByNameIsTheFirstElementOfThatName) {
  xml::Document d;
  const xml::Node r = load(d, "<r><a>1</a><b>2</b><a>3</a></r>");
  EXPECT_EQ(r.name(), "r");
  EXPECT_EQ(r.child("a").text(), "1");
  EXPECT_EQ(r.child("b").text(), "2");
}

TEST(XmlLayer, MissingChildReadsAsAnEmptyElement) {
  xml::Document d;
  const xml::Node r = load(d, "<r><a x='1'>t</a></r>");
  const xml::Node missing = r.child("nothere").child("deeper");
  EXPECT_FALSE(missing.exists());
  EXPECT_EQ(missing.text(), "");
  EXPECT_FALSE(missing.attribute("x").has_value());
  EXPECT_EQ(missing.childCount(), 0u);
  EXPECT_EQ(missing.name(), "");
  // Names are matched exactly, case included.
  EXPECT_FALSE(r.child("A").exists());
}

TEST(XmlLayer, TextRules) {
  xml::Document d;
  const xml::Node r = load(d,
                           "<r><empty/><pair></pair><spaced>  two  words </spaced><cdata><![CDATA[<b>&x</b>]]></cdata>"
                           "<ent>a &amp; b &lt;c&gt;</ent><nested><x>1</x></nested><mixed>t<x/></mixed>"
                           "<blank>   </blank></r>");
  EXPECT_EQ(r.child("empty").text(), "");
  EXPECT_EQ(r.child("pair").text(), "");
  EXPECT_EQ(r.child("spaced").text(), "  two  words ");
  EXPECT_EQ(r.child("cdata").text(), "<b>&x</b>");
  EXPECT_EQ(r.child("ent").text(), "a & b <c>");
  // Whitespace-only text is dropped on load, so the element reads as empty.
  EXPECT_EQ(r.child("blank").text(), "");
  try {
    (void)r.child("nested").text();
    FAIL() << "nested element read as text";
  } catch (const xml::Error& e) {
    EXPECT_STREQ(e.what(), "Element \"nested\" does not contain a single text node");
  }
  EXPECT_THROW((void)r.child("mixed").text(), xml::Error);
}

TEST(XmlLayer, WhitespaceBetweenElementsIsDropped) {
  xml::Document d;
  const xml::Node r = load(d, "<r>\n  <a>1</a>\n\t<b/>\r\n</r>");
  EXPECT_EQ(r.childCount(), 2u);
  EXPECT_EQ(r.childAt(0).name(), "a");
  EXPECT_EQ(r.childAt(1).name(), "b");
  EXPECT_FALSE(r.childAt(2).exists());
}

// Whitespace-only text goes while the document is parsed; what stays is what the whole tree would keep:
// whitespace next to other text, in CDATA, or around entity text.
TEST(XmlLayer, WhitespaceOnlyTextIsDroppedWhereverItStands) {
  xml::Document d;
  const xml::Node r = load(d,
                           "<!DOCTYPE r [<!ENTITY e '<f> </f> y'><!ENTITY sp '  '>]>"
                           "<r> <a>  &amp;</a> <b> <![CDATA[ x ]]> </b><c>x<d/> </c><e>&e;</e><g> &sp; </g>"
                           "<h><i> <j> </j> </i></h> </r>");
  EXPECT_EQ(r.childCount(), 6u);
  EXPECT_EQ(r.child("a").text(), "  &");
  EXPECT_EQ(r.child("b").text(), " x ");
  EXPECT_EQ(r.child("c").childCount(), 2u);
  EXPECT_EQ(r.child("c").childAt(1).name(), "d");
  EXPECT_EQ(r.child("e").childCount(), 2u);
  EXPECT_EQ(r.child("e").child("f").childCount(), 0u);
  EXPECT_EQ(r.child("e").childAt(1).text(), "");  // the text node " y" is no element: it has no children
  EXPECT_EQ(r.child("g").text(), "");
  EXPECT_EQ(r.child("h").child("i").childCount(), 1u);
  EXPECT_EQ(r.child("h").child("i").child("j").childCount(), 0u);
}

// Reading a long list by position, in order, back and forth.
TEST(XmlLayer, ChildAtInAnyOrder) {
  std::string text = "<r>";
  for (int i = 0; i < 2000; ++i) text += "<i>" + std::to_string(i) + "</i>\n";
  text += "</r>";
  xml::Document d;
  const xml::Node r = load(d, text);
  ASSERT_EQ(r.childCount(), 2000u);
  for (std::size_t i = 0; i < 2000; ++i) ASSERT_EQ(r.childAt(i).text(), std::to_string(i));
  EXPECT_EQ(r.childAt(1999).text(), "1999");
  EXPECT_EQ(r.childAt(5).text(), "5");
  EXPECT_EQ(r.childAt(4).text(), "4");
  EXPECT_EQ(r.childAt(6).text(), "6");
  EXPECT_FALSE(r.childAt(2000).exists());
  EXPECT_EQ(r.childAt(0).text(), "0");
  const xml::Node copy = r;  // a copy reads the same children
  EXPECT_EQ(copy.childAt(7).text(), "7");
  EXPECT_EQ(copy.childAt(3).text(), "3");
}

TEST(XmlLayer, ChildrenByPositionWhateverTheirNames) {
  xml::Document d;
  const xml::Node r = load(d, "<r><item>1</item><other>2</other><item>3</item></r>");
  std::string seen;
  for (const xml::Node c : r.children()) seen += c.name() + "=" + c.text() + ";";
  EXPECT_EQ(seen, "item=1;other=2;item=3;");
}

TEST(XmlLayer, Attributes) {
  xml::Document d;
  const xml::Node r = load(d, "<r id='7' empty='' q='a&quot;b'/>");
  EXPECT_EQ(r.attribute("id"), "7");
  EXPECT_EQ(r.attribute("empty"), "");
  EXPECT_EQ(r.attribute("q"), "a\"b");
  EXPECT_FALSE(r.attribute("ID").has_value());
  EXPECT_FALSE(r.attribute("missing").has_value());
}

TEST(XmlLayer, LoadErrorsNameLineAndColumn) {
  xml::Document d;
  try {
    d.loadMemory("<r>\n<a></b>\n</r>", "bad.xml");
    FAIL() << "malformed document loaded";
  } catch (const xml::Error& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("bad.xml"), std::string::npos) << m;
    EXPECT_NE(m.find("linia 2"), std::string::npos) << m;
    EXPECT_NE(m.find("coloana"), std::string::npos) << m;
  }
  EXPECT_FALSE(d.loaded());
  EXPECT_THROW(d.loadMemory("", "empty.xml"), xml::Error);
  EXPECT_THROW(d.loadMemory("<r>", "truncated.xml"), xml::Error);
}

TEST(XmlLayer, LoadFileErrors) {
  TempDir dir;
  xml::Document d;
  EXPECT_THROW(d.loadFile(dir.path() + "missing.xml"), xml::Error);
  EXPECT_THROW(d.loadFile(dir.path()), xml::Error);  // a folder
  writeFile(dir.path() + "ok.xml", "<?xml version='1.0' encoding='windows-1250'?><r>\x8a\x9e\xe2</r>");
  d.loadFile(dir.path() + "ok.xml");
  EXPECT_EQ(d.documentElement().text(), "\xc5\xa0\xc5\xbe\xc3\xa2");  // Š ž â
}

TEST(XmlLayer, ExternalEntitiesAreNeverRead) {
  TempDir dir;
  writeFile(dir.path() + "secret.txt", "SECRET");
  const std::string doc = "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY x SYSTEM 'file://" + dir.path() +
                          "secret.txt'>]><r><a>&x;</a></r>";
  xml::Document d;
  std::string text;
  try {
    d.loadMemory(doc, "xxe.xml");
    text = d.documentElement().child("a").text();
  } catch (const xml::Error&) {
    // refusing the document is as good as reading nothing from it
  }
  EXPECT_EQ(text.find("SECRET"), std::string::npos);
}

TEST(XmlLayer, InternalEntitiesAreExpanded) {
  xml::Document d;
  const xml::Node r = load(d, "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY co 'Mivo SRL'>]><r><a>&co;</a></r>");
  EXPECT_EQ(r.child("a").text(), "Mivo SRL");
}

}  // namespace
