#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <voicecontrol/xml/xml.h>

namespace voicecontrol {
namespace {

struct Token {
  XmlTokenKind kind;
  std::string text;  // tokenText, or dataText for text, CDATA and their snippets
  int line;
  int column;
};

bool operator==(const Token& a, const Token& b) {
  return a.kind == b.kind && a.text == b.text && a.line == b.line && a.column == b.column;
}

std::ostream& operator<<(std::ostream& out, const Token& token) {
  return out << "{" << token.kind << ", \"" << token.text << "\", " << token.line << ":"
             << token.column << "}";
}

// Scans `input` up to and including the first EOF or invalid token.
std::vector<Token> Scan(const std::string& input) {
  XmlParser& scanner = XmlParser::Current();
  scanner.Reset(input.c_str());
  std::vector<Token> tokens;
  for (;;) {
    scanner.NextToken();
    const bool data = scanner.kind == TokText || scanner.kind == TokCData ||
                      (scanner.kind == TokInvalid && scanner.dataText[0] != '\0');
    tokens.push_back(
        {scanner.kind, data ? scanner.dataText : scanner.tokenText, scanner.line, scanner.column});
    if (scanner.kind == TokEof || scanner.kind == TokInvalid) return tokens;
  }
}

std::vector<XmlTokenKind> Kinds(const std::string& input) {
  std::vector<XmlTokenKind> kinds;
  for (const Token& token : Scan(input)) kinds.push_back(token.kind);
  return kinds;
}

TEST(XmlScannerTest, EmptyAndBlankInputGiveEofAtStart) {
  EXPECT_EQ(Scan(""), (std::vector<Token>{{TokEof, "", 1, 1}}));
  EXPECT_EQ(Scan(" \t\r\n  "), (std::vector<Token>{{TokEof, "", 2, 3}}));
}

TEST(XmlScannerTest, TagWithBlanksAroundEqualsAndAfterOpener) {
  EXPECT_EQ(Scan("<a b = 'x'>"), (std::vector<Token>{{TokTagOpen, "<", 1, 1},
                                                     {TokName, "a", 1, 2},
                                                     {TokName, "b", 1, 4},
                                                     {TokEquals, "=", 1, 6},
                                                     {TokString, "x", 1, 8},
                                                     {TokTagClose, ">", 1, 11},
                                                     {TokEof, "", 1, 12}}));
  EXPECT_EQ(Kinds("< a>"), (std::vector<XmlTokenKind>{TokTagOpen, TokName, TokTagClose, TokEof}));
}

TEST(XmlScannerTest, EndTagEmptyTagAndModes) {
  EXPECT_EQ(Kinds("<a/></b>x"),
            (std::vector<XmlTokenKind>{TokTagOpen, TokName, TokEmptyTagClose, TokEndTagOpen,
                                       TokName, TokTagClose, TokText, TokEof}));
  // "=" and names are tag-mode tokens only; in content they are text.
  EXPECT_EQ(Scan("a=b"), (std::vector<Token>{{TokText, "a=b", 1, 1}, {TokEof, "", 1, 4}}));
}

TEST(XmlScannerTest, StringsDecodeEntitiesAndHoldTheOtherQuote) {
  auto tokens = Scan("<a x=\"x&amp;lt;y 'q' <>\ny\" z='&#65;&quot;'");
  ASSERT_GE(tokens.size(), 8u);
  EXPECT_EQ(tokens[4], (Token{TokString, "x&lt;y 'q' <>\ny", 1, 6}));
  EXPECT_EQ(tokens[7], (Token{TokString, "&#65;\"", 2, 6}));
}

TEST(XmlScannerTest, StringLengthLimit) {
  const std::string max(255, 'v');
  auto tokens = Scan("<a x='" + max + "'>");
  EXPECT_EQ(tokens[4].kind, TokString);
  EXPECT_EQ(tokens[4].text, max);

  tokens = Scan("<a x='" + std::string(256, 'v') + "'>");
  EXPECT_EQ(tokens.back(), (Token{TokInvalid, "vvvvvvvvv(Too long)", 1, 6}));
}

TEST(XmlScannerTest, UnterminatedStringIsInvalid) {
  EXPECT_EQ(Scan("<a x=\"1>").back(), (Token{TokInvalid, "1>(Too long)", 1, 6}));
  EXPECT_EQ(Scan("<a x='").back(), (Token{TokInvalid, "(Too long)", 1, 6}));
}

TEST(XmlScannerTest, Names) {
  EXPECT_EQ(Scan("<a.b>"),
            (std::vector<Token>{
                {TokTagOpen, "<", 1, 1}, {TokName, "a", 1, 2}, {TokInvalid, ".b>", 1, 3}}));
  EXPECT_EQ(Scan("<a:b")[1], (Token{TokName, "a:b", 1, 2}));
  EXPECT_EQ(Scan("<a:b:c")[1], (Token{TokInvalid, "a:b:c", 1, 2}));
  EXPECT_EQ(Scan("<x-1_y2")[1], (Token{TokName, "x-1_y2", 1, 2}));
  // Names start with a letter; bytes of 128 and more never belong to one.
  EXPECT_EQ(Scan("<_a")[1], (Token{TokInvalid, "_a", 1, 2}));
  EXPECT_EQ(Scan("<a\xc3\xa9>")[2], (Token{TokInvalid, "\xc3\xa9>", 1, 3}));
}

TEST(XmlScannerTest, NameLengthLimit) {
  EXPECT_EQ(Scan("<" + std::string(255, 'n'))[1].kind, TokName);
  EXPECT_EQ(Scan("<" + std::string(256, 'n') + ">")[1],
            (Token{TokInvalid, "nnnnnnnnn(Too long)", 1, 2}));
}

TEST(XmlScannerTest, OtherCharacterInTagGivesNextNineCharacters) {
  EXPECT_EQ(Scan("<!DOCTYPE x>")[1], (Token{TokInvalid, "!DOCTYPE ", 1, 2}));
  EXPECT_EQ(Scan("<a #")[2], (Token{TokInvalid, "#", 1, 4}));
}

TEST(XmlScannerTest, TextKeepsTrailingBlanksAndDecodes) {
  EXPECT_EQ(Scan("  hello  <"),
            (std::vector<Token>{
                {TokText, "hello  ", 1, 3}, {TokTagOpen, "<", 1, 10}, {TokEof, "", 1, 11}}));
  EXPECT_EQ(Scan("x&amp;lt;y &#65; &bogus &amp")[0].text, "x&lt;y &#65; &bogus &amp");
}

TEST(XmlScannerTest, TextLengthLimitIsOnRawText) {
  const std::string max(2047, 't');
  EXPECT_EQ(Scan(max + "<")[0], (Token{TokText, max, 1, 1}));
  EXPECT_EQ(Scan(std::string(2048, 't') + "<")[0],
            (Token{TokInvalid, "ttttttttt(Too long)", 1, 1}));
  // 2050 raw characters decode to far fewer but are still too long.
  std::string entities;
  for (int i = 0; i < 410; ++i) entities += "&amp;";
  EXPECT_EQ(Scan(entities)[0].kind, TokInvalid);
}

TEST(XmlScannerTest, CData) {
  EXPECT_EQ(Scan("<![CDATA[ x<y&amp; ]]>z"),
            (std::vector<Token>{
                {TokCData, " x<y&amp; ", 1, 1}, {TokText, "z", 1, 23}, {TokEof, "", 1, 24}}));
  const std::string max(2048, 'c');
  EXPECT_EQ(Scan("<![CDATA[" + max + "]]>")[0], (Token{TokCData, max, 1, 1}));
  EXPECT_EQ(Scan("<![CDATA[" + max + "c]]>")[0], (Token{TokInvalid, "<![CDATA[(Too long)", 1, 1}));
  EXPECT_EQ(Scan("<![CDATA[x]]")[0], (Token{TokInvalid, "<![CDATA ... (NEED ]]>)", 1, 1}));
}

TEST(XmlScannerTest, CommentsAndInstructionsAreSkippedButCounted) {
  EXPECT_EQ(Scan("<!---->\n<!-->x"),
            (std::vector<Token>{{TokText, "x", 2, 6}, {TokEof, "", 2, 7}}));
  EXPECT_EQ(
      Scan("<?xml version='1.0'?><?>\n <!-- a\nb -->  <r"),
      (std::vector<Token>{{TokTagOpen, "<", 3, 8}, {TokName, "r", 3, 9}, {TokEof, "", 3, 10}}));
  EXPECT_EQ(Scan("<!-- x ->")[0], (Token{TokInvalid, "<!-- ... (NEED -->)", 1, 1}));
  EXPECT_EQ(Scan("<?pi")[0], (Token{TokInvalid, "<? ... (NEED ?>)", 1, 1}));
}

TEST(XmlScannerTest, LinesAndColumns) {
  EXPECT_EQ(Scan("\n<")[0], (Token{TokTagOpen, "<", 2, 1}));
  EXPECT_EQ(Scan("ab<")[1], (Token{TokTagOpen, "<", 1, 3}));
  // Carriage returns and tabs count as columns; only line feeds start lines.
  EXPECT_EQ(Scan("\r\n\t\r<")[0], (Token{TokTagOpen, "<", 2, 3}));
  // Line breaks inside a token are counted when the next token is.
  EXPECT_EQ(Scan("<a x='1\n\n2'  y")[5], (Token{TokName, "y", 3, 5}));
  EXPECT_EQ(
      Scan("a\nbc <"),
      (std::vector<Token>{{TokText, "a\nbc ", 1, 1}, {TokTagOpen, "<", 2, 4}, {TokEof, "", 2, 5}}));
  EXPECT_EQ(Scan("<![CDATA[\n\n]]>x")[1], (Token{TokText, "x", 3, 4}));
  EXPECT_EQ(Scan("<?a\n?>\r\n<!--\n-->x")[0], (Token{TokText, "x", 4, 4}));
  EXPECT_EQ(Scan("<a\n\tb\n=\n'v'>\n\n")[5], (Token{TokTagClose, ">", 4, 4}));
}

TEST(XmlScannerTest, ResetStartsOver) {
  XmlParser& scanner = XmlParser::Current();
  scanner.Reset("<a");
  scanner.NextToken();
  scanner.NextToken();
  scanner.Reset("x");
  EXPECT_EQ(scanner.kind, TokEof);
  EXPECT_EQ(scanner.inTag, 0);
  scanner.NextToken();
  EXPECT_EQ(scanner.kind, TokText);
  EXPECT_STREQ(scanner.dataText, "x");
}

TEST(XmlScannerTest, DisplayNames) {
  EXPECT_STREQ(XmlTokenDisplayName(TokNone), "");
  EXPECT_STREQ(XmlTokenDisplayName(TokTagOpen), "<");
  EXPECT_STREQ(XmlTokenDisplayName(TokName), "tag/attrname");
  EXPECT_STREQ(XmlTokenDisplayName(TokInvalid), "invalid");
  EXPECT_STREQ(XmlTokenDisplayName(static_cast<XmlTokenKind>(14)), "");
}

TEST(XmlDecodeTest, ReplacesTheFiveEntitiesOnce) {
  char text[] = "&lt;&gt;&apos;&quot;&amp;&amp;amp;&AMP;&lt &#x41;&";
  XmlDecode(text);
  EXPECT_STREQ(text, "<>'\"&&amp;&AMP;&lt &#x41;&");
  XmlDecode(nullptr);  // tolerated
}

TEST(CopyBoundedTest, CopiesAtMostSizeMinusOne) {
  char buffer[8] = "zzzzzzz";
  CopyBounded(buffer, "abcdefghij", 4);
  EXPECT_STREQ(buffer, "abc");
  CopyBounded(buffer, "ab", 8);
  EXPECT_STREQ(buffer, "ab");
  CopyBounded(buffer, nullptr, 8);
  EXPECT_STREQ(buffer, "");
  buffer[0] = 'q';
  CopyBounded(buffer, "abc", 0);  // no room even for the terminator: untouched
  EXPECT_EQ(buffer[0], 'q');
}

}  // namespace
}  // namespace voicecontrol
