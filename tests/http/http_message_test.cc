#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <voicecontrol/http/http.h>

namespace voicecontrol {
namespace {

constexpr char kUntouched = '#';

// Serialises into a buffer of exactly `capacity` bytes filled with a marker,
// checking that nothing is written past it.
struct Output {
  int result = 0;
  int length = -7;
  std::string bytes;   // The message bytes on success.
  std::string buffer;  // The whole buffer afterwards.
};

template <typename Message>
Output SerializeInto(const Message& message, int capacity) {
  std::vector<char> buffer(static_cast<size_t>(capacity) + 16, kUntouched);
  Output out;
  out.result = message.Serialize(buffer.data(), capacity, &out.length);
  for (size_t i = static_cast<size_t>(capacity); i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kUntouched) << "written past the capacity at " << i;
  }
  out.buffer.assign(buffer.data(), static_cast<size_t>(capacity));
  if (out.result == 0) {
    EXPECT_EQ(buffer[static_cast<size_t>(out.length)], '\0');
    out.bytes.assign(buffer.data(), static_cast<size_t>(out.length));
  }
  return out;
}

TEST(HttpMessageTest, NewMessagesHoldNothing) {
  HttpRequest request;
  EXPECT_EQ(request.GetAssertedIdentity(), nullptr);
  EXPECT_EQ(request.GetAuthorization(), nullptr);
  EXPECT_EQ(request.GetContentType(), nullptr);
  EXPECT_EQ(request.GetBody(), nullptr);
  EXPECT_EQ(request.GetBodyLength(), -1);
  EXPECT_EQ(request.GetAuid(), nullptr);
  EXPECT_EQ(request.GetHost(), nullptr);
  EXPECT_EQ(request.GetIntendedIdentity(), nullptr);
  EXPECT_EQ(request.GetEtag(), nullptr);
  EXPECT_EQ(request.GetMethod(), -1);
  EXPECT_EQ(request.GetUri(), nullptr);
  EXPECT_EQ(HttpResponse().GetStatusCode(), 0);
}

TEST(HttpMessageTest, TextSettersStoreTrimmedCopies) {
  HttpMessage message;
  std::string value = " text/xml\t";
  message.SetContentType(value.c_str());
  value = "changed";
  EXPECT_STREQ(message.GetContentType(), "text/xml");

  message.SetAssertedIdentity("\r\n sip:a@b \x01");
  message.SetAuthorization(" Digest x=1 ");
  message.SetAuid(" ims-pim ");
  message.SetHost("\thost\xe9 ");
  message.SetIntendedIdentity("  \"id\"  ");
  message.SetEtag(" \x80 ");
  EXPECT_STREQ(message.GetAssertedIdentity(), "sip:a@b");
  EXPECT_STREQ(message.GetAuthorization(), "Digest x=1");
  EXPECT_STREQ(message.GetAuid(), "ims-pim");
  EXPECT_STREQ(message.GetHost(), "host\xe9");
  EXPECT_STREQ(message.GetIntendedIdentity(), "\"id\"");
  EXPECT_STREQ(message.GetEtag(), "\x80");

  message.SetEtag("   ");
  EXPECT_STREQ(message.GetEtag(), "");

  HttpRequest request;  // Unlike the header values, the URI is kept as given.
  request.SetUri(" /x y\t");
  EXPECT_STREQ(request.GetUri(), " /x y\t");
}

TEST(HttpMessageTest, SettingAFieldFromItsOwnValueIsSafe) {
  HttpRequest request;
  request.SetHost(" example ");
  request.SetHost(request.GetHost());
  EXPECT_STREQ(request.GetHost(), "example");
  request.SetUri("/a b");
  request.SetUri(request.GetUri());
  EXPECT_STREQ(request.GetUri(), "/a b");
  request.SetBody("abcdef", -1);
  request.SetBody(request.GetBody() + 2, 3);
  EXPECT_EQ(request.GetBodyLength(), 3);
  EXPECT_STREQ(request.GetBody(), "cde");
}

TEST(HttpMessageTest, BodyIsCopiedUntrimmedWithATrailingNul) {
  HttpMessage message;
  message.SetBody(" abc ", -1);
  EXPECT_EQ(message.GetBodyLength(), 5);
  EXPECT_EQ(std::memcmp(message.GetBody(), " abc \0", 6), 0);

  message.SetBody("a\0b", 3);
  EXPECT_EQ(message.GetBodyLength(), 3);
  EXPECT_EQ(std::memcmp(message.GetBody(), "a\0b\0", 4), 0);

  message.SetBody("xyz", 0);
  EXPECT_EQ(message.GetBodyLength(), 0);
  EXPECT_STREQ(message.GetBody(), "");
}

TEST(HttpRequestTest, SerialisesPutWithTypeAndBody) {
  HttpRequest request;
  request.SetMethod(kHttpPut);
  request.SetUri("/a");
  request.SetContentType("text/xml");
  request.SetBody("abcd", 4);
  const std::string expected =
      "PUT /a HTTP/1.1\r\nContent-Type: text/xml\r\nContent-Length: 4\r\n\r\nabcd";
  const Output out = SerializeInto(request, 200);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.bytes, expected);
  EXPECT_EQ(out.length, static_cast<int>(expected.size()));

