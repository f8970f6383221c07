#include "binlog_reader.h"

#include <cstdio>
#include <ctime>

namespace binlog {
namespace {

constexpr char kKey[] = "7E19C0A4D25B3f87A60C14E9B38D5F21";

// Payload layouts by tag: b byte, u u32, s string, k block, z u32 that is always 0.
struct Layout {
  uint32_t tag;
  const char* kind;
  const char* fields;
};
constexpr Layout kLayouts[] = {
    {0xACFFA196, "session-info", "sssbb"},  {0x4543B1A4, "process-info", "uussss"},
    {0x349FF25B, "exit-code", "u"},         {0x6AF92F1D, "message", "bssu"},
    {0x50509074, "thread-start", "us"},     {0xF270708A, "thread-end", ""},
    {0xDF96AABD, "text", "s"},              {0xB47EEAE7, "text-pair", "ss"},
    {0x4EB2A8BE, "text-numbers", "suu"},    {0x22CFDBC4, "note", "s"},
    {0xC7B31FF6, "marker", ""},             {0xC65F1E57, "numbered-text", "usu"},
    {0x98860155, "value", "u"},             {0x16377E0D, "tagged-text", "uus"},
    {0xB32E133F, "counter", "u"},           {0xB4824A97, "key-value", "ss"},
    {0x208CD413, "name-value", "ss"},       {0x1E335351, "triple", "uuu"},
    {0xC03E20EA, "blob", "sk"},
};

const char* kLevelNames[] = {"ERROR", "WARN", "NOTICE", "INFO"};

uint32_t U32At(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24);
}

// Reads one payload according to `layout`; false when the payload is malformed.
bool ReadFields(const std::string& payload, const char* layout, std::vector<Field>& fields) {
  size_t at = 0;
  for (const char* f = layout; *f != 0; ++f) {
    Field field;
    if (*f == 'b') {
      if (at + 1 > payload.size()) return false;
      field.kind = Field::Kind::kByte;
      field.number = static_cast<uint8_t>(payload[at++]);
    } else if (*f == 'u' || *f == 'z') {
      if (at + 4 > payload.size()) return false;
      field.number = U32At(payload, at);
      at += 4;
    } else {
      if (at + 4 > payload.size()) return false;
      const uint32_t n = U32At(payload, at);
      at += 4;
      const bool isString = *f == 's';
      if (n > payload.size() - at || (isString && n + 1 > payload.size() - at)) return false;
      field.kind = isString ? Field::Kind::kString : Field::Kind::kBlock;
      field.text.resize(n);
      for (uint32_t i = 0; i < n; ++i) field.text[i] = static_cast<char>(payload[at + i] ^ kKey[i % 32]);
      at += n;
      if (isString) {
        if (payload[at] != 0) return false;
        ++at;
      }
    }
    fields.push_back(field);
  }
  return at == payload.size();
}

void JsonString(std::string& out, const std::string& text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

}  // namespace

ReadResult Parse(const std::string& bytes) {
  ReadResult result;
  size_t at = 0;
  uint32_t partThread = 0;
  std::string partName;
  while (at < bytes.size()) {
    if (bytes.size() - at < 16) {
      result.error = "truncated record header at byte " + std::to_string(at);
      break;
    }
    Record record;
    record.tag = U32At(bytes, at);
    const uint32_t length = U32At(bytes, at + 4);
    record.fileTime = U32At(bytes, at + 8) | (static_cast<uint64_t>(U32At(bytes, at + 12)) << 32);
    if (length > bytes.size() - at - 16) {
      result.error = "truncated record payload at byte " + std::to_string(at);
      break;
    }
    const std::string payload = bytes.substr(at + 16, length);
    record.kind = "unknown";
    for (const Layout& layout : kLayouts) {
      if (layout.tag != record.tag) continue;
      record.kind = layout.kind;
      if (!ReadFields(payload, layout.fields, record.fields)) {
        result.error = "malformed " + record.kind + " record at byte " + std::to_string(at);
        return result;
      }
    }
    if (record.kind == "unknown") {
      Field raw;
      raw.kind = Field::Kind::kBlock;
      raw.text = payload;
      record.fields.push_back(raw);
    }
    if (record.kind == "thread-start") {
      partThread = record.fields[0].number;
      partName = record.fields[1].text;
    }
    record.partThreadId = partThread;
    record.partName = partName;
    result.records.push_back(record);
    at += 16 + length;
  }
  return result;
}

std::string FormatTime(uint64_t fileTime) {
  const uint64_t unix100ns = fileTime - 116444736000000000ULL;
  const time_t seconds = static_cast<time_t>(unix100ns / 10000000ULL);
  const unsigned millis = static_cast<unsigned>((unix100ns / 10000ULL) % 1000ULL);
  struct tm utc = {};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03uZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return text;
}

std::string ToText(const Record& record) {
  std::string line = FormatTime(record.fileTime) + " [" + std::to_string(record.partThreadId) + "] ";
  if (record.kind == "message") {
    const int level = record.Level();
    line += level >= 0 && level < 4 ? kLevelNames[level] : ("L" + std::to_string(level));
    line += " " + record.Source() + ":" + std::to_string(record.Line()) + " " + record.Message();
    return line;
  }
  line += record.kind;
  for (const Field& field : record.fields) {
    line += ' ';
    if (field.kind == Field::Kind::kString) {
      line += "\"" + field.text + "\"";
    } else if (field.kind == Field::Kind::kBlock) {
      line += "<" + std::to_string(field.text.size()) + " bytes>";
    } else {
      line += std::to_string(field.number);
    }
  }
  return line;
}

std::string ToJson(const std::vector<Record>& records) {
  std::string out = "[";
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    out += i == 0 ? "\n  {" : ",\n  {";
    out += "\"kind\": ";
    JsonString(out, r.kind);
    char tag[16];
    std::snprintf(tag, sizeof tag, "0x%08X", r.tag);
    out += ", \"tag\": \"" + std::string(tag) + "\", \"time\": ";
    JsonString(out, FormatTime(r.fileTime));
    out += ", \"thread\": " + std::to_string(r.partThreadId) + ", \"part\": ";
    JsonString(out, r.partName);
    if (r.kind == "message") {
      out += ", \"level\": " + std::to_string(r.Level()) + ", \"source\": ";
      JsonString(out, r.Source());
      out += ", \"line\": " + std::to_string(r.Line()) + ", \"message\": ";
      JsonString(out, r.Message());
    } else {
      out += ", \"fields\": [";
      for (size_t f = 0; f < r.fields.size(); ++f) {
        if (f > 0) out += ", ";
        const Field& field = r.fields[f];
        if (field.kind == Field::Kind::kString) {
          JsonString(out, field.text);
        } else if (field.kind == Field::Kind::kBlock) {
          out += "{\"bytes\": " + std::to_string(field.text.size()) + "}";
        } else {
          out += std::to_string(field.number);
        }
      }
      out += "]";
    }
    out += "}";
  }
  out += records.empty() ? "]\n" : "\n]\n";
  return out;
}

}  // namespace binlog
