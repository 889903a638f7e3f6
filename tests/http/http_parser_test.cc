#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <voicecontrol/http/http.h>

namespace voicecontrol {
namespace {

int ParseHeaders(HttpMessage* message, const std::string& text) {
  return message->ParseHeadersAndBody(text.c_str(), static_cast<int>(text.size()));
}
int ParseRequest(HttpRequest* request, const std::string& text) {
  return request->Parse(text.c_str(), static_cast<int>(text.size()));
}
int ParseResponse(HttpResponse* response, const std::string& text) {
  return response->Parse(text.c_str(), static_cast<int>(text.size()));
}

const char kRequestLine[] = "PUT /services/resource-lists/users/a HTTP/1.1\r\n";
const char kStatusLine[] = "HTTP/1.1 200 OK\r\n";

TEST(HttpParserTest, TextWithoutBlankLineIsRejectedByEveryEntryPoint) {
  const std::string noBlank = "Content-Type: a\r\nEtag: b\r\n";
  HttpMessage message;
  EXPECT_EQ(ParseHeaders(&message, noBlank), -1);
  EXPECT_EQ(ParseHeaders(&message, "\r\n\r"), -1);
  EXPECT_EQ(ParseHeaders(&message, ""), -1);
  EXPECT_EQ(message.GetContentType(), nullptr);
  HttpRequest request;
  EXPECT_EQ(ParseRequest(&request, kRequestLine + noBlank), -5);
  EXPECT_EQ(request.GetMethod(), -1);
  EXPECT_EQ(request.GetUri(), nullptr);
  HttpResponse response;
  EXPECT_EQ(ParseResponse(&response, kStatusLine + noBlank), -5);
  EXPECT_EQ(response.GetStatusCode(), 0);
}

TEST(HttpParserTest, ContentLengthMustEqualTheBody) {
  HttpMessage message;
  ASSERT_EQ(ParseHeaders(&message, "X\r\nContent-Length: 5\r\n\r\nhello"), 0);
  EXPECT_EQ(message.GetBodyLength(), 5);
  EXPECT_STREQ(message.GetBody(), "hello");

  // A mismatch stops the walk: earlier lines stay stored, later ones and the
  // body do not.
  HttpMessage shorter;
  EXPECT_EQ(
      ParseHeaders(&shorter, "X\r\nEtag: e\r\nContent-Length: 5\r\nContent-Type: t\r\n\r\nhell"),
      -2);
  EXPECT_STREQ(shorter.GetEtag(), "e");
  EXPECT_EQ(shorter.GetContentType(), nullptr);
  EXPECT_EQ(shorter.GetBody(), nullptr);

  HttpRequest request;
  EXPECT_EQ(ParseRequest(&request, std::string(kRequestLine) + "Content-Length: 5\r\n\r\nhell"),
            -5);
  EXPECT_EQ(request.GetMethod(), -1);
  EXPECT_STREQ(request.GetAuid(), "resource-lists");  // Classified before the headers failed.
  HttpResponse response;
  EXPECT_EQ(ParseResponse(&response, std::string(kStatusLine) + "Content-Length: 5\r\n\r\nhell"),
            -6);
  EXPECT_EQ(response.GetStatusCode(), 0);
}

TEST(HttpParserTest, ContentLengthIsReadLikeAtoiWithoutWrapping) {
  struct Case {
    const char* value;
    const char* body;
    int result;
  } const cases[] = {
      {"abc", "", 0},
      {"abc", "x", -2},
      {"", "", 0},
      {" \t +3xyz", "abc", 0},
      {"-3", "abc", -2},
      {"00003", "abc", 0},
      {"- 3", "", 0},
      {"4294967299", "abc", -2},  // Would wrap to 3.
      {"99999999999999999999", "abc", -2},
  };
  for (const Case& c : cases) {
    HttpMessage message;
    const std::string text = std::string("Content-Length:") + c.value + "\r\n\r\n" + c.body;
    EXPECT_EQ(ParseHeaders(&message, text), c.result) << c.value << " / " << c.body;
  }
}

TEST(HttpParserTest, TheTextEndsAtItsFirstNul) {
  const std::string text("X\r\nContent-Length: 2\r\n\r\nab\0cd", 28);
  HttpMessage message;
  ASSERT_EQ(message.ParseHeadersAndBody(text.data(), static_cast<int>(text.size())), 0);
  EXPECT_EQ(message.GetBodyLength(), 2);
  EXPECT_STREQ(message.GetBody(), "ab");
  // A length hint that is too short or absurd changes nothing.
  HttpMessage hinted;
  EXPECT_EQ(hinted.ParseHeadersAndBody(text.data(), 3), 0);
  EXPECT_EQ(hinted.GetBodyLength(), 2);
  EXPECT_EQ(hinted.ParseHeadersAndBody(text.data(), -100), 0);
}

TEST(HttpParserTest, KnownHeadersMatchInAnyCaseOverTheWholeName) {
  HttpMessage message;
  ASSERT_EQ(ParseHeaders(&message,
                         "X\r\nCONTENT-TYPE: a/b\r\netag:\t \"abc\" \r\n"
                         "x-xcap-asserted-identity: <sip:x>\r\n\r\n"),
            0);
  EXPECT_STREQ(message.GetContentType(), "a/b");
  EXPECT_STREQ(message.GetEtag(), "\"abc\"");
  EXPECT_STREQ(message.GetAssertedIdentity(), "<sip:x>");

  HttpMessage other;
  ASSERT_EQ(ParseHeaders(&other,
                         "Content-Typex: a\r\nContent-Type : b\r\n Etag: c\r\nEtag\r\n"
                         "Host: h\r\nAuthorization: z\r\nX-3GPP-Intended-Identity\r\n\r\n"),
            0);
  EXPECT_EQ(other.GetContentType(), nullptr);
  EXPECT_EQ(other.GetEtag(), nullptr);
  EXPECT_EQ(other.GetHost(), nullptr);
  EXPECT_EQ(other.GetAuthorization(), nullptr);
  EXPECT_EQ(other.GetAssertedIdentity(), nullptr);
}

TEST(HttpParserTest, SharedFieldsKeepTheLastOccurrence) {
  HttpMessage message;
  ASSERT_EQ(ParseHeaders(&message,
                         "X\r\nAuthentication-Info: x\r\nX-3GPP-Intended-Identity: one\r\n"
                         "WWW-Authenticate: y\r\nX-XCAP-Asserted-Identity: two\r\n"
                         "Etag: 1\r\nEtag: 2\r\n\r\n"),
            0);
  EXPECT_STREQ(message.GetAuthorization(), "y");
  EXPECT_STREQ(message.GetAssertedIdentity(), "two");
  EXPECT_STREQ(message.GetEtag(), "2");
  EXPECT_EQ(message.GetIntendedIdentity(), nullptr);
}

TEST(HttpParserTest, LineEndsFollowTheWalk) {
  HttpMessage message;
  // A lone LF belongs to the line; a line cut by a lone CR is dropped and the
  // byte behind that CR is skipped.
  ASSERT_EQ(ParseHeaders(&message,
                         "X\r\nEtag: a\nb\r\nContent-Type: dropped\rXAuthentication-Info: kept\r\n"
                         "\r\n"),
            0);
  EXPECT_STREQ(message.GetEtag(), "a\nb");
  EXPECT_EQ(message.GetContentType(), nullptr);
  EXPECT_STREQ(message.GetAuthorization(), "kept");

  // The start line is walked too and may carry a header.
  HttpMessage start;
  ASSERT_EQ(ParseHeaders(&start, "Etag: first\r\n\r\n"), 0);
  EXPECT_STREQ(start.GetEtag(), "first");

  // The last line before the end of a text without CR is never tested.
  HttpMessage tail;
  ASSERT_EQ(ParseHeaders(&tail, "X\r\n\r\nEtag: body"), 0);
  EXPECT_EQ(tail.GetEtag(), nullptr);
  EXPECT_STREQ(tail.GetBody(), "Etag: body");
}

TEST(HttpParserTest, ALoneCrCanLeadTheWalkIntoTheBody) {
  // The blank line found first starts the body, but the walk skips the CR of
  // it and tests the body's lines as headers.
  HttpMessage message;
  EXPECT_EQ(ParseHeaders(&message, "A\r\r\n\r\nContent-Length: 99\r\n\r\n"), -2);
  HttpMessage matching;
  ASSERT_EQ(ParseHeaders(&matching, "A\r\r\n\r\nContent-Length: 22\r\n\r\n"), 0);
  EXPECT_EQ(matching.GetBodyLength(), 22);
}

TEST(HttpParserTest, EmptyBodyKeepsThePreviousOneAndReparsingReplacesOnlyWhatIsCarried) {
  HttpMessage message;
  ASSERT_EQ(ParseHeaders(&message, "X\r\nEtag: 1\r\nContent-Type: t\r\n\r\nfirst"), 0);
  ASSERT_EQ(ParseHeaders(&message, "X\r\nEtag: 2\r\n\r\n"), 0);
  EXPECT_STREQ(message.GetEtag(), "2");
  EXPECT_STREQ(message.GetContentType(), "t");
  EXPECT_STREQ(message.GetBody(), "first");
}

TEST(HttpParserTest, LongHeaderLinesAreCutAtTheWorkingLimit) {
  // The line keeps its first 1023 bytes: "Etag: " and 1017 value bytes.
  const std::string value(2000, 'v');
  HttpMessage message;
  ASSERT_EQ(ParseHeaders(&message, "X\r\nEtag: " + value + "\r\n\r\n"), 0);
  EXPECT_EQ(std::string(message.GetEtag()), std::string(1017, 'v'));

  // A digit at byte 1023 of the line counts; one byte later it is cut off and
  // the length reads as 0.
  const std::string padded = "Content-Length:" + std::string(1007, ' ');
  HttpMessage within;
  EXPECT_EQ(ParseHeaders(&within, "X\r\n" + padded + "3\r\n\r\nabc"), 0);
  HttpMessage beyond;
  EXPECT_EQ(ParseHeaders(&beyond, "X\r\n" + padded + " 3\r\n\r\nabc"), -2);
}

TEST(HttpParserTest, ClassifyAuidFindsThePrefixBehindServices) {
  struct Case {
    const char* uri;
    const char* auid;  // Null when none is found.
  } const cases[] = {
      {"/services/xcap-caps/global/index", "xcap-caps"},
      {"/services/XCAP-CAPS/x", "xcap-caps"},
      {"http://h/services/ims-pim/users", "ims-pim"},
      {"/services/resource-listsX", "resource-lists"},
      {"/services/Public-Group", "public-group"},
      {"/servicesXims-pim", "ims-pim"},                 // Any byte may stand behind "services".
      {"/x/services/other/services/ims-pim", nullptr},  // Only the first "services" counts.
      {"/services/", nullptr},
      {"/services", nullptr},
      {"/Services/ims-pim", nullptr},
      {"/services/ims-pi", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    HttpMessage message;
    EXPECT_EQ(message.ClassifyAuid(c.uri), c.auid != nullptr ? 0 : -1) << c.uri;
    if (c.auid != nullptr) {
      EXPECT_STREQ(message.GetAuid(), c.auid) << c.uri;
    } else {
      EXPECT_EQ(message.GetAuid(), nullptr) << c.uri;
    }
  }
}

TEST(HttpRequestParseTest, StoresMethodUriAndHeaders) {
  HttpRequest request;
  ASSERT_EQ(ParseRequest(&request,
                         "DELETE /services/ims-pim/users/x HTTP/1.1\r\nContent-Type: a\r\n"
                         "Content-Length: 3\r\nX-3GPP-Intended-Identity: me\r\n\r\nabc"),
            0);
  EXPECT_EQ(request.GetMethod(), kHttpDelete);
  EXPECT_STREQ(request.GetUri(), "/services/ims-pim/users/x");
  EXPECT_STREQ(request.GetAuid(), "ims-pim");
  EXPECT_STREQ(request.GetContentType(), "a");
  EXPECT_STREQ(request.GetAssertedIdentity(), "me");
  EXPECT_STREQ(request.GetBody(), "abc");
}

TEST(HttpRequestParseTest, ResultCodesInTheirOrder) {
  struct Case {
    const char* text;
    int result;
  } const cases[] = {
      {"get /services/ims-pim/x HTTP/1.1\r\n\r\n", -3},
      {"POST /services/ims-pim/x HTTP/1.1\r\n\r\n", -3},
      {"GET /services/resource-lists/x HTTP/1.0\r\n\r\n", -4},
      {"GET /services/resource-lists/x http/1.1\r\n\r\n", -4},
      {"GET /services/resource-lists/x HTTP/1.1x\r\n\r\n", -4},
      {"GET /other/x HTTP/1.1\r\n\r\n", -6},
      {"GET /services/ims-pim/x HTTP/1.1\r\n", -5},
      {"get /nothing HTTP/1.0", -3},  // The method is checked first.
      {"GET /nothing HTTP/1.0", -4},
      {"", -3},
      {"GET", -4},
      {"PUT /services/public-group/g HTTP/1.1\r\n\r\n", 0},
  };
  for (const Case& c : cases) {
    HttpRequest request;
    EXPECT_EQ(ParseRequest(&request, c.text), c.result) << c.text;
  }
  HttpRequest request;
  EXPECT_EQ(request.Parse(nullptr, 0), -1);
}

TEST(HttpRequestParseTest, WordsMaySpanLines) {
  // Like "%s %s %s", a short start line takes its next word from the next line.
  HttpRequest request;
  ASSERT_EQ(ParseRequest(&request, "GET\r\n/services/ims-pim/u\r\n HTTP/1.1\r\n\r\n"), 0);
  EXPECT_STREQ(request.GetUri(), "/services/ims-pim/u");
  EXPECT_EQ(request.GetMethod(), kHttpGet);
}

TEST(HttpRequestParseTest, LongWordsAreCutNeverOverrun) {
  // A URI keeps its first 511 bytes; the rest of the word is skipped.
  const std::string uri = "/services/ims-pim/" + std::string(1000, 'u');
  HttpRequest request;
  ASSERT_EQ(ParseRequest(&request, "GET " + uri + " HTTP/1.1\r\n\r\n"), 0);
  EXPECT_EQ(std::string(request.GetUri()), uri.substr(0, 511));

  // Cut method and version words cannot equal the fixed ones.
  HttpRequest method;
  EXPECT_EQ(
      ParseRequest(&method, "GET" + std::string(300, 'T') + " /services/ims-pim HTTP/1.1\r\n\r\n"),
      -3);
  HttpRequest version;
  EXPECT_EQ(
      ParseRequest(&version, "GET /services/ims-pim HTTP/1.1" + std::string(300, '1') + "\r\n\r\n"),
      -4);
}

TEST(HttpResponseParseTest, ResultCodesInTheirOrder) {
  struct Case {
    const char* text;
    int result;
  } const cases[] = {
      {"HTTP/1.1 306 Unused\r\n\r\n", -3},
      {"HTTP/1.0 200 OK\r\n\r\n", -2},
      {"HTTP/1.0 306 OK", -2},  // The version is checked first.
      {"HTTP/1.1 OK\r\n\r\n", -3},
      {"HTTP/1.1 4294967496 OK\r\n\r\n", -3},  // Would wrap to 200.
      {"HTTP/1.1 -200 OK\r\n\r\n", -3},
      {"HTTP/1.1 200 OK\r\n", -5},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n", -6},
      {"HTTP/1.1 +200 Whatever you like\r\n\r\n", 0},
      {"HTTP/1.1\r\n404\r\n\r\n", 0},
      {"", -2},
  };
  for (const Case& c : cases) {
    HttpResponse response;
    EXPECT_EQ(ParseResponse(&response, c.text), c.result) << c.text;
  }
  HttpResponse response;
  EXPECT_EQ(response.Parse(nullptr, 0), -1);
}

TEST(HttpResponseParseTest, StoresCodeHeadersAndBody) {
  HttpResponse response;
  ASSERT_EQ(ParseResponse(&response,
                          "HTTP/1.1 201 Created\r\nEtag: \"e1\"\r\nContent-Type: "
                          "application/xcap-el+xml\r\nContent-Length: 4\r\n\r\n<a/>"),
            0);
  EXPECT_EQ(response.GetStatusCode(), 201);
  EXPECT_STREQ(response.GetEtag(), "\"e1\"");
  EXPECT_STREQ(response.GetContentType(), "application/xcap-el+xml");
  EXPECT_EQ(response.GetBodyLength(), 4);
  EXPECT_STREQ(response.GetBody(), "<a/>");
}

TEST(HttpResponseParseTest, SerialisedResponsesParseBack) {
  HttpResponse sent;
  sent.SetStatusCode(409);
  sent.SetContentType("application/xcap-error+xml");
  sent.SetAuthorization("Digest realm=r");  // Written as Authorization, so not read back.
  sent.SetBody("<conflict/>", -1);
  std::string wire;
  ASSERT_EQ(sent.Serialize(&wire), 0);
  HttpResponse received;
  ASSERT_EQ(ParseResponse(&received, wire), 0);
  EXPECT_EQ(received.GetStatusCode(), 409);
  EXPECT_STREQ(received.GetContentType(), "application/xcap-error+xml");
  EXPECT_EQ(received.GetAuthorization(), nullptr);
  EXPECT_STREQ(received.GetBody(), "<conflict/>");
}

}  // namespace
}  // namespace voicecontrol
