#include <voicecontrol/interface/interface_message.h>

#include <gtest/gtest.h>

#include <climits>

namespace voicecontrol {
namespace {

const wchar_t kRequestExample[] =
    L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Request>\n"
    L"<Seq_No>7</Seq_No>\n<FlowID>1001</FlowID>\n<FieldNum>2</FieldNum>\n<Field>\n"
    L"<Field_Value>a</Field_Value>\n<Field_Value>b</Field_Value>\n"
    L"</Field>\n</Request>\n</Interface>";

std::wstring ResponseWith(const std::wstring& inner) {
  return L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Response>\n" + inner +
         L"</Response>\n</Interface>";
}

TEST(InterfaceMessageTest, WriterProducesTheExactDocument) {
  InterfaceRequest request;
  request.WriteSeqNo(7);
  request.WriteFlowID(1001);
  request.WriteFieldNum(2);
  request.WriteFieldValue(L"a");
  request.WriteFieldValue(L"b");
  EXPECT_EQ(request.Finish(), kRequestExample);
}

TEST(InterfaceMessageTest, ResponseWriterDiffersOnlyInTheBodyName) {
  InterfaceResponse response;
  response.WriteSeqNo(-5);
  response.WriteFlowID(INT_MIN);
  response.WriteFieldNum(0);
  EXPECT_EQ(response.Finish(),
            L"<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n<Interface>\n<Response>\n"
            L"<Seq_No>-5</Seq_No>\n<FlowID>-2147483648</FlowID>\n<FieldNum>0</FieldNum>\n"
            L"<Field>\n</Field>\n</Response>\n</Interface>");
}

TEST(InterfaceMessageTest, WriterFollowsCallOrderAndFinishRepeats) {
  InterfaceRequest request;
  request.WriteFlowID(2);
  request.WriteSeqNo(1);
  request.Finish();
  const std::wstring twice = request.Finish();
  EXPECT_NE(twice.find(L"<FlowID>2</FlowID>\n<Seq_No>1</Seq_No>\n"), std::wstring::npos);
  const std::wstring tail = L"</Field>\n</Request>\n</Interface>";
  EXPECT_EQ(twice.substr(twice.size() - 2 * tail.size()), tail + tail);
}

TEST(InterfaceMessageTest, MarkupInValuesIsEscapedAndReadsBackAsOneValue) {
  const std::wstring hostile = L"</Field_Value><Field_Value>x";
  InterfaceRequest writer;
  writer.WriteSeqNo(1);
  writer.WriteFlowID(2);
  writer.WriteFieldNum(3);
  writer.WriteFieldValue(hostile);
  writer.WriteFieldValue(L"a&b");
  writer.WriteFieldValue(L"plain \"quoted\" 'text'");
  const std::wstring text = writer.Finish();
  EXPECT_NE(text.find(L"<Field_Value>&lt;/Field_Value&gt;&lt;Field_Value&gt;x</Field_Value>\n"),
            std::wstring::npos);
  EXPECT_NE(text.find(L"<Field_Value>a&amp;b</Field_Value>\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"<Field_Value>plain \"quoted\" 'text'</Field_Value>\n"), std::wstring::npos);

  InterfaceRequest reader;
  ASSERT_EQ(reader.Load(text), 1);
  EXPECT_EQ(reader.ReadNextFieldValue(), hostile);
  EXPECT_EQ(reader.ReadNextFieldValue(), L"a&b");
  EXPECT_EQ(reader.ReadNextFieldValue(), L"plain \"quoted\" 'text'");
  EXPECT_EQ(reader.ReadNextFieldValue(), L"");
}

TEST(InterfaceMessageTest, ReaderFindsTheValuesByTheirPaths) {
  InterfaceRequest reader;
  ASSERT_EQ(reader.Load(kRequestExample), 1);
  EXPECT_EQ(reader.ReadSeqNo(), 7);
  EXPECT_EQ(reader.ReadFlowID(), 1001);
  EXPECT_EQ(reader.ReadFieldNum(), 2);
  EXPECT_EQ(reader.ReadNextFieldValue(), L"a");
  EXPECT_EQ(reader.ReadNextFieldValue(), L"b");
  EXPECT_EQ(reader.ReadNextFieldValue(), L"");
}

TEST(InterfaceMessageTest, FieldValuesKeepBlanksAndEndWithEmptyTexts) {
  InterfaceResponse reader;
  ASSERT_EQ(reader.Load(ResponseWith(L"<FieldNum>3</FieldNum>\n<Field>\n"
                                     L"<Field_Value>x</Field_Value>\n"
                                     L"<Field_Value> y </Field_Value>\n</Field>\n")),
            1);
  EXPECT_EQ(reader.ReadFieldNum(), 3);  // announced count is not checked
  EXPECT_EQ(reader.ReadNextFieldValue(), L"x");
  EXPECT_EQ(reader.ReadNextFieldValue(), L" y ");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(reader.ReadNextFieldValue(), L"");
}

TEST(InterfaceMessageTest, EmptyFieldReadsAsNoValues) {
  InterfaceResponse writer;
  writer.WriteSeqNo(1);
  writer.WriteFlowID(1004);
  writer.WriteFieldNum(0);
  InterfaceResponse reader;
  ASSERT_EQ(reader.Load(writer.Finish()), 1);
  EXPECT_EQ(reader.ReadFieldNum(), 0);
  EXPECT_EQ(reader.ReadNextFieldValue(), L"");
}

TEST(InterfaceMessageTest, CursorCountsCallsMadeBeforeLoading) {
  InterfaceRequest reader;
  EXPECT_EQ(reader.ReadNextFieldValue(), L"");  // no document yet, still counted
  ASSERT_EQ(reader.Load(kRequestExample), 1);
  EXPECT_EQ(reader.ReadNextFieldValue(), L"b");  // the second call gives the second value
  EXPECT_EQ(reader.ReadNextFieldValue(), L"");
}

TEST(InterfaceMessageTest, UnloadableTextsReadAsZeroAndEmpty) {
  for (const std::wstring& text : {std::wstring(), std::wstring(L"<Interface>"),
                                   std::wstring(L"<a><b>1</b></a><"), std::wstring(L"garbage")}) {
    InterfaceResponse reader;
    EXPECT_EQ(reader.Load(text), 0);
    EXPECT_EQ(reader.ReadSeqNo(), 0);
    EXPECT_EQ(reader.ReadFlowID(), 0);
    EXPECT_EQ(reader.ReadFieldNum(), 0);
    EXPECT_EQ(reader.ReadNextFieldValue(), L"");
  }
}

TEST(InterfaceMessageTest, VariantsAreNotInterchangeable) {
  InterfaceRequest reader;
  ASSERT_EQ(reader.Load(ResponseWith(L"<Seq_No>4</Seq_No>\n<FieldNum>1</FieldNum>\n<Field>\n"
                                     L"<Field_Value>v</Field_Value>\n</Field>\n")),
            1);
  EXPECT_EQ(reader.ReadSeqNo(), 0);
  EXPECT_EQ(reader.ReadFieldNum(), 0);
  EXPECT_EQ(reader.ReadNextFieldValue(), L"");
}

TEST(InterfaceMessageTest, IntegerElementsFollowTheDecimalRules) {
  InterfaceResponse reader;
  ASSERT_EQ(reader.Load(ResponseWith(L"<Seq_No> 12abc</Seq_No>\n<FieldNum>abc</FieldNum>\n")), 1);
  EXPECT_EQ(reader.ReadSeqNo(), 12);
  EXPECT_EQ(reader.ReadFieldNum(), 0);
  EXPECT_EQ(reader.ReadFlowID(), 0);  // missing
}

TEST(InterfaceMessageTest, ParseDecimalIntegerSaturatesInsteadOfOverflowing) {
  EXPECT_EQ(ParseDecimalInteger(L"\t\n -42x"), -42);
  EXPECT_EQ(ParseDecimalInteger(L"+17"), 17);
  EXPECT_EQ(ParseDecimalInteger(L"- 1"), 0);
  EXPECT_EQ(ParseDecimalInteger(L""), 0);
  EXPECT_EQ(ParseDecimalInteger(L"2147483647"), INT_MAX);
  EXPECT_EQ(ParseDecimalInteger(L"-2147483648"), INT_MIN);
  EXPECT_EQ(ParseDecimalInteger(L"2147483648"), INT_MAX);
  EXPECT_EQ(ParseDecimalInteger(L"-2147483649"), INT_MIN);
  EXPECT_EQ(ParseDecimalInteger(L"99999999999999999999999999999999"), INT_MAX);
  EXPECT_EQ(ParseDecimalInteger(L"\u0663"), 0);  // only ASCII digits count
}

TEST(InterfaceMessageTest, ReadingAllValuesOfALargeAnswer) {
  InterfaceResponse writer;
  writer.WriteSeqNo(1);
  writer.WriteFlowID(2);
  writer.WriteFieldNum(500);
  for (int i = 0; i < 500; ++i) writer.WriteFieldValue(std::to_wstring(i));
  InterfaceResponse reader;
  ASSERT_EQ(reader.Load(writer.Finish()), 1);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(reader.ReadNextFieldValue(), std::to_wstring(i));
  EXPECT_EQ(reader.ReadNextFieldValue(), L"");
}

}  // namespace
}  // namespace voicecontrol
