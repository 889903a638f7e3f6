#include "printing_sink.h"

#include <cstdio>

#include "text.h"

namespace voicectl {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

namespace {
// Readable form of one value: quoted, so empty values and blanks show.
std::string Quoted(const std::wstring& value) { return JsonString(Utf8(value)); }
}  // namespace

void PrintingSink::OnError(std::wstring text) {
  // Readable only now, on this thread, while OnError runs.
  const std::string detail = voicecontrol::ErrorDetail();
  std::lock_guard<std::mutex> lock(mutex_);
  ++errors_;
  ++callbacks_;
  if (json_) {
    out_ << "{\"callback\":\"OnError\",\"text\":" << Quoted(text)
         << ",\"detail\":" << JsonString(detail) << "}\n"
         << std::flush;
  }
  err_ << "error: " << Utf8(text) << (detail.empty() ? "" : " (" + detail + ")") << "\n"
       << std::flush;
}

void PrintingSink::OnCommandResult(int flowId, int code, std::wstring text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++callbacks_;
  if (code != 0) ++failedResults_;
  if (json_) {
    out_ << "{\"callback\":\"OnCommandResult\",\"flowId\":" << flowId << ",\"code\":" << code
         << ",\"text\":" << Quoted(text) << "}\n";
  } else {
    out_ << "OnCommandResult flowId=" << flowId << " code=" << code << " text=" << Quoted(text)
         << "\n";
  }
  out_ << std::flush;
}

void PrintingSink::OnQAllEmpty() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++callbacks_;
  out_ << (json_ ? "{\"callback\":\"OnQAllEmpty\"}\n" : "OnQAllEmpty\n") << std::flush;
}

void PrintingSink::OnEntry(voicecontrol::QAllEntry entry) {
  // Items are comma-terminated on the wire. The library splits the lists
  // of several entries at the commas but hands over a single entry as it
  // came, commas included (no item holds one of its own), so printing
  // drops a trailing comma and both cases read alike.
  for (std::wstring& value : entry) {
    if (!value.empty() && value.back() == L',') value.pop_back();
  }
  PrintValues("OnQAllEntry", entry.data(), entry.size());
}

void PrintingSink::OnValues(voicecontrol::QSingleValues values) {
  PrintValues("OnQSingleResult", values.data(), values.size());
}

void PrintingSink::PrintValues(const char* callback, const std::wstring* values, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++callbacks_;
  if (json_) {
    out_ << "{\"callback\":\"" << callback << "\",\"values\":[";
    for (size_t i = 0; i < count; ++i) out_ << (i ? "," : "") << Quoted(values[i]);
    out_ << "]}\n";
  } else {
    out_ << callback;
    for (size_t i = 0; i < count; ++i) out_ << " " << Quoted(values[i]);
    out_ << "\n";
  }
  out_ << std::flush;
}

int PrintingSink::errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

int PrintingSink::failedResults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failedResults_;
}

int PrintingSink::callbacks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return callbacks_;
}

}  // namespace voicectl