  std::string text = "stale";
  ASSERT_EQ(request.Serialize(&text), 0);
  EXPECT_EQ(text, expected);
}

TEST(HttpRequestTest, MissingMethodOrUriFailsWithoutWriting) {
  HttpRequest request;
  Output out = SerializeInto(request, 100);
  EXPECT_EQ(out.result, -1);
  EXPECT_EQ(out.buffer, std::string(100, kUntouched));
  EXPECT_EQ(out.length, -7);

  request.SetMethod(kHttpGet);
  out = SerializeInto(request, 100);
  EXPECT_EQ(out.result, -2);
  EXPECT_EQ(out.buffer, std::string(100, kUntouched));

  std::string text;
  EXPECT_EQ(request.Serialize(&text), -2);
  EXPECT_EQ(HttpRequest().Serialize(&text), -1);
}

TEST(HttpRequestTest, EveryMethodNameAndNoBodyLength) {
  const char* const expected[] = {"GET /r HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
                                  "PUT /r HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
                                  "DELETE /r HTTP/1.1\r\nContent-Length: 0\r\n\r\n"};
  for (int method = 0; method < kHttpMethodCount; ++method) {
    HttpRequest request;
    request.SetMethod(method);
    request.SetUri("/r");
    EXPECT_EQ(SerializeInto(request, 100).bytes, expected[method]);
  }
}

TEST(HttpMessageTest, HeadersComeInTheirFixedOrderAndOnlyThose) {
  HttpRequest request;
  request.SetMethod(kHttpDelete);
  request.SetUri("/u");
  request.SetAuthorization("auth");
  request.SetHost("host");
  request.SetContentType("type");
  request.SetIntendedIdentity("intended");
  request.SetAssertedIdentity("asserted");
  request.SetAuid("ims-pim");
  request.SetEtag("etag");
  request.SetBody("b\0dy", 4);
  const std::string expected = std::string(
                                   "DELETE /u HTTP/1.1\r\n"
                                   "X-3GPP-Intended-Identity: intended\r\n"
                                   "Content-Type: type\r\n"
                                   "Content-Length: 4\r\n"
                                   "Host: host\r\n"
                                   "Authorization: auth\r\n"
                                   "\r\n") +
                               std::string("b\0dy", 4);
  EXPECT_EQ(SerializeInto(request, 500).bytes, expected);
}

