#include <gtest/gtest.h>

#include "bindings/zrcore/xml_builder.h"
#include "bindings/zrcore/xml_writer.h"
#include "tests/test_support.h"

namespace {

using ZR::CXmlBuilder;

std::unique_ptr<ZR::CXmlElement> parse(const std::string& text, std::string* error = nullptr) {
  std::string ignored;
  return std::unique_ptr<ZR::CXmlElement>(CXmlBuilder::textToDocument(text, error ? *error : ignored));
}

TEST(XmlParse, BuildsTreeWithTextAttributesAndChildren) {
  auto root = parse("<a x='1'><b>hello &amp; bye</b><c/><b>second</b></a>");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->getName(), "a");
  EXPECT_EQ(root->getAttribute("x")->value, "1");
  EXPECT_EQ(root->getAttribute("y"), nullptr);
  ASSERT_EQ(root->getChildCount(), 3u);
  EXPECT_EQ(root->getChild("b")->getText(), "hello & bye");
  EXPECT_EQ(root->getChild(2)->getText(), "second");
  EXPECT_EQ(root->getChild(3), nullptr);
  EXPECT_EQ(root->getChild("zz"), nullptr);
}

TEST(XmlParse, DeclaredEncodingsAreHonouredAndTextsArriveAsUtf8) {
  struct Case {
    std::string document;
    const char* text;  // null: refused
  } cases[] = {
      {"<a>caf\xC3\xA9</a>", "caf\xC3\xA9"},
      {"<?xml version='1.0'?><a>caf\xC3\xA9</a>", "caf\xC3\xA9"},
      {"<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>", "caf\xC3\xA9"},
      {"<?xml version='1.0' encoding='US-ASCII'?><a>cafe</a>", "cafe"},
      {"<?xml version='1.0' encoding='Windows-1252'?><a>\x80\x9F</a>", "\xE2\x82\xAC\xC5\xB8"},
      {"<?xml version='1.0' encoding='windows-1252'?><a>\x81</a>", nullptr},  // unassigned in windows-1252
      {std::string("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0", 18), "\xC3\xA9"},  // UTF-16 with its mark
      {"<?xml version='1.0' encoding='EBCDIC-XYZ'?><a/>", nullptr},
      {"<a>caf\xE9</a>", nullptr},  // not UTF-8, and nothing says otherwise
  };
  for (const Case& c : cases) {
    std::string error;
    auto root = parse(c.document, &error);
    if (!c.text) {
      EXPECT_FALSE(root) << c.document;
      EXPECT_NE(error.find(ZR::kExpatErrorText), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(root) << c.document << ": " << error;
    EXPECT_EQ(root->getText(), c.text) << c.document;
  }
}

TEST(XmlParse, ErrorTextsTellSyntaxErrorsFromOtherFailures) {
  testsupport::TempDir dir;
  struct Case {
    const char* name;
    const char* content;  // null: no file at all
    bool expatError;
  } cases[] = {
      {"unclosed.xml", "<a><b></a>", true},
      {"empty.xml", "", true},
      {"garbage.xml", "not xml at all", true},
      {"missing.xml", nullptr, false},
      {"entities.xml",
       "<!DOCTYPE a [<!ENTITY x \"xxxxxxxxxx\"><!ENTITY y \"&x;&x;&x;&x;&x;&x;&x;&x;\">]><a>&y;</a>", false},
      {"external.xml", "<!DOCTYPE a [<!ENTITY e SYSTEM \"/etc/passwd\">]><a>&e;</a>", false},
  };
  for (const Case& c : cases) {
    std::string path = dir.file(c.name);
    if (c.content) testsupport::writeFile(path, c.content);
    std::string error;
    EXPECT_EQ(std::unique_ptr<ZR::CXmlElement>(CXmlBuilder::fileToDocument(path, error)), nullptr) << c.name;
    EXPECT_EQ(error.find(ZR::kExpatErrorText) != std::string::npos, c.expatError) << c.name << ": " << error;
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_EQ(CXmlBuilder::fileToDocument(dir.file("unclosed.xml"), error), nullptr);
  EXPECT_NE(error.find("line 1, column"), std::string::npos) << error;
}

TEST(XmlParse, RefusesDocumentsNestedTooDeeply) {
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<a>";
  for (int i = 0; i < 300; ++i) deep += "</a>";
  std::string error;
  EXPECT_EQ(parse(deep, &error), nullptr);
  EXPECT_NE(error.find("nested deeper"), std::string::npos) << error;
  std::string fine;
  for (int i = 0; i < 100; ++i) fine += "<a>";
  for (int i = 0; i < 100; ++i) fine += "</a>";
  EXPECT_NE(parse(fine), nullptr);
}

TEST(XmlGetValue, EvaluatesPathExpressions) {
  auto root = parse(
      "<CachingPolicyEngineConfiguration>"
      "<cacheManagerClient server='host:80'><actionset path='a.xml'/><note>text</note></cacheManagerClient>"
      "</CachingPolicyEngineConfiguration>");
  ASSERT_TRUE(root);
  struct Case {
    const char* expression;
    bool found;
    const char* value;
  } cases[] = {
      {"/CachingPolicyEngineConfiguration/cacheManagerClient@server", true, "host:80"},
      {"CachingPolicyEngineConfiguration/cacheManagerClient@server", true, "host:80"},
      {"/CachingPolicyEngineConfiguration/cacheManagerClient/actionset@path", true, "a.xml"},
      {"/CachingPolicyEngineConfiguration/cacheManagerClient/note", true, "text"},
      {"/CachingPolicyEngineConfiguration/cacheManagerClient/missing@path", false, ""},
      {"/CachingPolicyEngineConfiguration/cacheManagerClient/actionset@nope", false, ""},
      {"/Other/cacheManagerClient@server", false, ""},
      {"", false, ""},
      {"/CachingPolicyEngineConfiguration//x", false, ""},
      {"/CachingPolicyEngineConfiguration@", false, ""},
  };
  for (const Case& c : cases) {
    std::string value = "untouched", message;
    EXPECT_EQ(root->getValue(c.expression, value, message), c.found) << c.expression;
    if (c.found) {
      EXPECT_EQ(value, c.value) << c.expression;
    } else {
      EXPECT_FALSE(message.empty()) << c.expression;
    }
  }
  auto file = parse("<file path='p'><offset value='4096'/><mimeType name='text/plain'/></file>");
  std::string value, message;
  EXPECT_TRUE(file->getValue("/file/offset@value", value, message));
  EXPECT_EQ(value, "4096");
}

TEST(XmlWrite, EveryTextSurvivesAWriteAndARead) {
  const std::string tricky[] = {
      "c:\\a & b\\<x>.txt", "quote \" and ' apostrophe", "tab\there", "line\nfeed", "cr\rhere", "  spaces  ",
      "unicode \xC3\xA9\xE2\x82\xAC", "]]> end of cdata", "&amp; literally",
  };
  for (const std::string& text : tricky) {
    CXmlBuilder builder;
    builder.startElement("root");
    builder.attribute("path", text);
    builder.element("child", text);
    builder.endElement("root");
    std::string rendered;
    CXmlBuilder::documentToBuffer(builder.getDocument(), rendered);
    std::string error;
    auto back = parse(rendered, &error);
    ASSERT_TRUE(back) << error << "\n" << rendered;
    EXPECT_EQ(back->getAttribute("path")->value, text);
    EXPECT_EQ(back->getChild("child")->getText(), text);
  }
}

TEST(XmlWrite, LayoutIsOneElementPerLine) {
  std::string out;
  ZR::CXmlWriter xml(out, true);
  xml.declaration();
  xml.stylesheet("../www/status_transform.xsl");
  xml.startElement("a");
  xml.startElement("b");
  xml.attribute("k", "v");
  xml.endElement();
  xml.startElement("c");
  xml.text("t");
  xml.endElement();
  xml.finish();
  EXPECT_EQ(out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<?xml-stylesheet type=\"text/xsl\" href=\"../www/status_transform.xsl\"?>\n"
            "<a>\n  <b k=\"v\"/>\n  <c>t</c>\n</a>\n");
  EXPECT_EQ(ZR::CXmlUtil::escapeXml2("<a&b>\"'"), "&lt;a&amp;b&gt;&quot;&apos;");
}

}  // namespace