TEST(HttpMessageTest, EmptyBodyIsWrittenThroughTheNumericForm) {
  HttpRequest request;
  request.SetMethod(kHttpGet);
  request.SetUri("/");
  request.SetBody("ignored", 0);
  EXPECT_EQ(SerializeInto(request, 100).bytes, "GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
}

TEST(HttpResponseTest, StatusLineUsesTheTable) {
  HttpResponse response;
  EXPECT_EQ(SerializeInto(response, 100).result, -1);
  response.SetStatusCode(306);
  const Output rejected = SerializeInto(response, 100);
  EXPECT_EQ(rejected.result, -1);
  EXPECT_EQ(rejected.buffer, std::string(100, kUntouched));

  response.SetStatusCode(307);
  response.SetHost("Host");
  EXPECT_EQ(SerializeInto(response, 100).bytes,
            "HTTP/1.1 307 Temporary Redirect\r\nContent-Length: 0\r\nHost: Host\r\n\r\n");
  std::string text;
  EXPECT_EQ(response.Serialize(&text), 0);
  EXPECT_EQ(text, "HTTP/1.1 307 Temporary Redirect\r\nContent-Length: 0\r\nHost: Host\r\n\r\n");
  response.SetStatusCode(-200);
  EXPECT_EQ(response.Serialize(&text), -1);
}

TEST(HttpStatusTest, TableHoldsFortyRowsInOrderWithout306) {
  EXPECT_EQ(sizeof HttpStatusTable / sizeof HttpStatusTable[0], 40u);
  EXPECT_EQ(HttpStatusTable[0].code, 100);
  EXPECT_EQ(HttpStatusTable[19].code, 403);
  EXPECT_EQ(HttpStatusTable[20].code, 404);
  EXPECT_EQ(HttpStatusTable[39].code, 505);
  for (int i = 1; i < kHttpStatusCount; ++i) {
    EXPECT_LT(HttpStatusTable[i - 1].code, HttpStatusTable[i].code);
    EXPECT_STREQ(GetStatusText(HttpStatusTable[i].code), HttpStatusTable[i].reason);
  }
  EXPECT_STREQ(GetStatusText(505), "HTTP Version Not Supported");
  EXPECT_STREQ(GetStatusText(203), "Non-Authoritative Information");
  EXPECT_STREQ(GetStatusText(414), "Request-URI Too Long");
  EXPECT_EQ(GetStatusText(99), nullptr);
  EXPECT_EQ(GetStatusText(306), nullptr);
  EXPECT_EQ(GetStatusText(0), nullptr);
}

TEST(HttpMessageTest, CapacityMustHoldTheMessageAndItsNul) {
  HttpRequest request;
  request.SetMethod(kHttpPut);
  request.SetUri("/a");
  request.SetBody("abcd", 4);
  std::string expected;
  ASSERT_EQ(request.Serialize(&expected), 0);
  const int needed = static_cast<int>(expected.size()) + 1;

  EXPECT_EQ(SerializeInto(request, needed).bytes, expected);
  for (int capacity : {needed - 1, needed - 5, 1, 0}) {
    const Output out = SerializeInto(request, capacity);
    EXPECT_EQ(out.result, kHttpBufferTooSmall) << capacity;
    EXPECT_EQ(out.buffer, std::string(static_cast<size_t>(capacity), kUntouched));
    EXPECT_EQ(out.length, -7);
  }

  HttpResponse response;
  response.SetStatusCode(200);
  response.SetBody("abcd", 4);
  ASSERT_EQ(response.Serialize(&expected), 0);
  EXPECT_EQ(SerializeInto(response, static_cast<int>(expected.size()) + 1).result, 0);
  EXPECT_EQ(SerializeInto(response, static_cast<int>(expected.size())).result, kHttpBufferTooSmall);
}

TEST(HttpMessageTest, AppendHeadersAndBodyFollowsTheCallersStartLine) {
  HttpMessage message;
  message.SetHost("Host");
  message.SetBody("<x/>", -1);
  const std::string startLine = "CREATE /MyURL/ HTTP/1.1\r\n";
  const std::string expected = startLine + "Content-Length: 4\r\nHost: Host\r\n\r\n<x/>";
  const int needed = static_cast<int>(expected.size()) + 1;

  std::vector<char> buffer(static_cast<size_t>(needed) + 8, kUntouched);
  std::memcpy(buffer.data(), startLine.c_str(), startLine.size() + 1);
  int length = 0;
  ASSERT_EQ(message.AppendHeadersAndBody(buffer.data(), needed, &length), 0);
  EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(length)), expected);
  EXPECT_EQ(buffer[static_cast<size_t>(length)], '\0');
  EXPECT_EQ(buffer[static_cast<size_t>(needed)], kUntouched);

  std::string text = startLine;
  message.AppendHeadersAndBody(&text);
  EXPECT_EQ(text, expected);

  // One byte short: nothing behind the start line changes.
  std::fill(buffer.begin(), buffer.end(), kUntouched);
  std::memcpy(buffer.data(), startLine.c_str(), startLine.size() + 1);
  length = -7;
  EXPECT_EQ(message.AppendHeadersAndBody(buffer.data(), needed - 1, &length), kHttpBufferTooSmall);
  EXPECT_EQ(length, -7);
  EXPECT_EQ(buffer[startLine.size()], '\0');
  EXPECT_EQ(buffer[startLine.size() + 1], kUntouched);

  // No NUL inside the capacity: there is no start line to append to.
  std::fill(buffer.begin(), buffer.end(), 'x');
  EXPECT_EQ(message.AppendHeadersAndBody(buffer.data(), 10, &length), kHttpNoStartLine);
  EXPECT_EQ(buffer[10], 'x');
}

// Broken preconditions stop debug builds; release builds leave the field
// absent (or the method unset) instead of storing something unusable.
TEST(HttpMessageDeathTest, BrokenPreconditions) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  HttpRequest request;
  request.SetHost("h");
  request.SetUri("/u");
  request.SetBody("b", -1);
  request.SetMethod(kHttpGet);
  EXPECT_DEBUG_DEATH(request.SetHost(nullptr), "");
  EXPECT_DEBUG_DEATH(request.SetUri(nullptr), "");
  EXPECT_DEBUG_DEATH(request.SetBody(nullptr, 1), "");
  EXPECT_DEBUG_DEATH(request.SetBody("x", -2), "");
  EXPECT_DEBUG_DEATH(request.SetMethod(3), "");
  EXPECT_DEBUG_DEATH(request.SetMethod(-1), "");
#ifdef NDEBUG
  EXPECT_EQ(request.GetHost(), nullptr);
  EXPECT_EQ(request.GetUri(), nullptr);
  EXPECT_EQ(request.GetBody(), nullptr);
  EXPECT_EQ(request.GetBodyLength(), -1);
  EXPECT_EQ(request.GetMethod(), -1);
#endif
}

}  // namespace
}  // namespace voicecontrol
